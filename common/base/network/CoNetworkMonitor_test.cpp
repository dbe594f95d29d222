// The network layer against the real system: real enumeration, the monitor thread and its
// netlink subscription. Tests that change interfaces run only as root inside a private network
// namespace (scripts/in-netns.sh), never on a real host network.
#include "network/CoNetworkMonitor.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "network/CoInterfaceEnumerator.h"
#include "network/CoNetwork.h"
#include "network/CoNetworkDispatcher.h"
#include "network/NetworkTestSupport.h"
#include "testing/MessageCapture.h"
#include "threads/CoThreadMgr.h"

extern char** environ;

namespace Vantrel {
namespace {

using testing::ScratchNetworkConfig;

int threadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
    return count;
}

// The kernel lets a joined thread go a moment after the join returns: waits (up to 2 s) for
// the count to come down to `expected`, and returns the last count seen.
int settledThreadCount(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = threadCount();
    }
    return count;
}

std::string networkNamespaceOf(const std::string& process) {
    char target[64] = {};
    const std::string link = "/proc/" + process + "/ns/net";
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

pid_t parentOf(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t end = line.rfind(')');
    if (end == std::string::npos) return 0;
    std::istringstream fields(line.substr(end + 1));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    return parent;
}

// True when some ancestor that we may look at lives in another network namespace: ours is
// then a private one, not the host's (the first process may be out of reach, even for root).
bool inPrivateNetworkNamespace() {
    const std::string own = networkNamespaceOf("self");
    if (own.empty()) return false;
    for (pid_t process = getppid(); process > 0; process = parentOf(process)) {
        const std::string other = networkNamespaceOf(std::to_string(process));
        if (!other.empty() && other != own) return true;
        if (process == 1) break;
    }
    return false;
}

// Runs `ip` with `args`; its exit status (-1 when it could not be run).
int runIp(std::vector<std::string> args) {
    args.insert(args.begin(), "ip");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A veth pair that lives as long as the object.
class VethPair {
public:
    VethPair(const char* name, const char* peer) : name_(name) {
        created_ = runIp({"link", "add", name, "type", "veth", "peer", "name", peer}) == 0;
    }
    ~VethPair() {
        if (created_) runIp({"link", "del", name_});
    }
    bool created() const { return created_; }

private:
    std::string name_;
    bool created_;
};

// Waits (bounded) for the event a dispatcher observer expects.
class EventWaiter : public CoNetworkDispatcher::Observer {
public:
    void notify(CoNetworkDispatcher::Event event,
                const CoNetworkInterface& networkInterface) override {
        std::lock_guard<std::mutex> lock(mutex_);
        heard_.push_back(std::string(event == CoNetworkDispatcher::INTERFACE_ADDED ? "+" : "-") +
                         networkInterface.getName() + " " + networkInterface.getIP());
        changed_.notify_all();
    }

    bool waitFor(const std::string& event) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            for (const std::string& heard : heard_)
                if (heard == event) return true;
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> heard_;
};

TEST(CoNetworkSystem, RealEnumerationListsLoopback) {
    std::vector<CoRawInterface> raws;
    std::string error;
    ASSERT_TRUE(CoInterfaceEnumerator::system().enumerate(raws, error)) << error;

    ScratchNetworkConfig config;
    CoNetworkDispatcher dispatcher(0, nullptr, config.get());
    std::vector<CoNetworkInterface> interfaces;
    ASSERT_TRUE(dispatcher.getInterfaces(interfaces, CoNetworkDispatcher::ALL,
                                         CoNetworkDispatcher::IPv4Filter));
    bool found = false;
    for (const CoNetworkInterface& networkInterface : interfaces)
        if (networkInterface.getName() == "lo" && networkInterface.getIP() == "127.0.0.1") {
            found = true;
            EXPECT_TRUE(networkInterface.hasAttributes(CoNetworkInterface::LOOPBACK |
                                                       CoNetworkInterface::IPV4));
            EXPECT_EQ("255.0.0.0", networkInterface.getNetmask());
        }
    EXPECT_TRUE(found) << "no lo 127.0.0.1 among " << interfaces.size() << " addresses";
}

TEST(CoNetworkSystem, InitAndUninitLeaveNoThreadBehind) {
    CoThreadMgr& threads = CoThreadMgr::getInstance();
    const int before = threadCount();
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(CoNetwork::init());
        ASSERT_TRUE(CoNetwork::init());   // counted: the second starts nothing
        EXPECT_TRUE(CoNetwork::isInitialized());
        EXPECT_NE(nullptr, threads.findThread(CoNetworkMonitor::THREAD_NAME));
        ASSERT_TRUE(CoNetwork::uninit());
        EXPECT_TRUE(CoNetworkMonitor::getInstance().isRunning());
        ASSERT_TRUE(CoNetwork::uninit());
        EXPECT_FALSE(CoNetwork::isInitialized());
    }
    EXPECT_EQ(nullptr, threads.findThread(CoNetworkMonitor::THREAD_NAME));
    EXPECT_EQ(before, settledThreadCount(before));

    testing::MessageCapture messages;
    EXPECT_FALSE(CoNetwork::uninit());
    EXPECT_TRUE(messages.contains("Could not uninitialize network: not initialized"));
    EXPECT_FALSE(CoNetwork::isInitialized());
}

TEST(CoNetworkSystem, AddressChangeReachesTheDispatcherObservers) {
    if (geteuid() != 0 || !inPrivateNetworkNamespace())
        GTEST_SKIP() << "needs root in a private network namespace (scripts/in-netns.sh)";
    CoNetwork::Guard network;
    ScratchNetworkConfig config;
    EventWaiter waiter;   // outlives the dispatcher, which may call it until its end
    CoNetworkDispatcher dispatcher(1, nullptr, config.get());
    dispatcher.addObserver(&waiter);
    ASSERT_TRUE(dispatcher.refresh(false));

    {
        VethPair veth("vtA", "vtB");
        ASSERT_TRUE(veth.created());
        ASSERT_EQ(0, runIp({"link", "set", "vtA", "up"}));
        ASSERT_EQ(0, runIp({"addr", "add", "10.213.0.1/24", "dev", "vtA"}));
        EXPECT_TRUE(waiter.waitFor("+vtA 10.213.0.1"));
    }
    EXPECT_TRUE(waiter.waitFor("-vtA 10.213.0.1"));
}

}  // namespace
}  // namespace Vantrel
