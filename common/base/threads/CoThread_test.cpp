#include "threads/CoThread.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ipc/CoConditionSignal.h"
#include "testing/MessageCapture.h"
#include "threads/CoTask.h"
#include "threads/CoThreadMgr.h"

using namespace Vantrel;
using Vantrel::testing::MessageCapture;

namespace {

using Body = std::function<void()>;
void runBody(void* body) { (*static_cast<Body*>(body))(); }

unsigned gettidNow() { return static_cast<unsigned>(syscall(SYS_gettid)); }

int niceOf(unsigned tid) {
    errno = 0;
    return getpriority(PRIO_PROCESS, tid);
}

// Takes CAP_SYS_NICE out of the calling thread's effective capabilities (capabilities belong
// to each thread on Linux), so that it meets the refusals an unprivileged process meets.
void dropNicePrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

// Processors this process may use.
std::vector<int> usableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    return cpus;
}

class CoThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFilter_ = CoMsg::filterLevel();
        CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);
        savedDebug_ = CoThread::debugEnabled();
        CoThread::setDebugEnabled(false);
        mgr_ = &CoThreadMgr::getInstance();
    }
    void TearDown() override {
        CoThread::resetPriorityTables();
        CoThread::setDebugEnabled(savedDebug_);
        CoMsg::setFilterLevel(savedFilter_);
    }

    // Runs `body` on a new registered thread and waits for its end.
    void runOnThread(const char* name, Body body) {
        CoThreadMgr::createThread(name, runBody, &body, true).join();
    }

    MessageCapture capture_;
    CoThreadMgr* mgr_ = nullptr;
    CoMsg::Level savedFilter_ = CoMsg::NOTICE_LEVEL;
    bool savedDebug_ = false;
};

TEST(CoThreadPriorityTables, LevelsMapBothWays) {
    struct Row {
        int osPriority;
        CoThread::PriorityType level;
    };
    // Exact values give their first level; others the nearest.
    const Row rows[] = {
        {-15, 0}, {-2, 1}, {-1, 2}, {0, 4}, {1, 5}, {2, 7}, {15, 9},
        {-20, 0}, {-5, 1}, {5, 7}, {10, 9}, {19, 9}, {-8, 1}, {-9, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CoThread::levelOf(CoThread::TIME_SHARING, row.osPriority), row.level)
            << row.osPriority;
        EXPECT_EQ(CoThread::levelOf(CoThread::ROUND_ROBIN, row.osPriority), row.level)
            << row.osPriority;
    }
    EXPECT_EQ(CoThread::osPriority(CoThread::TIME_SHARING, 3), -1);
    EXPECT_EQ(CoThread::osPriority(CoThread::ROUND_ROBIN, 9), 15);
}

TEST(CoThreadPriorityTables, ReplacingTablesChangesEachPolicySeparately) {
    const int rr[CoThread::NUM_PRIO_LEVELS] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const int ts[CoThread::NUM_PRIO_LEVELS] = {-9, -7, -5, -3, -1, 1, 3, 5, 7, 9};
    CoThreadMgr::getInstance().setPriorityTables(rr, ts);
    EXPECT_EQ(CoThread::osPriority(CoThread::ROUND_ROBIN, 0), 1);
    EXPECT_EQ(CoThread::osPriority(CoThread::TIME_SHARING, 0), -9);
    EXPECT_EQ(CoThread::levelOf(CoThread::ROUND_ROBIN, 10), 9);
    EXPECT_EQ(CoThread::levelOf(CoThread::TIME_SHARING, 10), 9);
    EXPECT_EQ(CoThread::levelOf(CoThread::TIME_SHARING, -3), 3);
    CoThread::resetPriorityTables();
    EXPECT_EQ(CoThread::osPriority(CoThread::TIME_SHARING, 0), -15);
}

// A task that runs until it is asked to stop, and reports its hooks.
class StoppableTask : public CoTask {
public:
    void attach(CoThread* thread) override { attached = thread; }
    void detach(CoThread* thread) override {
        if (detachedFlag != nullptr) *detachedFlag = thread == attached;
    }
    void run(CoThread* thread) override {
        ranOn = thread;
        signal.lock();
        while (!stopping) signal.waitForSignal();
        signal.unlock();
    }
    void stop(CoThread*) override {
        signal.lock();
        stopping = true;
        signal.signal();
        signal.unlock();
    }

    CoThread* attached = nullptr;
    CoThread* ranOn = nullptr;
    bool* detachedFlag = nullptr;
    CoConditionSignal signal;
    bool stopping = false;
};

TEST_F(CoThreadTest, StopAsksTheTaskAndTheThreadOwnsIt) {
    bool detached = false;
    auto* task = new StoppableTask;
    task->detachedFlag = &detached;
    CoThread* thread = mgr_->createThread(task, "stoppable", CoThread::NEW_THREAD, false);
    EXPECT_EQ(task->attached, thread);
    EXPECT_EQ(thread->getCoTask(), task);
    thread->start();
    EXPECT_TRUE(thread->isRunning());
    thread->stop();
    thread->join();
    EXPECT_FALSE(thread->isRunning());
    EXPECT_EQ(task->ranOn, thread);
    delete thread;
    EXPECT_TRUE(detached);
}

TEST_F(CoThreadTest, JoinAndKillOfANeverStartedThreadReturnAtOnce) {
    CoThread* thread = mgr_->createThread(new StoppableTask, "idle", CoThread::NEW_THREAD, false);
    thread->join();
    thread->kill();
    EXPECT_FALSE(thread->isRunning());
    EXPECT_EQ(thread->getThreadId(), 0u);
    // A thread that does not run only records its scheduling and processor.
    EXPECT_EQ(thread->setScheduling(7, CoThread::ROUND_ROBIN), 0);
    EXPECT_EQ(thread->getPriority(), 7);
    EXPECT_EQ(thread->getPolicy(), CoThread::ROUND_ROBIN);
    EXPECT_EQ(thread->setCpu(1, true), 0);
    EXPECT_EQ(thread->getCpu(), 1);
    delete thread;
}

TEST_F(CoThreadTest, JobExecThreadsRegisterSilentlyUnlessDebugging) {
    struct Row {
        const char* name;
        bool debug;
        bool notice;
    };
    const Row rows[] = {
        {"Render Job Exec 1", false, false},
        {"Render Job Exec 2", true, true},
        {"Render job exec 3", false, true},
        {"worker", false, true},
    };
    for (const Row& row : rows) {
        CoThread::setDebugEnabled(row.debug);
        capture_.clear();
        Body nothing = [] {};
        CoThread& thread = CoThreadMgr::createThread(row.name, runBody, &nothing, false);
        thread.join();
        const std::string notice =
            "Registered thread '" + std::string(row.name) + "' [ " + std::to_string(thread.getThreadId()) + " ]";
        EXPECT_EQ(capture_.contains(notice), row.notice) << row.name;
        EXPECT_EQ(capture_.contains("Finished running thread '" + std::string(row.name) + "'"), row.debug);
        delete &thread;
    }
}

TEST_F(CoThreadTest, LevelThreeReadsBackAsLevelTwo) {
    runOnThread("level three", [] {
        CoThread* self = CoThreadMgr::findCurrentThread();
        ASSERT_NE(self, nullptr);
        ASSERT_EQ(self->setScheduling(3, CoThread::TIME_SHARING), 0);
        EXPECT_EQ(niceOf(gettidNow()), 1);
        EXPECT_EQ(self->getPriority(), 2);
        EXPECT_EQ(self->recordedPriority(), 3);
    });
    // The same for a thread without an object.
    std::thread plain([] {
        ASSERT_EQ(CoThread::setSchedulingForCurrentThread(3, CoThread::TIME_SHARING), 0);
        CoThread::PriorityType level;
        CoThread::PolicyType policy;
        CoThread::getSchedulingForCurrentThread(level, policy);
        EXPECT_EQ(level, 2);
        EXPECT_EQ(policy, CoThread::TIME_SHARING);
    });
    plain.join();
}

TEST_F(CoThreadTest, SchedulingDebugMessages) {
    CoThread::setDebugEnabled(true);
    std::string id;
    runOnThread("chatty", [&] {
        CoThread* self = CoThreadMgr::findCurrentThread();
        id = std::to_string(self->getThreadId());
        ASSERT_EQ(self->setScheduling(2, CoThread::TIME_SHARING), 0);
    });
    EXPECT_TRUE(capture_.contains("Creating thread 'chatty' with inherited policy TS, prio "));
    EXPECT_TRUE(capture_.contains("Thread 'chatty' [ " + id + " ] : setting priority/policy to 2/0"));
    EXPECT_TRUE(capture_.contains("Thread 'chatty' [ " + id + " ] : set thread priority/policy to -1/0"));
    EXPECT_TRUE(capture_.contains("Finished running thread 'chatty'"));
}

TEST_F(CoThreadTest, ANewThreadInheritsItsRunningCreatorsScheduling) {
    CoThread::setDebugEnabled(true);
    CoThread::PriorityType childLevel = -1;
    runOnThread("parent", [&] {
        ASSERT_EQ(CoThreadMgr::findCurrentThread()->setScheduling(0, CoThread::TIME_SHARING), 0);
        Body child = [&] { childLevel = CoThreadMgr::findCurrentThread()->getPriority(); };
        CoThreadMgr::createThread("child", runBody, &child, true).join();
    });
    EXPECT_EQ(childLevel, 0);
    EXPECT_TRUE(capture_.contains("Creating thread 'child' with inherited policy TS, prio -15, cpu -1\n"));
    EXPECT_FALSE(capture_.contains("unmanaged"));
}

TEST_F(CoThreadTest, AThreadMadeFromAnUnmanagedThreadInheritsWhatTheSystemReports) {
    CoThread::PriorityType childLevel = -1;
    unsigned creatorTid = 0;
    std::thread unmanaged([&] {
        creatorTid = gettidNow();
        ASSERT_EQ(setpriority(PRIO_PROCESS, creatorTid, 15), 0);   // level 0
        Body child = [&] { childLevel = CoThreadMgr::findCurrentThread()->getPriority(); };
        CoThreadMgr::createThread("from unmanaged", runBody, &child, true).join();
    });
    unmanaged.join();
    EXPECT_EQ(childLevel, 0);
    EXPECT_TRUE(capture_.contains("Creating a CoThread from an unmanaged thread ID: " +
                                  std::to_string(creatorTid) + "\n"));
}

TEST_F(CoThreadTest, AThreadMadeByTheMainThreadInheritsItsRecordedValues) {
    const std::vector<int> cpus = usableCpus();
    if (cpus.size() < 2) GTEST_SKIP() << "needs two usable processors";
    CoThread* main = mgr_->findMainThread();
    ASSERT_NE(main, nullptr);
    // Recorded only: the main thread itself keeps every processor.
    ASSERT_EQ(main->setCpu(cpus[1], false), 0);
    int childCpu = -2;
    Body child = [&] { childCpu = CoThreadMgr::findCurrentThread()->getCpu(); };
    CoThreadMgr::createThread("from main", runBody, &child, true).join();
    main->setCpu(-1, false);
    EXPECT_EQ(childCpu, cpus[1]);
    EXPECT_EQ(main->getCpu(), -1);
}

TEST_F(CoThreadTest, SetCpuMovesARunningThreadAndMinusOneRestoresTheProcessMask) {
    const std::vector<int> cpus = usableCpus();
    if (cpus.size() < 2) GTEST_SKIP() << "needs two usable processors";
    runOnThread("pinned", [&] {
        CoThread* self = CoThreadMgr::findCurrentThread();
        ASSERT_EQ(self->setCpu(cpus[1], true), 0);
        EXPECT_EQ(self->getCpu(), cpus[1]);
        EXPECT_EQ(CoThread::getCpuForCurrentThread(), cpus[1]);
        EXPECT_EQ(sched_getcpu(), cpus[1]);
        ASSERT_EQ(self->setCpu(-1, true), 0);
        EXPECT_EQ(self->getCpu(), -1);
        EXPECT_EQ(usableCpus(), cpus);
        // A processor that cannot exist is refused and changes nothing.
        EXPECT_EQ(self->setCpu(-5, true), EINVAL);
        EXPECT_EQ(self->recordedCpu(), -1);
    });
    EXPECT_TRUE(capture_.contains("Unable to set thread cpu affinity to -5: " + std::to_string(EINVAL)));
}

TEST_F(CoThreadTest, OnlyTheMainThreadMayChangeThePolicy) {
    runOnThread("not main", [] {
        CoThread* self = CoThreadMgr::findCurrentThread();
        EXPECT_EQ(self->setScheduling(2, CoThread::ROUND_ROBIN), 0);
        EXPECT_EQ(self->getPolicy(), CoThread::TIME_SHARING);
        EXPECT_EQ(self->recordedPolicy(), CoThread::TIME_SHARING);
        // The priority is applied all the same.
        EXPECT_EQ(self->getPriority(), 2);
    });
    EXPECT_TRUE(capture_.contains(
        "Cannot set scheduling of thread. Must be the main thread to be able to change policy"));
}

TEST_F(CoThreadTest, RefusedPrivilegesChangeNothing) {
    CoThread* main = mgr_->findMainThread();
    const CoThread::PriorityType mainLevel = main->getPriority();
    unsigned tid = 0;
    int priorityError = 0;
    int classError = 0;
    runOnThread("unprivileged", [&] {
        dropNicePrivilege();
        CoThread* self = CoThreadMgr::findCurrentThread();
        tid = self->getThreadId();
        const int niceBefore = niceOf(tid);
        const CoThread::PriorityType recordedBefore = self->recordedPriority();
        priorityError = self->setScheduling(9, CoThread::TIME_SHARING);
        EXPECT_EQ(niceOf(tid), niceBefore);
        EXPECT_EQ(self->recordedPriority(), recordedBefore);
        classError = main->setScheduling(mainLevel, CoThread::ROUND_ROBIN);
    });
    if (priorityError == 0) GTEST_SKIP() << "this system lets anyone raise priorities";
    EXPECT_TRUE(capture_.contains("Unable to set priority of thread 'unprivileged' [ " +
                                  std::to_string(tid) + " ] : " + std::to_string(priorityError)));
    ASSERT_NE(classError, 0);
    EXPECT_TRUE(capture_.contains("Unable to set priority class for main thread: " +
                                  std::to_string(classError)));
    EXPECT_EQ(main->getPolicy(), CoThread::TIME_SHARING);
    EXPECT_EQ(main->recordedPolicy(), CoThread::TIME_SHARING);
}

TEST_F(CoThreadTest, TheMainThreadMovesTheWholeProcessToRoundRobinAndBack) {
    CoThread* main = mgr_->findMainThread();
    const CoThread::PriorityType level = main->getPriority();
    const int error = main->setScheduling(level, CoThread::ROUND_ROBIN);
    if (error != 0) {
        EXPECT_EQ(main->getPolicy(), CoThread::TIME_SHARING);
        GTEST_SKIP() << "real-time scheduling refused here: " << error;
    }
    EXPECT_EQ(main->getPolicy(), CoThread::ROUND_ROBIN);
    CoThread::PolicyType childPolicy = CoThread::TIME_SHARING;
    runOnThread("real-time child", [&] { childPolicy = CoThreadMgr::findCurrentThread()->getPolicy(); });
    EXPECT_EQ(main->setScheduling(level, CoThread::TIME_SHARING), 0);
    EXPECT_EQ(childPolicy, CoThread::ROUND_ROBIN);
    EXPECT_EQ(main->getPolicy(), CoThread::TIME_SHARING);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
}

}  // namespace
