// The node client's requests and replies, byte for byte, against a serving side that records
// what it receives and answers what the test sets, including replies no sound server sends.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeNodeServer.h"
#include "ServerHandleTestSupport.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/nodes/VantrelNodeClientAPI.h"
#include "vantrel/VantrelNodeHandle.h"
#include "vantrel/VantrelOS.h"

namespace {

using clienttest::FakeNodeServer;
using Request = FakeNodeServer::Request;
using Child = VantrelNodeInterface::Child;

// Width 720, height 486, 32 bits in 4 channels, metadata with quotes and a space.
VantrelClipFormat sampleFormat() {
    return VantrelClipFormat(720, 486, 32, 4, 1399680, 29.97f, 0.9f,
                             VantrelClipFormat::progressive, "rgba", "xml", "<a b=\"1\"/>");
}
const char* const SAMPLE_FORMAT_TEXT =
    "720 486 32 4 1399680 0.9 29.97 rgba 4 xml \"<a b=\\\"1\\\"/>\"";
const char* const SAMPLE_FORMAT_STREAM =
    "w 3 720h 3 486bpp 2 32nch 1 4sz 7 1399680asp 3 0.9rate 5 29.97fmt 4 rgbascan 1 4"
    "metag 3 xmlmeta 10 <a b=\"1\"/>";

std::string attr(const std::string& name, const std::string& value) {
    return name + " " + std::to_string(value.size()) + " " + value;
}

// This machine as the frame-path requests describe it.
std::string host() { return VantrelOS::getHostName().c_str(); }
std::string osType() { return std::to_string(static_cast<int>(VantrelOS::getOSType())); }
std::string osVersion() { return VantrelOS::getOSVersion().c_str(); }
std::string localHostStream() {
    return attr("HostName", host()) + attr("OSType", osType()) + attr("OSVersion", osVersion());
}

class NodeClientWire : public ::testing::Test {
protected:
    NodeClientWire() : connection_(server_.serverId().c_str()), client_(&connection_) {}

    FakeNodeServer server_;
    VantrelClientConnection connection_;
    VantrelNodeClientAPI client_;
};

TEST_F(NodeClientWire, EveryRequestSendsItsArgumentTextExactly) {
    const VantrelNodeId reel("Reel 1");  // a space: quoted in plain-text arguments
    const VantrelNodeId clip("7");
    const std::vector<std::string> paths{"/media/a b.dpx", "/media/c.dpx"};
    VantrelNodeId id;
    std::string text;
    std::vector<Child> children;
    std::vector<VantrelFrameId> frames;
    std::vector<std::string> strings;
    VantrelClipFormat format;
    bool flag = false;
    int a = 0, b = 0;
    server_.answer("GetNodeType", "0 3");
    server_.answer("GetClipFormat", "1 1 24 3 3 1 30 rgb 0 none");
    server_.answer("QueryNodePlugInVersion", "1 0");
    const struct {
        std::function<bool()> call;
        Request expected;
    } cases[] = {
        {[&] { return client_.getRootNode(id); }, {"GetRootNode", ""}},
        {[&] { return client_.getParentNode(reel, id); }, {"GetParentNode", "Node 6 Reel 1"}},
        {[&] { return client_.createNode(reel, "Shot \"A\"", "CLIP", 0, sampleFormat(), id); },
         {"CreateNode", "\"Reel 1\" \"Shot \\\"A\\\"\" 0 CLIP " + std::string(SAMPLE_FORMAT_TEXT)}},
        {[&] { return client_.createNodeEx(reel, "Shot A", "CLIP", 0, sampleFormat(), id); },
         {"CreateNodeEx", attr("Parent", "Reel 1") + attr("Displ", "Shot A") + attr("Type", "0") +
                              attr("ExType", "CLIP") + attr("Fmt", SAMPLE_FORMAT_STREAM)}},
        {[&] { return client_.createNodeEx(reel, "Bin", "", 12, sampleFormat(), id); },
         {"CreateNodeEx", attr("Parent", "Reel 1") + attr("Displ", "Bin") + attr("Type", "12") +
                              attr("Fmt", SAMPLE_FORMAT_STREAM)}},
        {[&] { return client_.canCreateNode(reel, "CLIP", flag); },
         {"CanCreateNode", "Node 6 Reel 1ExtendedType 4 CLIP"}},
        {[&] {
             VantrelNodeId renamed("7");
             return client_.renameNode(renamed, "Shot 2");
         },
         {"RenameNode", "Node 1 7Displ 6 Shot 2"}},
        {[&] { return client_.destroyNode(reel); }, {"DestroyNode", "\"Reel 1\""}},
        {[&] { return client_.getNodeType(reel, a, b); }, {"GetNodeType", "\"Reel 1\""}},
        {[&] { return client_.getNodeTypeStr(reel, text); }, {"GetNodeTypeStr", "\"Reel 1\""}},
        {[&] { return client_.getDisplayName(reel, text); }, {"GetDisplayName", "\"Reel 1\""}},
        {[&] { return client_.getDisplayNameEx(clip, text); }, {"GetDisplayNameEx", "7"}},
        {[&] { return client_.getChildren(reel, children); }, {"GetChildren", "\"Reel 1\""}},
        {[&] { return client_.getChildrenEx(VantrelNodeId("4,5"), children); },
         {"GetChildrenEx", "4,5"}},  // only the comma-separated forms refuse commas
        {[&] { return client_.allocateFrames(clip, 3, sampleFormat(), frames); },
         {"AllocateFrames", "7 3 "}},
        {[&] { return client_.getFrames(clip, frames); }, {"GetFrames", "7"}},
        {[&] { return client_.setFramePaths(clip, paths, sampleFormat()); },
         {"SetFramePaths", "7 " + host() + " " + osType() + " " + osVersion() +
                               " /media/a b.dpx,/media/c.dpx"}},
        {[&] { return client_.setFramePathsEx(clip, paths, sampleFormat()); },
         {"SetFramePathsEx", attr("Parent", "7") +
                                 attr("Paths", "2 14 /media/a b.dpx12 /media/c.dpx") +
                                 localHostStream() + attr("Fmt", SAMPLE_FORMAT_STREAM)}},
        {[&] { return client_.getFramePaths(clip, strings); },
         {"GetFramePaths", "7 " + host() + " " + osType() + " \"" + osVersion() + "\""}},
        {[&] { return client_.getClipFormat(clip, format); }, {"GetClipFormat", "7"}},
        {[&] { return client_.getNbReadAheads(clip, a); }, {"GetNbReadAheads", "7"}},
        {[&] { return client_.getMetaData(reel, "comments", nullptr, 3, text); },
         {"GetMetaData", "\"Reel 1\" comments  3"}},
        {[&] { return client_.getMetaData(clip, "comments", "a b", -1, text); },
         {"GetMetaData", "7 comments \"a b\" -1"}},
        {[&] { return client_.getMetaData(clip, "comments", "shot", 0, text); },
         {"GetMetaData", "7 comments shot 0"}},
        {[&] { return client_.setMetaData(clip, "comments", "say \"hi\"\\"); },
         {"SetMetaData", "7 comments \"say \\\"hi\\\"\\\\\""}},
        {[&] { return client_.queryMetaDataSupport(clip, strings); },
         {"QueryMetaDataSupport", "7"}},
        {[&] { return client_.getStreamId(clip, text); }, {"GetStreamId", "7"}},
        {[&] { return client_.getStorageId(text); }, {"GetStorageId", ""}},
        {[&] { return client_.getVendor(text); }, {"QueryNodePlugInVendor", ""}},
        {[&] { return client_.getProduct(text); }, {"QueryNodePlugInProduct", ""}},
        {[&] { return client_.getVersion(a, b); }, {"QueryNodePlugInVersion", ""}},
    };
    for (const auto& c : cases) {
        server_.clearRequests();
        EXPECT_TRUE(c.call()) << c.expected.method << ": " << client_.lastError();
        const std::vector<Request> sent = server_.requests();
        ASSERT_EQ(sent.size(), 1u) << c.expected.method;
        EXPECT_EQ(sent[0].method, c.expected.method);
        EXPECT_EQ(sent[0].args, c.expected.args) << c.expected.method;
    }
    // The stream forms whose only argument is a node id.
    server_.answer("GetFramesEx", "0 ");
    server_.answer("AllocateFramesEx", "0 ");
    server_.answer("GetFramePathsEx", "0 ");
    server_.clearRequests();
    EXPECT_TRUE(client_.getFramesEx(reel, frames));
    EXPECT_TRUE(client_.allocateFramesEx(clip, 2, sampleFormat(), frames));
    EXPECT_TRUE(client_.getFramePathsEx(clip, strings));
    EXPECT_EQ(server_.requests(),
              (std::vector<Request>{
                  {"GetFramesEx", "Node 6 Reel 1"},
                  {"AllocateFramesEx",
                   attr("Node", "7") + attr("NumFrames", "2") + attr("Fmt", SAMPLE_FORMAT_STREAM)},
                  {"GetFramePathsEx", attr("Parent", "7") + localHostStream()}}));
}

// Texts go out in UTF-8 from the locale and come back into it, in every request form: in a
// UTF-8 locale unchanged, in the C locale with "?" for what ASCII cannot hold (and the end of
// a text sent dropped after a byte that is no character there).
TEST_F(NodeClientWire, TextsCrossInUTF8FromAndToTheLocale) {
    const char* const name = "Caf\xc3\xa9 noir";
    const std::vector<std::string> paths{"/m\xc3\xa9" "dia/a.dpx"};
    const VantrelNodeId clip("7");
    const struct {
        const char* locale;
        std::string sentName, sentPath, sentStream, readBack;
    } locales[] = {
        {"C.UTF-8", name, paths[0], "n\xc3\xb6tes", "caf\xc3\xa9"},
        {"C", "Caf?", "/m?", "n?", "caf?"},
    };
    for (const auto& l : locales) {
        SCOPED_TRACE(l.locale);
        client_testing::ScopedLocale locale(l.locale);
        ASSERT_TRUE(locale.ok());
        VantrelNodeId id;
        std::string text;
        server_.clearRequests();
        EXPECT_TRUE(client_.createNode(clip, name, "CLIP", 0, sampleFormat(), id));
        EXPECT_TRUE(client_.createNodeEx(clip, name, "CLIP", 0, sampleFormat(), id));
        VantrelNodeId renamed("7");
        EXPECT_TRUE(client_.renameNode(renamed, name));
        EXPECT_TRUE(client_.setFramePaths(clip, paths, sampleFormat()));
        EXPECT_TRUE(client_.setFramePathsEx(clip, paths, sampleFormat()));
        EXPECT_TRUE(client_.getMetaData(clip, "n\xc3\xb6tes", "f\xc3\xa9", 1, text));
        EXPECT_TRUE(client_.setMetaData(clip, "n\xc3\xb6tes", "d\xc3\xa9"));
        EXPECT_EQ(server_.requests(),
                  (std::vector<Request>{
                      {"CreateNode", "7 \"" + l.sentName + "\" 0 CLIP " + SAMPLE_FORMAT_TEXT},
                      {"CreateNodeEx", attr("Parent", "7") + attr("Displ", l.sentName) +
                                           attr("Type", "0") + attr("ExType", "CLIP") +
                                           attr("Fmt", SAMPLE_FORMAT_STREAM)},
                      {"RenameNode", attr("Node", "7") + attr("Displ", l.sentName)},
                      {"SetFramePaths", "7 " + host() + " " + osType() + " " + osVersion() +
                                            " " + l.sentPath},
                      {"SetFramePathsEx",
                       attr("Parent", "7") +
                           attr("Paths", "1 " + std::to_string(l.sentPath.size()) + " " +
                                             l.sentPath) +
                           localHostStream() + attr("Fmt", SAMPLE_FORMAT_STREAM)},
                      // Metadata contents and filters pass as given.
                      {"GetMetaData", "7 " + l.sentStream + " f\xc3\xa9 1"},
                      {"SetMetaData", "7 " + l.sentStream + " \"d\xc3\xa9\""}}));

        std::vector<Child> children;
        std::vector<std::string> strings;
        server_.answer("GetDisplayName", "caf\xc3\xa9");
        ASSERT_TRUE(client_.getDisplayName(clip, text));
        EXPECT_EQ(text, l.readBack);
        server_.answer("GetChildren", "8,caf\xc3\xa9");
        ASSERT_TRUE(client_.getChildren(clip, children));
        ASSERT_EQ(children.size(), 1u);
        EXPECT_EQ(children[0].displayName, l.readBack);
        server_.answer("GetFramePaths", "/caf\xc3\xa9");
        ASSERT_TRUE(client_.getFramePaths(clip, strings));
        EXPECT_EQ(strings, std::vector<std::string>{"/" + l.readBack});
        server_.answer("GetFramePathsEx", "1 5 caf\xc3\xa9");
        ASSERT_TRUE(client_.getFramePathsEx(clip, strings));
        EXPECT_EQ(strings, std::vector<std::string>{l.readBack});
        server_.answer("QueryMetaDataSupport", "XML,caf\xc3\xa9");
        ASSERT_TRUE(client_.queryMetaDataSupport(clip, strings));
        EXPECT_EQ(strings, (std::vector<std::string>{"XML", l.readBack}));
    }
}

TEST_F(NodeClientWire, RepliesAreDecoded) {
    const VantrelNodeId node("7");
    server_.answer("GetParentNode", "3");
    server_.answer("GetNodeType", "1 9");
    server_.answer("GetChildren", "8,Shot 010,9,Shot 020,10");
    server_.answer("GetChildrenEx", attr("0", attr("Id", "8") + attr("Displ", "Shot, 010")));
    server_.answer("AllocateFrames", "f1,f2");
    server_.answer("GetFramesEx", "2 2 f13 f 2");
    server_.answer("GetFramePaths", "/a,,/c");
    server_.answer("GetClipFormat", "8 4 24 3 96 1 24 rgb 4 text first shot, wide");
    server_.answer("GetNbReadAheads", "4");
    server_.answer("QueryNodePlugInVersion", "1 2");
    server_.answer("RenameNode", "70");

    VantrelNodeId id;
    ASSERT_TRUE(client_.getParentNode(node, id));
    EXPECT_STREQ(id.id(), "3");
    int clipFlag = 0, type = 0;
    ASSERT_TRUE(client_.getNodeType(node, clipFlag, type));
    EXPECT_EQ(clipFlag, 1);
    EXPECT_EQ(type, 9);
    std::vector<Child> children;
    ASSERT_TRUE(client_.getChildren(node, children));
    EXPECT_EQ(children, (std::vector<Child>{{"Shot 010", "8"}, {"Shot 020", "9"}}));
    ASSERT_TRUE(client_.getChildrenEx(node, children));
    EXPECT_EQ(children, (std::vector<Child>{{"Shot, 010", "8"}}));
    std::vector<VantrelFrameId> frames;
    ASSERT_TRUE(client_.allocateFrames(node, 2, VantrelClipFormat(), frames));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_STREQ(frames[1].id(), "f2");
    ASSERT_TRUE(client_.getFramesEx(node, frames));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_STREQ(frames[0].id(), "f1");
    EXPECT_STREQ(frames[1].id(), "f 2");
    std::vector<std::string> paths;
    ASSERT_TRUE(client_.getFramePaths(node, paths));
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", "", "/c"}));
    VantrelClipFormat format;
    ASSERT_TRUE(client_.getClipFormat(node, format));
    EXPECT_EQ(format.frameBufferSize(), 96);
    EXPECT_STREQ(format.metaData(), "first shot, wide");
    int count = 0;
    ASSERT_TRUE(client_.getNbReadAheads(node, count));
    EXPECT_EQ(count, 4);
    int major = 0, minor = 0;
    ASSERT_TRUE(client_.getVersion(major, minor));
    EXPECT_EQ(major * 10 + minor, 12);
    VantrelNodeId renamed("7");
    ASSERT_TRUE(client_.renameNode(renamed, "x"));
    EXPECT_STREQ(renamed.id(), "70");
}

TEST_F(NodeClientWire, CanCreateNodeIsYesOnlyForTheExactReplyTrue) {
    const struct {
        const char* reply;
        bool can;
    } cases[] = {{"TRUE", true}, {"true", false}, {"TRUE ", false}, {"1", false}, {"", false}};
    for (const auto& c : cases) {
        server_.answer("CanCreateNode", c.reply);
        bool can = !c.can;
        ASSERT_TRUE(client_.canCreateNode(VantrelNodeId("6"), "CLIP", can));
        EXPECT_EQ(can, c.can) << "'" << c.reply << "'";
    }
}

TEST_F(NodeClientWire, MalformedRepliesFailWithTheirTexts) {
    const VantrelNodeId node("7");
    std::vector<Child> children;
    std::vector<VantrelFrameId> frames;
    std::vector<std::string> paths;
    VantrelClipFormat format;
    int a = 0, b = 0;
    const struct {
        const char* method;
        const char* reply;
        std::function<bool()> call;
        const char* error;
    } cases[] = {
        {"GetChildrenEx", "0 9 Id 1 8abc", [&] { return client_.getChildrenEx(node, children); },
         "Invalid children list"},
        {"GetChildrenEx", "0 30 Id 1 8", [&] { return client_.getChildrenEx(node, children); },
         "Invalid children list"},
        {"GetFramesEx", "2 2 f1", [&] { return client_.getFramesEx(node, frames); },
         "Invalid frame list"},
        {"AllocateFramesEx", "f1,f2",
         [&] { return client_.allocateFramesEx(node, 2, format, frames); }, "Invalid frame list"},
        {"GetFramePathsEx", "1 9 /a", [&] { return client_.getFramePathsEx(node, paths); },
         "Invalid file list"},
        {"GetClipFormat", "8 4 24", [&] { return client_.getClipFormat(node, format); },
         "Invalid clip format '8 4 24'"},
        {"GetNodeType", "clip", [&] { return client_.getNodeType(node, a, b); },
         "Invalid node type reply 'clip'"},
    };
    for (const auto& c : cases) {
        server_.answer(c.method, c.reply);
        EXPECT_FALSE(c.call()) << c.method;
        EXPECT_EQ(client_.lastError(), c.error) << c.method;
    }
}

TEST_F(NodeClientWire, ServerErrorsBecomeTheLastError) {
    server_.answer("GetNodeTypeStr", "Unknown node '99'", false);
    std::string type = "unchanged";
    EXPECT_FALSE(client_.getNodeTypeStr(VantrelNodeId("99"), type));
    EXPECT_EQ(client_.lastError(), "Unknown node '99'");
    EXPECT_EQ(type, "unchanged");
}

TEST_F(NodeClientWire, CommaFormsRefuseANodeIdWithACommaBeforeAnyTraffic) {
    const VantrelNodeId node("4,5");
    VantrelNodeId id;
    std::string text;
    std::vector<Child> children;
    std::vector<VantrelFrameId> frames;
    std::vector<std::string> paths;
    const std::function<bool()> calls[] = {
        [&] { return client_.createNode(node, "x", "CLIP", 0, VantrelClipFormat(), id); },
        [&] { return client_.getDisplayName(node, text); },
        [&] { return client_.getChildren(node, children); },
        [&] { return client_.allocateFrames(node, 1, VantrelClipFormat(), frames); },
        [&] { return client_.getFrames(node, frames); },
        [&] { return client_.setFramePaths(node, {"/a"}, VantrelClipFormat()); },
        [&] { return client_.getFramePaths(node, paths); },
    };
    for (const auto& call : calls) {
        EXPECT_FALSE(call());
        EXPECT_EQ(client_.lastError(), "Invalid node id: '4,5'.");
    }
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_FALSE(connection_.isConnected());  // not even connected
}

// Through a node handle: a malformed reply reaches the server handle's last error, and a
// failed fetch is tried again by the next request.
TEST(NodeHandleMalformedReply, FailedFetchReportsThroughTheServerHandleAndIsRetried) {
    VantrelClient library;
    ASSERT_TRUE(library.init());
    FakeNodeServer fake;
    fake.playVersion(2015, 0, 0, 5858);
    fake.answer("GetChildrenEx", "0 9 Id 1 8abc");
    fake.answer("GetFramesEx", "1 2 f");
    fake.answer("GetFramePathsEx", "3 ");
    VantrelServerHandle server(fake.serverId().c_str());
    VantrelNodeHandle node(server, "6");

    int count = -1;
    EXPECT_FALSE(node.getNumChildren(count));
    EXPECT_STREQ(node.lastError(), "Invalid children list");
    EXPECT_STREQ(server.lastError(), "Invalid children list");
    EXPECT_FALSE(node.getNumFrames(count));
    EXPECT_STREQ(node.lastError(), "Invalid frame list");
    VantrelStr path;
    EXPECT_FALSE(node.getFrameIdPath(0, path));
    EXPECT_STREQ(node.lastError(), "Invalid file list");

    fake.answer("GetChildrenEx", attr("0", attr("Id", "8") + attr("Displ", "Shot 010")));
    ASSERT_TRUE(node.getNumChildren(count)) << node.lastError();
    EXPECT_EQ(count, 1);
}

}  // namespace
