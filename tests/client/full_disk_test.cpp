// vantreld on a full disk: a small tmpfs that only the server's processes see. Writes fail with
// the system's reason, nothing acknowledged is lost, no temporary file is left behind, reads go
// on, writes succeed again once space is freed, and a restart loads the same tree.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using client_testing::TempDir;
using vantrel_testing::ClientScope;
using vantreld::testing::VantreldProcess;

const char* const OPENING = "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening";
const std::string NO_SPACE = std::strerror(ENOSPC);

// A tmpfs of `size` at `mountPoint` in a private mount namespace, kept by a holder process
// that other processes join (launcher()); the test reaches its files through the holder's
// root (seen()). Needs the right to mount (root in the test's namespaces).
class PrivateTmpfs {
public:
    PrivateTmpfs(const std::string& mountPoint, const std::string& size) {
        const std::string command =
            "unshare -m --propagation private sh -c 'mount -t tmpfs -o size=" + size +
            " vantrel-full \"" + mountPoint + "\" && echo $$ && exec sleep 3600' 2>/dev/null";
        holder_ = ::popen(command.c_str(), "r");
        char line[32];
        if (holder_ != nullptr && std::fgets(line, sizeof line, holder_) != nullptr)
            pid_ = std::atoi(line);
    }
    ~PrivateTmpfs() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        if (holder_ != nullptr) ::pclose(holder_);
    }
    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;

    bool ok() const { return pid_ > 0; }
    std::vector<std::string> launcher() const {
        return {"nsenter", "-t", std::to_string(pid_), "-m", "--"};
    }
    // `path`, a path inside the mount, as this process reaches it.
    std::string seen(const std::string& path) const {
        return "/proc/" + std::to_string(pid_) + "/root" + path;
    }

private:
    FILE* holder_ = nullptr;
    int pid_ = -1;
};

// Writes zeros to `path` until the disk is full.
void fillUp(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    const std::vector<char> page(4096, 0);
    while (std::fwrite(page.data(), 1, page.size(), file) == page.size() &&
           std::fflush(file) == 0) {
    }
    std::fclose(file);
}

// Names under `root` of temporary files or folders (".tmp" at the end).
std::vector<std::string> temporaries(const std::string& root) {
    static std::vector<std::string>* found;
    std::vector<std::string> names;
    found = &names;
    ::nftw(
        root.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) {
            const std::string name = path;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
                found->push_back(name);
            return 0;
        },
        16, FTW_PHYS);
    return names;
}

// vantreld on the tree `tree` inside `disk`, on ports kept across restarts.
class ServerOnDisk {
public:
    ServerOnDisk(const PrivateTmpfs& disk, const std::string& tree)
        : disk_(disk),
          tree_(tree),
          port_(client_testing::freeLoopbackPort()),
          framePort_(client_testing::freeLoopbackPort()) {}
    bool restart() {
        process_.reset();
        for (int attempt = 0; attempt < 50; ++attempt) {
            process_.reset(new VantreldProcess({"--port", std::to_string(port_), "--frame-port",
                                                std::to_string(framePort_), tree_},
                                               disk_.launcher()));
            if (process_->waitUntilReady() > 0) return true;
            ::usleep(100000);
        }
        return false;
    }
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    const PrivateTmpfs& disk_;
    const std::string tree_;
    const int port_, framePort_;
    std::unique_ptr<VantreldProcess> process_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The clip "Opening" through a fresh handle (nothing cached).
VantrelNodeHandle opening(const VantrelServerHandle& server) {
    VantrelNodeHandle clip;
    VantrelResolveDisplayPath(server, OPENING, clip);
    return clip;
}

std::string metadata(const VantrelNodeHandle& node, const std::string& stream) {
    VantrelStr data;
    return node.getMetaData(stream.c_str(), nullptr, 0, data) ? data.c_str() : "(unreadable)";
}

TEST(FullDisk, WritesFailClearlyNothingAcknowledgedIsLostAndFreedSpaceIsUsedAgain) {
    TempDir dir;
    const std::string mount = dir / "disk", tree = mount + "/tree";
    ASSERT_EQ(0, ::mkdir(mount.c_str(), 0755));
    PrivateTmpfs disk(mount, "2m");
    if (!disk.ok())
        GTEST_SKIP() << "mounting a tmpfs in a private mount namespace is not permitted here "
                        "(needs CAP_SYS_ADMIN where the test runs)";
    ASSERT_EQ(0, VantreldProcess({"--init-sample", tree}, disk.launcher()).waitForExit(20000));
    const std::string ballast = disk.seen(mount + "/ballast");
    std::ofstream(ballast) << std::string(512 * 1024, 'b');
    ServerOnDisk server(disk, tree);
    ASSERT_TRUE(server.restart());
    ClientScope client;
    VantrelServerHandle handle(server.id().c_str());
    VantrelNodeHandle clip = opening(handle);
    int streamsBefore = 0;
    ASSERT_TRUE(clip.getNumAvailableMetaDataStreams(streamsBefore)) << handle.lastError();

    // Metadata until the disk is full, then the rest of it taken: every kind of write fails.
    std::map<std::string, std::string> acknowledged;
    std::string failure;
    for (int i = 0; i < 200 && failure.empty(); ++i) {
        const std::string name = "fill" + std::to_string(i);
        const std::string data(32768, static_cast<char>('a' + i % 26));
        if (clip.setMetaData(name.c_str(), data.c_str()))
            acknowledged[name] = data;
        else
            failure = handle.lastError();
    }
    EXPECT_TRUE(contains(failure, NO_SPACE)) << failure;
    ASSERT_FALSE(acknowledged.empty());
    fillUp(disk.seen(mount + "/filler"));
    VantrelNodeHandle volume, project;
    ASSERT_TRUE(VantrelResolveDisplayPath(handle, "/Volume 1", volume)) << handle.lastError();
    EXPECT_FALSE(volume.createNode("Later", "PROJECT", project));
    EXPECT_TRUE(contains(handle.lastError(), NO_SPACE)) << handle.lastError();
    const std::vector<char> frame(65536, 'f');
    EXPECT_FALSE(clip.writeFrame(1, frame.data(), static_cast<int>(frame.size())));
    EXPECT_TRUE(contains(handle.lastError(), NO_SPACE)) << handle.lastError();
    EXPECT_FALSE(clip.setMetaData("small", "x"));
    EXPECT_TRUE(contains(handle.lastError(), NO_SPACE)) << handle.lastError();

    // Reads go on; what was acknowledged is whole; nothing half-written is left.
    for (const auto& stream : acknowledged)
        EXPECT_EQ(stream.second, metadata(opening(handle), stream.first)) << stream.first;
    char bytes[96];
    EXPECT_TRUE(clip.readFrame(0, bytes, sizeof bytes, true)) << handle.lastError();
    EXPECT_EQ(std::vector<std::string>{}, temporaries(disk.seen(tree)));

    // Space freed: writes succeed again.
    ASSERT_EQ(0, std::remove(ballast.c_str()));
    EXPECT_TRUE(clip.setMetaData("after", "freed")) << handle.lastError();
    EXPECT_TRUE(volume.createNode("Later", "PROJECT", project)) << handle.lastError();
    EXPECT_TRUE(clip.writeFrame(1, frame.data(), static_cast<int>(frame.size())))
        << handle.lastError();

    // A restart loads the same tree: every acknowledged write, no failed one.
    ASSERT_TRUE(server.restart());
    const VantrelNodeHandle reloaded = opening(handle);
    int streamsAfter = 0;
    ASSERT_TRUE(VantrelNodeHandle(reloaded).getNumAvailableMetaDataStreams(streamsAfter))
        << handle.lastError();
    EXPECT_EQ(streamsBefore + static_cast<int>(acknowledged.size()) + 1, streamsAfter);
    for (const auto& stream : acknowledged)
        EXPECT_EQ(stream.second, metadata(reloaded, stream.first)) << stream.first;
    EXPECT_EQ("freed", metadata(reloaded, "after"));
    VantrelNodeHandle later;
    EXPECT_TRUE(VantrelResolveDisplayPath(handle, "/Volume 1/Later", later)) << handle.lastError();
    std::vector<char> readBack(frame.size());
    EXPECT_TRUE(VantrelNodeHandle(reloaded).readFrame(1, readBack.data(),
                                                      static_cast<int>(readBack.size()), true))
        << handle.lastError();
    EXPECT_EQ(frame, readBack);
}

}  // namespace
