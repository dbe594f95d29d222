#include "vantrel/server/FramePrefetcher.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vantreld
