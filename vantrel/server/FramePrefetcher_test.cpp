#include "vantrel/server/FramePrefetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerTestSupport.h"

namespace vantreld {
namespace {

// A clip of three frames holding "first", "second" and "third".
class FramePrefetcherTest : public ::testing::Test {
protected:
    FramePrefetcherTest() {
        NodeStore store(dir_.path(), ServerFiles::Sync::FAST);
        const std::string clip =
            store.createNode(NodeStore::ROOT_ID, "c", "CLIP", VantrelClipFormat()).id;
        frames_ = store.allocateFrames(clip, 3, nullptr).frames.list();
        const char* contents[] = {"first", "second", "third"};
        for (size_t i = 0; i < 3; ++i) store.writeFrameData(clip, frames_[i], contents[i]);
    }

    testing::TempDir dir_;
    std::vector<std::string> frames_;
    FrameStorage storage_{dir_.path(), ServerFiles::Sync::FAST};
};

TEST_F(FramePrefetcherTest, ReadAheadFramesAreServedFromMemoryUntilInvalidated) {
    FramePrefetcher prefetcher(storage_, 1 << 20, 2);
    EXPECT_EQ(nullptr, prefetcher.find(frames_[0]));  // never asked for
    prefetcher.request(frames_[0]);
    prefetcher.request(frames_[1]);
    prefetcher.request("9.9");                        // unknown: never cached
    ASSERT_NE(nullptr, prefetcher.find(frames_[0]));  // waits for the load
    EXPECT_EQ("first", *prefetcher.find(frames_[0]));
    EXPECT_EQ("second", *prefetcher.find(frames_[1]));
    EXPECT_EQ(nullptr, prefetcher.find("9.9"));
    prefetcher.forget(frames_[0]);
    EXPECT_EQ(nullptr, prefetcher.find(frames_[0]));
    prefetcher.clear();
    EXPECT_EQ(nullptr, prefetcher.find(frames_[1]));
}

TEST_F(FramePrefetcherTest, OldestLoadsMakeRoomWithinTheCapacity) {
    FramePrefetcher prefetcher(storage_, 12, 1);  // "first" + "second" = 11 bytes fit
    for (const std::string& frame : frames_) {
        prefetcher.request(frame);
        prefetcher.find(frame);
    }
    EXPECT_EQ(nullptr, prefetcher.find(frames_[0]));
    EXPECT_EQ("third", *prefetcher.find(frames_[2]));
}

// A load still reading when the frame is rewritten must not fill the slot of the read-ahead
// that follows the write: the read after the write gets the new bytes.
TEST_F(FramePrefetcherTest, ARewriteDuringALoadIsNeverServedTheOldBytes) {
    FrameStorage slow(dir_.path(), ServerFiles::Sync::FAST, 400);  // opens, then waits 400 ms
    FramePrefetcher prefetcher(slow, 1 << 20, 2);
    for (const bool clearAll : {false, true}) {
        const std::string fresh = clearAll ? "cleared" : "forgotten";
        prefetcher.request(frames_[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the old file is open
        auto file = slow.incomingFrame(frames_[0]);
        file->write(fresh.data(), fresh.size());
        file->commit();
        if (clearAll) {
            prefetcher.clear();
        } else {
            prefetcher.forget(frames_[0]);
        }
        prefetcher.request(frames_[0]);  // loaded by the other worker, after the old load
        const auto cached = prefetcher.find(frames_[0]);
        EXPECT_TRUE(cached == nullptr || *cached == fresh) << *cached;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the old load is done
        const auto later = prefetcher.find(frames_[0]);
        EXPECT_TRUE(later == nullptr || *later == fresh) << *later;
    }
}

// A frame larger than the whole capacity is never loaded (the read goes to the file).
TEST_F(FramePrefetcherTest, FramesLargerThanTheCapacityAreNotLoaded) {
    FramePrefetcher tiny(storage_, 5, 1);  // "first" and "third" fit, not "second"
    for (const std::string& frame : frames_) tiny.request(frame);
    EXPECT_EQ(nullptr, tiny.find(frames_[1]));
    const auto third = tiny.find(frames_[2]);
    ASSERT_NE(nullptr, third);
    EXPECT_EQ("third", *third);
    EXPECT_EQ(nullptr, tiny.find(frames_[0]));  // made room for "third"
    EXPECT_EQ(5u, tiny.heldBytes());
}

}  // namespace
}  // namespace vantreld
