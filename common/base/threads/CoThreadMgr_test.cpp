#include "threads/CoThreadMgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "testing/MessageCapture.h"
#include "threads/CoTask.h"
#include "threads/CoThreadPosix.h"

using namespace Vantrel;
using Vantrel::testing::MessageCapture;

namespace {

using Body = std::function<void()>;
void runBody(void* body) { (*static_cast<Body*>(body))(); }

// Waits in a cancellation point for ever: only kill() ends it.
void sleepForEver(void*) {
    for (;;) ::sleep(1);
}

bool threadExists(unsigned tid) {
    struct stat info;
    return ::stat(("/proc/self/task/" + std::to_string(tid)).c_str(), &info) == 0;
}

const CoMsg* findMessage(const std::vector<CoMsg>& messages, const std::string& text) {
    for (const CoMsg& msg : messages)
        if (msg.text() == text) return &msg;
    return nullptr;
}

class CoThreadMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFilter_ = CoMsg::filterLevel();
        CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);
        mgr_ = &CoThreadMgr::getInstance();
    }
    void TearDown() override { CoMsg::setFilterLevel(savedFilter_); }

    MessageCapture capture_;
    CoThreadMgr* mgr_ = nullptr;
    CoMsg::Level savedFilter_ = CoMsg::NOTICE_LEVEL;
};

TEST_F(CoThreadMgrTest, TheFirstCallerIsTheRegisteredMainThread) {
    CoThread* main = mgr_->findMainThread();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->getType(), CoThread::MAIN_THREAD);
    EXPECT_STREQ(main->getName(), "main");
    EXPECT_EQ(main->getThreadId(), static_cast<unsigned>(getpid()));
    EXPECT_EQ(CoThreadMgr::findCurrentThread(), main);
    EXPECT_EQ(mgr_->findThread("main"), main);
    EXPECT_FALSE(main->isRunning());
}

TEST_F(CoThreadMgrTest, NamedThreadsRunTheirFunctionAndAreRegistered) {
    CoThread* seenFromInside = nullptr;
    unsigned insideTid = 0;
    Body body = [&] {
        seenFromInside = CoThreadMgr::findCurrentThread();
        insideTid = static_cast<unsigned>(syscall(SYS_gettid));
    };
    CoThread& thread = CoThreadMgr::createThread("alpha worker", runBody, &body, true);
    thread.join();

    EXPECT_EQ(seenFromInside, &thread);
    EXPECT_EQ(thread.getThreadId(), insideTid);
    EXPECT_EQ(thread.getType(), CoThread::NEW_THREAD);
    EXPECT_EQ(mgr_->findThread("alpha worker"), &thread);
    EXPECT_EQ(mgr_->findThread("alpha"), nullptr);
    EXPECT_EQ(mgr_->findThread(insideTid), &thread);
    EXPECT_FALSE(thread.isSameThread(*mgr_->findMainThread()));
    EXPECT_TRUE(thread.isSameThread(thread));

    // The registration notice comes from the new thread, numbered with its identifier.
    const std::string notice = "Registered thread 'alpha worker' [ " + std::to_string(insideTid) + " ]";
    const std::vector<CoMsg> messages = capture_.messages();
    const CoMsg* msg = findMessage(messages, notice);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->level(), CoMsg::NOTICE_LEVEL);
    EXPECT_EQ(msg->processNumber(), static_cast<int>(insideTid));
}

TEST_F(CoThreadMgrTest, UnregisteredThreadsRunButAreNotEntered) {
    std::atomic<bool> ran{false};
    Body body = [&] {
        ran = true;
        EXPECT_EQ(CoThreadMgr::findCurrentThread(), nullptr);
    };
    CoThread& thread = CoThreadMgr::createThread("loner", runBody, &body, false);
    thread.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(mgr_->findThread("loner"), nullptr);
    delete &thread;

    CoThread* typed = mgr_->createThread(nullptr, "typed", CoThread::UNREGISTERED_THREAD, true);
    EXPECT_EQ(typed->getType(), CoThread::UNREGISTERED_THREAD);
    EXPECT_EQ(mgr_->findThread("typed"), nullptr);
    delete typed;
}

TEST_F(CoThreadMgrTest, KillEndsARunningThread) {
    CoThread::setDebugEnabled(true);
    CoThread& victim = CoThreadMgr::createThread("victim", sleepForEver, nullptr, false);
    const unsigned tid = victim.getThreadId();
    EXPECT_TRUE(victim.isRunning());
    mgr_->killThread(&victim);
    mgr_->killThread(nullptr);
    EXPECT_FALSE(victim.isRunning());
    EXPECT_FALSE(threadExists(tid));
    const std::string id = std::to_string(tid);
    EXPECT_TRUE(capture_.contains("Stopping thread 'victim' [ " + id + " ]"));
    EXPECT_TRUE(capture_.contains("Thread 'victim' [ " + id + " ], has been terminated"));
    victim.join();   // joined already: returns at once
    delete &victim;
    CoThread::setDebugEnabled(false);
}

TEST_F(CoThreadMgrTest, DumpPostsOneLinePerThreadAndWritesNothingToTheStream) {
    Body nothing = [] {};
    CoThread& thread = CoThreadMgr::createThread("dumped", runBody, &nothing, true);
    thread.join();
    capture_.clear();
    std::ostringstream out;
    out << *mgr_;
    EXPECT_EQ(out.str(), "");
    const std::string line = "Thread Dump: dumped ( " + std::to_string(thread.getThreadId()) + " ) ";
    const std::vector<CoMsg> messages = capture_.messages();
    const CoMsg* msg = findMessage(messages, line);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->level(), CoMsg::USER_LEVEL);
    EXPECT_NE(findMessage(messages, "Thread Dump: main ( " + std::to_string(getpid()) + " ) "),
              nullptr);
}

TEST_F(CoThreadMgrTest, VisitThreadsStopsAtOneOrMinusOne) {
    Body nothing = [] {};
    for (const char* name : {"v1", "v2", "v3"}) CoThreadMgr::createThread(name, runBody, &nothing, true).join();

    std::vector<std::string> visited;
    auto visitUntil = [&](const char* stopAt, int result) {
        visited.clear();
        return mgr_->visitThreads([&](CoThread* t) {
            visited.push_back(t->getName());
            // The visitor may call the manager: it runs outside the registry's lock.
            EXPECT_EQ(mgr_->findThread(t->getName()), t);
            return std::string(t->getName()) == stopAt ? result : 2;
        });
    };
    EXPECT_EQ(visitUntil("v2", 1), 1);
    EXPECT_EQ(visited.back(), "v2");
    EXPECT_EQ(visitUntil("v1", -1), -1);
    EXPECT_EQ(visited.back(), "v1");
    EXPECT_EQ(visitUntil("none", 1), 0);
    EXPECT_EQ(visited.front(), "main");
    EXPECT_EQ(visited.back(), "v3");
}

TEST_F(CoThreadMgrTest, UninitializeKillsAndReportsThreadsLeftRunning) {
    CoThread& victim = CoThreadMgr::createThread("forgotten", sleepForEver, nullptr, true);
    const unsigned victimTid = victim.getThreadId();
    Body nothing = [] {};
    CoThread& finished = CoThreadMgr::createThread("finished", runBody, &nothing, true);
    finished.join();
    const unsigned finishedTid = finished.getThreadId();
    capture_.clear();

    mgr_->uninitialize();

    EXPECT_FALSE(threadExists(victimTid));
    // A new thread announces its registration itself, so that line may come after clear().
    std::vector<CoMsg> messages = capture_.messages();
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const CoMsg& m) {
                                      return m.text().rfind("Registered thread", 0) == 0;
                                  }),
                   messages.end());
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages.front().text(), "Uninitialising thread manager.");
    EXPECT_EQ(messages.front().level(), CoMsg::NOTICE_LEVEL);
    const CoMsg* warning = findMessage(
        messages, "Thread id = " + std::to_string(victimTid) + " named=forgotten was not stopped by its owner.");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->level(), CoMsg::WARNING_LEVEL);
    EXPECT_FALSE(capture_.contains("Thread id = " + std::to_string(finishedTid)));
    EXPECT_EQ(messages.back().text(), "Thread manager uninitialized");
    EXPECT_EQ(messages.back().level(), CoMsg::DEBUGGING_LEVEL);

    // The registry is empty until the next getInstance() starts it again.
    EXPECT_EQ(mgr_->findThread("forgotten"), nullptr);
    EXPECT_EQ(mgr_->findThread("main"), nullptr);
    CoThreadMgr& again = CoThreadMgr::getInstance();
    EXPECT_EQ(&again, mgr_);
    ASSERT_NE(again.findMainThread(), nullptr);
    EXPECT_EQ(again.findThread("finished"), nullptr);
}

TEST_F(CoThreadMgrTest, RegistryContracts) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(mgr_->addThread(mgr_->findMainThread()), "Cannot add thread that is already there!");
    EXPECT_DEATH(mgr_->removeThread(nullptr), "Assertion failed: t,");
    EXPECT_DEATH(mgr_->findMainThread()->start(), "getType\\(\\) != MAIN_THREAD");

    // A thread taken out of the registry belongs to the caller.
    CoThread* loose = mgr_->createThread(nullptr, "loose", CoThread::NEW_THREAD, true);
    ASSERT_EQ(mgr_->findThread("loose"), loose);
    mgr_->removeThread(loose);
    EXPECT_EQ(mgr_->findThread("loose"), nullptr);
    delete loose;
}

}  // namespace
