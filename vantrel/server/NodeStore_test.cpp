#include "vantrel/server/NodeStore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include "vantrel/server/WireText.h"

#include "vantrel/server/NodeTypes.h"
#include "vantrel/server/SampleTree.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/ServerTestSupport.h"

using namespace vantreld;
using vantreld::testing::TempDir;

namespace {

class NodeStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeStore> open() {
        return std::unique_ptr<NodeStore>(
            new NodeStore(dir_ / "tree", ServerFiles::Sync::FAST, "root name"));
    }
    std::string nodes() const { return dir_ / "tree/nodes"; }

    TempDir dir_;
};

VantrelClipFormat format(int width, const char* metaData) {
    return VantrelClipFormat(width, 2, 24, 3, width * 6, 25.0f, 1.0f,
                             VantrelClipFormat::progressive, "rgb", "text", metaData);
}

std::vector<std::string> childNames(const Node& node) {
    std::vector<std::string> names;
    for (const Node* child : node.children) names.push_back(child->name);
    return names;
}

}  // namespace

TEST_F(NodeStoreTest, ANewStoreHoldsARootAndAnIdentity) {
    auto store = open();
    EXPECT_EQ(store->root().id, "host");
    EXPECT_EQ(store->root().type, "HOST");
    EXPECT_EQ(store->root().name, "root name");
    EXPECT_EQ(store->size(), 1u);
    EXPECT_EQ(store->storageId().size(), 36u);
    EXPECT_EQ(store->hostUUID().size(), 36u);
}

TEST_F(NodeStoreTest, EverythingSurvivesAReopenWithTheSameIds) {
    std::string volume, clip, identity;
    {
        auto store = open();
        volume = store->createNode("host", "Volume 1", "VOLUME", VantrelClipFormat()).id;
        clip = store->createNode(volume, "Clip, with comma", "CLIP", format(4, "a b")).id;
        store->allocateFrames(clip, 3, nullptr);
        store->setMetaData(clip, "../escape", "line1\nline2");
        store->renameNode(volume, "Volume \xc3\xa9");
        identity = store->storageId() + store->hostUUID();
    }
    EXPECT_EQ(volume, "volume 2");
    EXPECT_NE(clip.find(' '), std::string::npos);
    EXPECT_EQ(clip.find(','), std::string::npos);
    EXPECT_TRUE(ServerFiles::exists(nodes() + "/3/meta/%2E%2E%2Fescape"));

    auto store = open();
    EXPECT_EQ(store->storageId() + store->hostUUID(), identity);
    const Node& reopened = store->get(clip);
    EXPECT_EQ(reopened.parent->id, volume);
    EXPECT_EQ(reopened.parent->name, "Volume \xc3\xa9");
    EXPECT_EQ(reopened.format.width(), 4);
    EXPECT_STREQ(reopened.format.metaData(), "a b");
    EXPECT_EQ(reopened.frames.list(), (std::vector<std::string>{"3.0", "3.1", "3.2"}));
    EXPECT_EQ(reopened.metadataStreams, (std::vector<std::string>{"../escape"}));
    EXPECT_EQ(store->getMetaData(clip, "../escape"), "line1\nline2");
}

TEST_F(NodeStoreTest, ChildrenKeepCreationOrderAcrossAReopen) {
    {
        auto store = open();
        // Serials 2..12: their folder names do not sort in creation order.
        for (int i = 0; i < 11; ++i)
            store->createNode("host", "v" + std::to_string(i), "VOLUME", VantrelClipFormat());
    }
    auto store = open();
    EXPECT_EQ(childNames(store->root()),
              (std::vector<std::string>{"v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9",
                                        "v10"}));
}

TEST_F(NodeStoreTest, RefusesClashesAndBadRequestsWithoutChangingAnything) {
    auto store = open();
    const std::string a = store->createNode("host", "A", "VOLUME", VantrelClipFormat()).id;
    store->createNode("host", "B", "VOLUME", VantrelClipFormat());
    EXPECT_THROW(store->createNode("host", "A", "VOLUME", VantrelClipFormat()), ServerError);
    EXPECT_THROW(store->createNode("host", "", "VOLUME", VantrelClipFormat()), ServerError);
    EXPECT_THROW(store->createNode("host", "C", "NOT_A_TYPE", VantrelClipFormat()), ServerError);
    EXPECT_THROW(store->createNode("nobody", "C", "VOLUME", VantrelClipFormat()), ServerError);
    EXPECT_THROW(store->renameNode(a, "B"), ServerError);
    EXPECT_NO_THROW(store->renameNode(a, "A"));
    EXPECT_THROW(store->destroyNode("host"), ServerError);
    EXPECT_THROW(store->allocateFrames(a, -1, nullptr), ServerError);
    EXPECT_THROW(store->allocateFrames(a, 1000001, nullptr), ServerError);
    EXPECT_THROW(store->setMetaData(a, "", "x"), ServerError);
    EXPECT_THROW(store->getMetaData(a, "none"), ServerError);
    try {
        store->get("clip 99");
        FAIL();
    } catch (const ServerError& error) {
        EXPECT_STREQ(error.what(), "Unknown node id: 'clip 99'");
    }
    EXPECT_EQ(childNames(store->root()), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(store->size(), 3u);
}

TEST_F(NodeStoreTest, DestroyRemovesTheSubtreeAndFreesTheName) {
    auto store = open();
    const std::string volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
    const std::string project = store->createNode(volume, "P", "PROJECT", VantrelClipFormat()).id;
    store->createNode(project, "S", "SHARED_VAULT", VantrelClipFormat());
    store->destroyNode(volume);
    EXPECT_EQ(store->size(), 1u);
    EXPECT_EQ(store->find(project), nullptr);
    EXPECT_EQ(ServerFiles::list(nodes()), (std::vector<std::string>{"1"}));
    const std::string again = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
    EXPECT_NE(again, volume);  // serials are never issued twice
}

TEST_F(NodeStoreTest, SerialsAreNotReusedAfterARestart) {
    std::string first;
    {
        auto store = open();
        first = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
        store->destroyNode(first);
    }
    auto store = open();
    EXPECT_NE(store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id, first);
}

// What a process killed in the middle of a change leaves behind, and what opening makes of it.
TEST_F(NodeStoreTest, OpeningCleansUpInterruptedChanges) {
    std::string volume, project;
    {
        auto store = open();
        volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
        project = store->createNode(volume, "P", "PROJECT", VantrelClipFormat()).id;
        store->createNode("host", "Doomed", "VOLUME", VantrelClipFormat());
    }
    // A creation that never got committed, a manifest replacement cut short, a removal
    // committed (renamed) but not finished: its child's folder is still there.
    ServerFiles::makeDirectory(nodes() + "/90.tmp");
    ServerFiles::writeFileAtomically(nodes() + "/90.tmp/node.attr", "Id 8 volume 90",
                                     ServerFiles::Sync::FAST);
    ServerFiles::writeFileAtomically(nodes() + "/2/node.attr.tmp", "garbage",
                                     ServerFiles::Sync::FAST);
    ServerFiles::rename(nodes() + "/2", nodes() + "/2.dead", ServerFiles::Sync::FAST);
    // A descendant an earlier version was deleting in place: its manifest gone, its metadata
    // still there.
    ServerFiles::makeDirectory(nodes() + "/95");
    ServerFiles::makeDirectory(nodes() + "/95/meta");
    ServerFiles::writeFileAtomically(nodes() + "/95/meta/notes", "x", ServerFiles::Sync::FAST);

    auto store = open();
    EXPECT_EQ(store->find(volume), nullptr);
    EXPECT_EQ(store->find(project), nullptr);
    EXPECT_EQ(store->find("volume 90"), nullptr);
    EXPECT_EQ(childNames(store->root()), (std::vector<std::string>{"Doomed"}));
    EXPECT_EQ(ServerFiles::list(nodes()), (std::vector<std::string>{"1", "4"}));
}

TEST_F(NodeStoreTest, FramesAreKeptResizedAndLinkedToPaths) {
    auto store = open();
    const std::string volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
    const std::string clip = store->createNode(volume, "C", "CLIP", format(2, "")).id;
    EXPECT_EQ(store->allocateFrames(clip, 3, nullptr).frames.size(), 3u);
    const VantrelClipFormat wider = format(8, "");
    const Node& fewer = store->allocateFrames(clip, 2, &wider);
    EXPECT_EQ(fewer.frames.list(), (std::vector<std::string>{"3.0", "3.1"}));
    EXPECT_EQ(fewer.format.width(), 8);
    const Node& linked =
        store->setFramePaths(clip, {"/m/a.dpx", "/m/b c.dpx"}, "alpha", 2, "6.1", nullptr);
    EXPECT_EQ(linked.frames.list(), (std::vector<std::string>{"3.3", "3.4"}));
    store.reset();
    store = open();
    const Node& reopened = store->get(clip);
    EXPECT_EQ(reopened.framePaths, (std::vector<std::string>{"/m/a.dpx", "/m/b c.dpx"}));
    EXPECT_EQ(reopened.pathsHost, "alpha");
    EXPECT_EQ(reopened.pathsOsType, 2);
    EXPECT_EQ(reopened.nextFrame, 5u);
}

TEST_F(NodeStoreTest, SampleTreeFillsOnlyAnEmptyStore) {
    auto store = open();
    makeSampleTree(*store);
    EXPECT_GT(store->size(), 15u);
    EXPECT_THROW(makeSampleTree(*store), ServerError);
    const Node& volume = *store->root().children.at(0);
    EXPECT_EQ(volume.type, "VOLUME");
    size_t clips = 0, frames = 0;
    std::vector<const Node*> pending{&store->root()};
    for (size_t i = 0; i < pending.size(); ++i) {
        pending.insert(pending.end(), pending[i]->children.begin(), pending[i]->children.end());
        if (pending[i]->type == "CLIP") {
            ++clips;
            frames += pending[i]->frames.size();
            EXPECT_EQ(pending[i]->metadataStreams,
                      (std::vector<std::string>{"comments", "timecode"}));
        }
    }
    EXPECT_EQ(clips, 7u);
    EXPECT_GT(frames, clips);
    // A client could build the same tree: every node is one its parent may hold.
    for (const Node* node : pending) {
        if (node->parent == nullptr) continue;
        EXPECT_TRUE(NodeTypes::canCreate(node->parent->type, node->type))
            << node->parent->type << " holding " << node->type << " (" << node->name << ")";
    }
}

// Any name the length limit allows is a stream of its own: none can collide with the store's
// temporary and removed files, and long escaped names still fit the file system.
TEST_F(NodeStoreTest, EveryStreamNameWithinTheLimitIsKeptApart) {
    std::string nonAscii84;
    for (int i = 0; i < 42; ++i) nonAscii84 += "\xc3\xa9";
    const std::string longA = std::string(199, '\xff') + "a", longB = std::string(199, '\xff') + "b";
    const std::vector<std::string> names = {"notes.tmp", "old.dead", "a", "a.tmp", ".hidden",
                                            "~x", "%41", nonAscii84, longA, longB,
                                            std::string(200, 'z')};
    std::string clip;
    {
        auto store = open();
        const std::string volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
        clip = store->createNode(volume, "C", "CLIP", VantrelClipFormat()).id;
        for (const std::string& name : names) store->setMetaData(clip, name, "data of " + name);
        for (const std::string& name : names)
            EXPECT_EQ(store->getMetaData(clip, name), "data of " + name) << name;
    }
    auto store = open();
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(store->get(clip).metadataStreams, sorted);
    for (const std::string& name : names)
        EXPECT_EQ(store->getMetaData(clip, name), "data of " + name) << name;
    for (const std::string& file : ServerFiles::list(nodes() + "/3/meta"))
        EXPECT_EQ(file.find('.'), std::string::npos) << file;
}

// A tree written before the current rules: stream files keeping their '.', frames as a list.
TEST_F(NodeStoreTest, TreesWrittenByTheEarlierRulesStillOpen) {
    std::string clip;
    {
        auto store = open();
        const std::string volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
        clip = store->createNode(volume, "C", "CLIP", VantrelClipFormat()).id;
        store->allocateFrames(clip, 3, nullptr);
    }
    const std::string manifest = nodes() + "/3/node.attr";
    std::string text = ServerFiles::readFile(manifest);
    const std::string runs = "FrameRuns 3 0 3", list = encodeCountedList({"3.0", "3.1", "3.2"});
    ASSERT_NE(text.find(runs), std::string::npos) << text;
    text.replace(text.find(runs), runs.size(),
                 "Frames " + std::to_string(list.size()) + " " + list);
    ServerFiles::writeFileAtomically(manifest, text, ServerFiles::Sync::FAST);
    ServerFiles::makeDirectory(nodes() + "/3/meta");
    ServerFiles::writeFileAtomically(nodes() + "/3/meta/my.notes", "old", ServerFiles::Sync::FAST);

    auto store = open();
    EXPECT_EQ(store->get(clip).frames.list(), (std::vector<std::string>{"3.0", "3.1", "3.2"}));
    EXPECT_EQ(store->getMetaData(clip, "my.notes"), "old");
    EXPECT_EQ(ServerFiles::list(nodes() + "/3/meta"), (std::vector<std::string>{"my%2Enotes"}));
    EXPECT_EQ(store->allocateFrames(clip, 4, nullptr).frames[3], "3.3");
}

TEST_F(NodeStoreTest, FileErrorsNameTheNodeAndStreamButNoPath) {
    auto store = open();
    const std::string volume = store->createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
    ServerFiles::writeFileAtomically(nodes() + "/2/meta", "not a folder", ServerFiles::Sync::FAST);
    try {
        store->setMetaData(volume, "notes", "x");
        FAIL() << "a write into a file succeeded";
    } catch (const ServerError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot write metadata stream 'notes' of node 'volume 2': File exists");
    }
}

TEST_F(NodeStoreTest, LimitsRefuseGrowthWithAClearReply) {
    StoreLimits limits;
    limits.maxNodes = 3;
    limits.maxFramesPerNode = 10;
    limits.maxFramesPerServer = 15;
    limits.maxMetadataBytesPerNode = 8;
    limits.maxMetadataBytesPerServer = 12;
    NodeStore store(dir_ / "tree", ServerFiles::Sync::FAST, "root", limits);
    const std::string volume = store.createNode("host", "V", "VOLUME", VantrelClipFormat()).id;
    const std::string clip = store.createNode(volume, "C", "CLIP", VantrelClipFormat()).id;
    const std::string refused = "Limit reached: the server holds at most ";
    auto fails = [&](const std::function<void()>& change, const std::string& text) {
        try {
            change();
            ADD_FAILURE() << "no error, expected " << text;
        } catch (const ServerError& error) {
            EXPECT_EQ(refused + text, error.what());
        }
    };
    fails([&] { store.createNode(volume, "D", "CLIP", VantrelClipFormat()); },
          "3 nodes in the tree (MaxNodes)");
    fails([&] { store.allocateFrames(clip, 11, nullptr); },
          "10 frames per node (MaxFramesPerNode)");
    store.allocateFrames(clip, 10, nullptr);
    store.allocateFrames(volume, 5, nullptr);  // the store leaves type rules to its callers
    fails([&] { store.setFramePaths(volume, {"a", "b", "c", "d", "e", "f"}, "h", 0, "", nullptr); },
          "15 frames (MaxFramesPerServer)");
    store.allocateFrames(clip, 4, nullptr);  // shrinking frees frames for the others
    store.setFramePaths(volume, std::vector<std::string>(10, "p"), "h", 0, "", nullptr);
    EXPECT_EQ(store.frameCount(), 14u);
    store.setMetaData(clip, "a", "12345678");
    fails([&] { store.setMetaData(clip, "b", "1"); },
          "8 metadata bytes per node (MaxMetadataBytesPerNode)");
    store.setMetaData(clip, "a", "1234");  // replacing counts the new size only
    store.setMetaData(volume, "a", "12345678");
    fails([&] { store.setMetaData(clip, "b", "1"); },
          "12 metadata bytes (MaxMetadataBytesPerServer)");
    store.destroyNode(clip);
    EXPECT_EQ(store.frameCount(), 10u);
    EXPECT_EQ(store.metadataBytes(), 8u);
}

TEST_F(NodeStoreTest, OneStorePerDirectoryAndNeverAmongForeignFiles) {
    auto store = open();
    try {
        open();
        FAIL() << "a second store opened the directory";
    } catch (const ServerError& error) {
        EXPECT_EQ(std::string(error.what()), "Tree directory '" + dir_ / "tree" +
                                                 "' is in use by another vantreld (process " +
                                                 std::to_string(::getpid()) + ")");
    }
    store.reset();
    EXPECT_NE(open(), nullptr);  // the lock goes with its store

    ServerFiles::makeDirectory(dir_ / "photos");
    ServerFiles::writeFileAtomically(dir_ / "photos/holiday.jpg", "jpeg", ServerFiles::Sync::FAST);
    EXPECT_THROW(NodeStore(dir_ / "photos", ServerFiles::Sync::FAST), ServerError);
    EXPECT_EQ(ServerFiles::list(dir_ / "photos"),
              (std::vector<std::string>{"holiday.jpg"}));
}
