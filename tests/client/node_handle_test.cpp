// Node handles against real vantreld processes on a sample tree: walking the tree, creating,
// renaming and destroying nodes, metadata, frames, finding nodes by display name, and the
// request forms chosen for each generation of servers (read back from the server's trace of
// the requests it received).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "FakeNodeServer.h"
#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using client_testing::ScopedLocale;
using client_testing::TempDir;
using vantreld::testing::VantreldProcess;

const char* const REEL_PATH = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1";
const char* const CAFE_UTF8 = "Coucher de soleil \xe2\x80\x94 caf\xc3\xa9";

// vantreld on a fresh sample tree, playing protocol version `version`, tracing every request
// it receives into a file the test reads.
class SampleServer {
public:
    explicit SampleServer(const std::string& version = "2015.0.0.5858") {
        VantreldProcess init({"--init-sample", dir_ / "tree"});
        initStatus_ = init.waitForExit(20000);
        process_.reset(new VantreldProcess({"--port", "0", "--no-sync", "--protocol-version",
                                            version, "--trace", dir_ / "trace", dir_ / "tree"}));
        port_ = process_->waitUntilReady();
    }

    bool ready() const { return initStatus_ == 0 && port_ > 0; }
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }

    // The requests received so far: method and argument text, in order.
    std::vector<std::pair<std::string, std::string>> requests() const {
        std::vector<std::pair<std::string, std::string>> received;
        std::ifstream trace(dir_ / "trace");
        std::string line;
        while (std::getline(trace, line)) {
            // Fields: time, client, "METHOD ARGS", result, separated by tabs.
            const size_t start = line.find('\t', line.find('\t') + 1) + 1;
            line = line.substr(start, line.find('\t', start) - start);
            const size_t space = line.find(' ');
            received.emplace_back(line.substr(0, space),
                                  space == std::string::npos ? "" : line.substr(space + 1));
        }
        return received;
    }
    std::multiset<std::string> methods() const {
        std::multiset<std::string> names;
        for (const auto& request : requests()) names.insert(request.first);
        return names;
    }
    // Forgets the requests received so far.
    void clearTrace() { std::ofstream(dir_ / "trace", std::ios::trunc); }

private:
    TempDir dir_;
    int initStatus_ = -1;
    std::unique_ptr<VantreldProcess> process_;
    int port_ = -1;
};

std::string text(const VantrelStr& str) { return str.c_str(); }

// A loopback port that was free a moment ago: nothing listens there.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class NodeHandleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.init());
        ASSERT_TRUE(sample_.ready());
        server_.reset(new VantrelServerHandle(sample_.id().c_str()));
    }
    void TearDown() override { server_.reset(); }

    // The node at `path`, which must exist.
    VantrelNodeHandle at(const char* path) {
        VantrelNodeHandle node;
        EXPECT_TRUE(VantrelResolveDisplayPath(*server_, path, node))
            << path << ": " << server_->lastError();
        return node;
    }

    VantrelClient library_;
    SampleServer sample_;
    std::unique_ptr<VantrelServerHandle> server_;
};

// ---------------------------------------------------------------------------- walking

// "path TYPE" for every node under `node`, depth first in the server's order.
void walk(VantrelNodeHandle& node, const std::string& path, std::vector<std::string>& out) {
    int count = 0;
    ASSERT_TRUE(node.getNumChildren(count)) << node.lastError();
    for (int i = 0; i < count; ++i) {
        VantrelNodeHandle child;
        ASSERT_TRUE(node.getChild(i, child)) << node.lastError();
        VantrelStr name, type;
        ASSERT_TRUE(child.getDisplayName(name));
        ASSERT_TRUE(child.getNodeTypeStr(type)) << child.lastError();
        const std::string childPath = path + "/" + text(name);
        out.push_back(childPath + " " + text(type));
        walk(child, childPath, out);
    }
}

TEST_F(NodeHandleTest, WalksTheSampleTree) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    VantrelNodeHandle root;
    ASSERT_TRUE(server_->getRootNode(root)) << server_->lastError();
    VantrelStr type;
    ASSERT_TRUE(root.getNodeTypeStr(type));
    EXPECT_EQ(text(type), "HOST");
    std::vector<std::string> tree;
    walk(root, "", tree);
    EXPECT_EQ(tree, (std::vector<std::string>{
                        "/Volume 1 VOLUME",
                        "/Volume 1/Commercial PROJECT",
                        "/Volume 1/Commercial/Shared Vault SHARED_VAULT",
                        "/Volume 1/Commercial/Shared Vault/Library A LIBRARY",
                        "/Volume 1/Commercial/Shared Vault/Library A/Reel 1 REEL",
                        "/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010 CLIP",
                        "/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 020 CLIP",
                        "/Volume 1/Commercial/Shared Vault/Library A/Dailies FOLDER",
                        "/Volume 1/Commercial/Shared Vault/Library A/Dailies/Take 1 CLIP",
                        "/Volume 1/Commercial/Shared Vault/Library A/Dailies/Nested FOLDER",
                        "/Volume 1/Commercial/Shared Vault/Library A/Dailies/Nested/Take 2 CLIP",
                        "/Volume 1/Commercial/Shared Vault/Bin 1 BIN",
                        "/Volume 1/Commercial/Shared Vault/Bin 1/" + std::string(CAFE_UTF8) +
                            " CLIP",
                        "/Volume 1/Feature Film PROJECT",
                        "/Volume 1/Feature Film/Vault SHARED_VAULT",
                        "/Volume 1/Feature Film/Vault/Main LIBRARY",
                        "/Volume 1/Feature Film/Vault/Main/Reel 1 REEL",
                        "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening CLIP",
                        "/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars CLIP",
                    }));
}

TEST_F(NodeHandleTest, DescribesAClip) {
    VantrelNodeHandle shot = at((std::string(REEL_PATH) + "/Shot 010").c_str());
    bool isClip = false;
    ASSERT_TRUE(shot.getIsClipNode(isClip));
    EXPECT_TRUE(isClip);
    VantrelClipFormat format;
    ASSERT_TRUE(shot.getClipFormat(format)) << shot.lastError();
    EXPECT_EQ(format.width(), 8);
    EXPECT_EQ(format.height(), 4);
    EXPECT_EQ(format.frameBufferSize(), 96);
    EXPECT_STREQ(format.formatTag(), "rgb");
    EXPECT_STREQ(format.metaData(), "first shot, wide");

    int frames = 0;
    ASSERT_TRUE(shot.getNumFrames(frames));
    EXPECT_EQ(frames, 3);
    VantrelStr frameId;
    ASSERT_TRUE(shot.getFrameId(2, frameId));
    EXPECT_FALSE(frameId.isEmpty());

    int streams = 0;
    ASSERT_TRUE(shot.getNumAvailableMetaDataStreams(streams));
    bool available = false;
    ASSERT_TRUE(shot.getIsMetaDataStreamAvailable("timecode", available));
    EXPECT_TRUE(available);
    ASSERT_TRUE(shot.getIsMetaDataStreamAvailable("timecod", available));
    EXPECT_FALSE(available);
    VantrelStr data;
    ASSERT_TRUE(shot.getMetaData("comments", nullptr, 0, data)) << shot.lastError();
    EXPECT_EQ(text(data), "first shot, wide");
    VantrelStr streamId;
    EXPECT_TRUE(shot.getStreamId(streamId));
    EXPECT_FALSE(streamId.isEmpty());

    VantrelNodeHandle parent;
    ASSERT_TRUE(shot.getParentNode(parent));
    VantrelStr parentName;
    ASSERT_TRUE(parent.getDisplayName(parentName));
    EXPECT_EQ(text(parentName), "Reel 1");
    EXPECT_EQ(&parent.getServer(), server_.get());
}

TEST_F(NodeHandleTest, IndexErrorsHaveTheirTexts) {
    VantrelNodeHandle reel = at(REEL_PATH);
    VantrelNodeHandle shot = at((std::string(REEL_PATH) + "/Shot 010").c_str());
    VantrelNodeHandle child;
    VantrelStr out("unchanged");
    const struct {
        std::function<bool()> call;
        const char* error;
    } cases[] = {
        {[&] { return reel.getChild(-1, child); }, "Child node index out of range"},
        {[&] { return reel.getChild(2, child); }, "Child node index out of range"},
        {[&] { return shot.getFrameId(-1, out); }, "Frame index out of range"},
        {[&] { return shot.getFrameId(3, out); }, "Frame index out of range"},
        {[&] { return shot.getFrameIdPath(-1, out); }, "Frame index out of range"},
        {[&] { return shot.getAvailableMetaDataStream(-1, out); },
         "Metadata stream index out of range"},
        {[&] { return shot.getAvailableMetaDataStream(2, out); },
         "Metadata stream index out of range"},
        {[&] { return shot.readFrame(3, nullptr, 0); }, "Frame index out of range"},
        {[&] { return shot.writeFrame(-1, "", 0); }, "Frame index out of range"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.call()) << c.error;
        EXPECT_STREQ(server_->lastError(), c.error);
    }
    EXPECT_EQ(text(out), "unchanged");
    // Unlike frame ids, a frame path beyond the known ones is an empty path.
    ASSERT_TRUE(shot.getFrameIdPath(3, out)) << shot.lastError();
    EXPECT_EQ(text(out), "");
}

TEST_F(NodeHandleTest, CreatesRenamesAndDestroysNodes) {
    VantrelNodeHandle dailies = at("/Volume 1/Commercial/Shared Vault/Library A/Dailies");
    int before = 0;
    ASSERT_TRUE(dailies.getNumChildren(before));

    VantrelNodeHandle folder;
    ASSERT_TRUE(dailies.createNode("Selects \"B\"", "FOLDER", folder)) << dailies.lastError();
    int after = 0;
    ASSERT_TRUE(dailies.getNumChildren(after));
    EXPECT_EQ(after, before + 1);  // the creator's cache knows its new child
    VantrelNodeHandle listed;
    ASSERT_TRUE(dailies.getChild(after - 1, listed));
    EXPECT_EQ(std::string(listed.getNodeId().id()), folder.getNodeId().id());

    const VantrelClipFormat format(16, 8, 24, 3, 16 * 8 * 3, 25.0f, 1.0f,
                                   VantrelClipFormat::progressive, "rgb", "text", "new clip");
    VantrelNodeHandle clip;
    ASSERT_TRUE(folder.createClipNode("Take 3", format, "CLIP", clip)) << folder.lastError();
    sample_.clearTrace();
    ASSERT_TRUE(clip.setNumFrames(4)) << clip.lastError();
    int frames = 0;
    ASSERT_TRUE(clip.getNumFrames(frames));
    EXPECT_EQ(frames, 4);
    // The creation format served the allocation, and the allocation filled the frame ids.
    EXPECT_EQ(sample_.methods(), (std::multiset<std::string>{"AllocateFramesEx"}));

    ASSERT_TRUE(clip.renameNode("Take 3 (alt)")) << clip.lastError();
    VantrelStr name;
    ASSERT_TRUE(clip.getDisplayName(name));
    EXPECT_EQ(text(name), "Take 3 (alt)");
    VantrelNodeHandle found;
    ASSERT_TRUE(VantrelResolveDisplayPath(
        *server_, "/Volume 1/Commercial/Shared Vault/Library A/Dailies/Selects \"B\"/Take 3 (alt)",
        found))
        << server_->lastError();

    // No frames left, for this handle and for the server.
    ASSERT_TRUE(clip.setNumFrames(0)) << clip.lastError();
    ASSERT_TRUE(clip.getNumFrames(frames));
    EXPECT_EQ(frames, 0);
    ASSERT_TRUE(VantrelNodeHandle(*server_, clip.getNodeId()).getNumFrames(frames));
    EXPECT_EQ(frames, 0);

    // The whole subtree goes: the folder and the clip in it.
    ASSERT_TRUE(folder.destroyNode()) << folder.lastError();
    int none = 0;
    EXPECT_FALSE(folder.getNumChildren(none));  // the node is gone: the server says so
    const std::string gone = folder.lastError();
    EXPECT_NE(gone, "");
    EXPECT_FALSE(VantrelNodeHandle(*server_, clip.getNodeId()).getDisplayName(name));
    EXPECT_NE(server_->lastError(), gone) << "each failure leaves its own text";
    VantrelNodeHandle fresh = at("/Volume 1/Commercial/Shared Vault/Library A/Dailies");
    ASSERT_TRUE(fresh.getNumChildren(after));
    EXPECT_EQ(after, before);
    // Successes leave the last failure's text, and every handle of the server reads it.
    EXPECT_STRNE(fresh.lastError(), "");
    EXPECT_STREQ(fresh.lastError(), folder.lastError());
}

TEST_F(NodeHandleTest, SetsAndGetsMetadata) {
    VantrelNodeHandle shot = at((std::string(REEL_PATH) + "/Shot 020").c_str());
    const char* note = "say \"hi\" \\ twice,\tthen\nstop";
    ASSERT_TRUE(shot.setMetaData("notes", note)) << shot.lastError();
    VantrelStr data;
    ASSERT_TRUE(shot.getMetaData("notes", "a filter", 2, data)) << shot.lastError();
    EXPECT_EQ(text(data), note);
}

TEST_F(NodeHandleTest, FramesAreReachedThroughTheServerHandle) {
    VantrelNodeHandle shot = at((std::string(REEL_PATH) + "/Shot 010").c_str());
    int readAheads = -1;
    ASSERT_TRUE(shot.getNbReadAheads(readAheads));
    EXPECT_EQ(readAheads, 0);  // not fetched yet
    ASSERT_TRUE(shot.activateReadAhead()) << shot.lastError();
    ASSERT_TRUE(shot.getNbReadAheads(readAheads));
    EXPECT_EQ(readAheads, 2);

    // Frame transfer itself belongs to the server handle; its answer is the node's answer.
    char buffer[96];
    ASSERT_TRUE(shot.readFrame(0, buffer, sizeof buffer)) << shot.lastError();
    EXPECT_EQ(buffer[1], 1);  // the sample frames count up from their index times 16
    EXPECT_FALSE(server_->readFrame("frame", buffer, sizeof buffer));
    EXPECT_STREQ("Unknown frame id: 'frame'", server_->lastError());
    EXPECT_TRUE(shot.writeFrame(1, buffer, sizeof buffer)) << shot.lastError();
}

// ---------------------------------------------------------------------------- display paths

TEST_F(NodeHandleTest, FindChildComparesDisplayNamesExactly) {
    VantrelNodeHandle reel = at(REEL_PATH);
    VantrelNodeHandle child;
    ASSERT_TRUE(VantrelFindChild(reel, "Shot 020", child)) << reel.lastError();
    VantrelStr name;
    ASSERT_TRUE(child.getDisplayName(name));
    EXPECT_EQ(text(name), "Shot 020");

    // A failed search leaves the output as it was given.
    VantrelNodeHandle other = at("/Volume 1/Feature Film");
    child = other;
    EXPECT_FALSE(VantrelFindChild(reel, "shot 020", child));
    EXPECT_STREQ(reel.lastError(), "No child named 'shot 020'");
    EXPECT_FALSE(VantrelFindChild(reel, "Shot 02", child));
    EXPECT_FALSE(VantrelFindChild(reel, nullptr, child));
    EXPECT_EQ(child.getNodeId(), other.getNodeId());
    VantrelNodeHandle bogus(*server_, "no such node");
    EXPECT_FALSE(VantrelFindChild(bogus, "Shot 010", child));  // the listing itself fails
    EXPECT_EQ(child.getNodeId(), other.getNodeId());

    // The parent may receive the child.
    ASSERT_TRUE(VantrelFindChild(reel, "Shot 010", reel));
    ASSERT_TRUE(reel.getDisplayName(name));
    EXPECT_EQ(text(name), "Shot 010");
}

TEST_F(NodeHandleTest, ResolveDisplayPathVisitsOnlyTheNamedComponents) {
    sample_.clearTrace();
    VantrelNodeHandle node;
    ASSERT_TRUE(VantrelResolveDisplayPath(*server_, "/Volume 1//Commercial/", node))
        << server_->lastError();
    VantrelStr name;
    ASSERT_TRUE(node.getDisplayName(name));
    EXPECT_EQ(text(name), "Commercial");
    // The root's children, then those of "Volume 1": two lists, nothing more.
    EXPECT_EQ(sample_.methods().count("GetChildrenEx"), 2u);

    ASSERT_TRUE(VantrelResolveDisplayPath(*server_, "\\Volume 1\\.\\Feature Film", node));
    ASSERT_TRUE(node.getDisplayName(name));
    EXPECT_EQ(text(name), "Feature Film");

    ASSERT_TRUE(VantrelResolveDisplayPath(*server_, "/", node));
    VantrelStr type;
    ASSERT_TRUE(node.getNodeTypeStr(type));
    EXPECT_EQ(text(type), "HOST");

    // A path that is not found leaves the output on the node it held, not on the last
    // component that was found.
    ASSERT_TRUE(VantrelResolveDisplayPath(*server_, "/Volume 1/Feature Film", node));
    const VantrelNodeId film = node.getNodeId();
    for (const char* missing : {"/Volume 1/Nope", "/Volume 1/Nowhere/Commercial", "/Nope"}) {
        EXPECT_FALSE(VantrelResolveDisplayPath(*server_, missing, node)) << missing;
        EXPECT_EQ(node.getNodeId(), film) << missing;
    }
}

TEST(NodeDisplayPath, ResolvingFailsWhenTheRootCannotBeHad) {
    VantrelClient library;
    ASSERT_TRUE(library.init());
    VantrelServerHandle server;
    VantrelServerHandle unreachable(("127.0.0.1:" + std::to_string(closedPort())).c_str());
    VantrelNodeHandle node(server, "unchanged");
    EXPECT_FALSE(VantrelResolveDisplayPath(unreachable, "/Volume 1", node));
    EXPECT_STRNE(unreachable.lastError(), "");
    EXPECT_STREQ(node.getNodeId().id(), "unchanged");
}

// ---------------------------------------------------------------------------- locales

// Every text a node handle exchanges with a server (names, frame paths, metadata stream
// names) crosses the wire in UTF-8: sent from the locale's encoding, read back into it.
TEST_F(NodeHandleTest, TextsSentAndReadBackFollowTheLocale) {
    const char* const binPath = "/Volume 1/Commercial/Shared Vault/Bin 1";
    const char* const unicode = "\xc3\x9cn\xc3\xaf""c\xc3\xb8""d\xc3\xa9 test";
    const char* const mediaPath = "/media/caf\xc3\xa9/0001.dpx";
    const char* const stream = "notes-\xc3\xa9t\xc3\xa9";
    VantrelNodeId utf8Clip, asciiClip;
    {
        // A UTF-8 locale: every text passes unchanged, both ways.
        ScopedLocale utf8("C.UTF-8");
        ASSERT_TRUE(utf8.ok());
        VantrelNodeHandle bin = at(binPath);
        VantrelNodeHandle clip;
        ASSERT_TRUE(VantrelFindChild(bin, CAFE_UTF8, clip)) << bin.lastError();
        VantrelNodeHandle byId(*server_, clip.getNodeId());
        VantrelStr name;
        ASSERT_TRUE(byId.getDisplayName(name)) << byId.lastError();
        EXPECT_EQ(text(name), CAFE_UTF8);

        VantrelNodeHandle created;
        ASSERT_TRUE(bin.createNode(unicode, "CLIP", created)) << bin.lastError();
        utf8Clip = created.getNodeId();
        const VantrelStr paths[] = {mediaPath};
        ASSERT_TRUE(created.linkToFrames(paths, 1)) << created.lastError();
        ASSERT_TRUE(created.setMetaData(stream, "<x/>")) << created.lastError();

        VantrelNodeHandle reread(*server_, utf8Clip);
        ASSERT_TRUE(reread.getDisplayName(name));
        EXPECT_EQ(text(name), unicode);
        VantrelStr path;
        ASSERT_TRUE(reread.getFrameIdPath(0, path)) << reread.lastError();
        EXPECT_EQ(text(path), mediaPath);
        bool available = false;
        ASSERT_TRUE(reread.getIsMetaDataStreamAvailable(stream, available));
        EXPECT_TRUE(available);
        ASSERT_TRUE(reread.getMetaData(stream, nullptr, 0, name)) << reread.lastError();
        EXPECT_EQ(text(name), "<x/>");
        VantrelStr translated;  // no rule matches: the server gives the path back
        ASSERT_TRUE(server_->translatePath(mediaPath, translated, "alpha", "beta",
                                           VantrelOS::Linux, VantrelOS::Linux));
        EXPECT_EQ(text(translated), mediaPath);
    }
    {
        // The C locale holds ASCII only: characters it cannot hold become "?" on the way in,
        // in lists and in single names alike; bytes that are no character of it end the text
        // sent with "?", so that nothing the server stores was left unconverted.
        ScopedLocale ascii("C");
        ASSERT_TRUE(ascii.ok());
        VantrelNodeHandle bin = at(binPath);
        VantrelNodeHandle clip;
        ASSERT_TRUE(VantrelFindChild(bin, "Coucher de soleil ? caf?", clip)) << bin.lastError();
        VantrelNodeHandle byId(*server_, clip.getNodeId());
        VantrelStr name;
        ASSERT_TRUE(byId.getDisplayName(name)) << byId.lastError();
        EXPECT_EQ(text(name), "Coucher de soleil ? caf?");

        VantrelNodeHandle reread(*server_, utf8Clip);
        ASSERT_TRUE(reread.getDisplayName(name));
        EXPECT_EQ(text(name), "?n?c?d? test");
        VantrelStr path;
        ASSERT_TRUE(reread.getFrameIdPath(0, path));
        EXPECT_EQ(text(path), "/media/caf?/0001.dpx");
        ASSERT_TRUE(reread.getAvailableMetaDataStream(0, name));
        EXPECT_EQ(text(name), "notes-?t?");
        ASSERT_TRUE(server_->translatePath("/media/r\xc3\xa9sum\xc3\xa9", path, "alpha", "beta",
                                           VantrelOS::Linux, VantrelOS::Linux));
        EXPECT_EQ(text(path), "/media/r?");

        VantrelNodeHandle created;
        ASSERT_TRUE(bin.createNode("Caf\xc3\xa9 noir", "CLIP", created)) << bin.lastError();
        asciiClip = created.getNodeId();
        ASSERT_TRUE(created.getDisplayName(name));
        EXPECT_EQ(text(name), "Caf?") << "the name as the server gives it back";
        const VantrelStr paths[] = {mediaPath};
        ASSERT_TRUE(created.linkToFrames(paths, 1)) << created.lastError();
        ASSERT_TRUE(created.renameNode("R\xc3\xa9sum\xc3\xa9 noir")) << created.lastError();
    }
    {
        // What the C locale sent is what the server keeps.
        ScopedLocale utf8("C.UTF-8");
        VantrelNodeHandle reread(*server_, asciiClip);
        VantrelStr name, path;
        ASSERT_TRUE(reread.getDisplayName(name)) << reread.lastError();
        EXPECT_EQ(text(name), "R?");
        ASSERT_TRUE(reread.getFrameIdPath(0, path)) << reread.lastError();
        EXPECT_EQ(text(path), "/media/caf?");
    }
}

// Servers older than the attribute-stream forms get and give their texts by the same rule.
TEST(NodeHandleLocale, OlderGenerationsFollowTheSameRule) {
    VantrelClient library;
    ASSERT_TRUE(library.init());
    SampleServer sample("2012.0.0.5133");
    ASSERT_TRUE(sample.ready());
    VantrelServerHandle server(sample.id().c_str());
    ScopedLocale ascii("C");
    ASSERT_TRUE(ascii.ok());
    VantrelNodeHandle bin;
    ASSERT_TRUE(VantrelResolveDisplayPath(server, "/Volume 1/Commercial/Shared Vault/Bin 1", bin))
        << server.lastError();
    VantrelNodeHandle clip;
    ASSERT_TRUE(VantrelFindChild(bin, "Coucher de soleil ? caf?", clip)) << server.lastError();
    VantrelNodeHandle created;
    ASSERT_TRUE(bin.createNode("Caf\xc3\xa9 noir", "CLIP", created)) << server.lastError();
    VantrelNodeHandle reread(server, created.getNodeId());
    VantrelStr name;
    ASSERT_TRUE(reread.getDisplayName(name)) << server.lastError();
    EXPECT_EQ(text(name), "Caf?");
    EXPECT_EQ(sample.methods().count("GetDisplayName"), 1u);
    EXPECT_EQ(sample.methods().count("CreateNode"), 1u);
}

// ---------------------------------------------------------------------------- generations

// The request form each generation of servers receives for each versioned operation. An
// empty form means the operation sends no request there.
struct Generation {
    const char* version;
    const char* createNode;
    const char* getChildren;
    const char* getDisplayName;
    const char* allocateFrames;
    const char* getFrames;
    const char* linkToFrames;
    const char* getFramePaths;
    const char* setMetaData;
    const char* canCreateNode;
};

const Generation GENERATIONS[] = {
    {"2012.0.0.5133", "CreateNode", "GetChildren", "GetDisplayName", "AllocateFrames",
     "GetFrames", "SetFramePaths", "GetFramePaths", "SetMetaData", ""},
    {"2012.0.0.5134", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFrames",
     "GetFrames", "SetFramePaths", "GetFramePaths", "SetMetaData", ""},
    {"2013.1.0.6114", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFrames",
     "GetFrames", "SetFramePathsEx", "GetFramePathsEx", "SetMetaData", ""},
    {"2013.1.0.6115", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFramesEx",
     "GetFramesEx", "SetFramePathsEx", "GetFramePathsEx", "SetMetaData", ""},
    {"2.4.9.9", "CreateNode", "GetChildren", "GetDisplayName", "AllocateFrames", "GetFrames", "",
     "", "", ""},
    {"2.5.0.0", "CreateNode", "GetChildren", "GetDisplayName", "AllocateFrames", "GetFrames", "",
     "", "SetMetaData", ""},
    {"2.6.0.9", "CreateNode", "GetChildren", "GetDisplayName", "AllocateFrames", "GetFrames", "",
     "", "SetMetaData", ""},
    {"2.6.1.0", "CreateNode", "GetChildren", "GetDisplayName", "AllocateFrames", "GetFrames",
     "SetFramePaths", "GetFramePaths", "SetMetaData", ""},
    {"2012.1.1.5758", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFrames",
     "GetFrames", "SetFramePathsEx", "GetFramePathsEx", "SetMetaData", ""},
    {"2014.9.9.9999", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFramesEx",
     "GetFramesEx", "SetFramePathsEx", "GetFramePathsEx", "SetMetaData", ""},
    {"2015.0.0.0", "CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx", "AllocateFramesEx",
     "GetFramesEx", "SetFramePathsEx", "GetFramePathsEx", "SetMetaData", "CanCreateNode"},
};

void PrintTo(const Generation& generation, std::ostream* out) { *out << generation.version; }

// Of the request forms `forms` of one operation, the server received `expected` and no other
// (none at all when `expected` is empty).
void expectForm(const std::multiset<std::string>& received, const char* expected,
                std::vector<const char*> forms, const char* what) {
    for (const char* form : forms) {
        if (std::string(form) == expected)
            EXPECT_GT(received.count(form), 0u) << what << ": " << form << " expected";
        else
            EXPECT_EQ(received.count(form), 0u) << what << ": " << form << " not expected";
    }
}

class GenerationTest : public ::testing::TestWithParam<Generation> {};

TEST_P(GenerationTest, ReceivesTheFormsOfItsGeneration) {
    const Generation& g = GetParam();
    VantrelClient library;
    ASSERT_TRUE(library.init());
    SampleServer sample(g.version);
    ASSERT_TRUE(sample.ready()) << g.version;
    VantrelServerHandle server(sample.id().c_str());

    // Walking by display name lists children and compares the names the lists carry.
    VantrelNodeHandle reel;
    ASSERT_TRUE(VantrelResolveDisplayPath(server, REEL_PATH, reel)) << server.lastError();
    VantrelNodeHandle shot;
    ASSERT_TRUE(VantrelFindChild(reel, "Shot 010", shot)) << server.lastError();
    const std::multiset<std::string> walking = sample.methods();
    expectForm(walking, g.getChildren, {"GetChildren", "GetChildrenEx"}, "children");
    EXPECT_EQ(walking.count("GetDisplayName") + walking.count("GetDisplayNameEx"), 0u);

    // A node named by id alone asks for its display name.
    VantrelNodeHandle byId(server, reel.getNodeId());
    VantrelStr name;
    ASSERT_TRUE(byId.getDisplayName(name)) << server.lastError();
    EXPECT_EQ(text(name), "Reel 1");

    int frames = 0;
    ASSERT_TRUE(shot.getNumFrames(frames)) << server.lastError();
    EXPECT_EQ(frames, 3);

    VantrelNodeHandle clip;
    ASSERT_TRUE(reel.createClipNode("Shot 030", VantrelClipFormat(8, 4, 24, 3, 96, 24.0f, 1.0f,
                                                                  VantrelClipFormat::progressive,
                                                                  "rgb", "text", "new"),
                                    "CLIP", clip))
        << server.lastError();
    ASSERT_TRUE(clip.setNumFrames(2)) << server.lastError();

    const bool linking = *g.linkToFrames != '\0';
    const VantrelStr paths[] = {"/media/shot030.0001.dpx", "/media/shot030.0002.dpx"};
    EXPECT_EQ(clip.linkToFrames(paths, 2), linking) << server.lastError();
    if (!linking) {
        EXPECT_STREQ(server.lastError(), "Server does not support linking to existing media files.");
    }
    VantrelStr path("unchanged");
    ASSERT_TRUE(VantrelNodeHandle(server, clip.getNodeId()).getFrameIdPath(0, path))
        << server.lastError();
    EXPECT_EQ(text(path), linking ? "/media/shot030.0001.dpx" : "");  // too old to tell: none

    const bool settingMetaData = *g.setMetaData != '\0';
    EXPECT_EQ(shot.setMetaData("notes", "checked"), settingMetaData) << server.lastError();
    if (!settingMetaData) {
        EXPECT_STREQ(server.lastError(), "Functionality not supported on remote Vantrel server.");
    }

    bool can = false;
    ASSERT_TRUE(reel.canCreateNode("CLIP", can)) << server.lastError();
    EXPECT_TRUE(can);
    ASSERT_TRUE(shot.canCreateNode("CLIP", can)) << server.lastError();
    EXPECT_FALSE(can);

    const std::multiset<std::string> received = sample.methods();
    expectForm(received, g.createNode, {"CreateNode", "CreateNodeEx"}, "create");
    expectForm(received, g.getDisplayName, {"GetDisplayName", "GetDisplayNameEx"}, "name");
    expectForm(received, g.allocateFrames, {"AllocateFrames", "AllocateFramesEx"}, "allocate");
    expectForm(received, g.getFrames, {"GetFrames", "GetFramesEx"}, "frames");
    expectForm(received, g.linkToFrames, {"SetFramePaths", "SetFramePathsEx"}, "link");
    expectForm(received, g.getFramePaths, {"GetFramePaths", "GetFramePathsEx"}, "paths");
    expectForm(received, g.setMetaData, {"SetMetaData"}, "metadata");
    expectForm(received, g.canCreateNode, {"CanCreateNode"}, "can create");

    // A comma in a node id: refused before sending by the comma-separated forms only.
    VantrelNodeHandle comma(server, "reel 6,7");
    int count = 0;
    sample.clearTrace();
    EXPECT_FALSE(comma.getNumChildren(count));
    if (std::string(g.getChildren) == "GetChildren") {
        EXPECT_STREQ(server.lastError(), "Invalid node id: 'reel 6,7'.");
        EXPECT_TRUE(sample.requests().empty());
    } else {
        EXPECT_EQ(sample.requests().size(), 1u);  // sent, and refused by the server
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, GenerationTest, ::testing::ValuesIn(GENERATIONS),
                         [](const ::testing::TestParamInfo<Generation>& info) {
                             std::string name = info.param.version;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return "v" + name;
                         });

// Below 2015.0.0.0 the client answers from its own table of parent types; a type outside it
// is an error. The server must answer a type no sound server has: a serving side of our own.
TEST(NodeCreationRules, UnlistedParentTypeIsAnError) {
    VantrelClient library;
    ASSERT_TRUE(library.init());
    clienttest::FakeNodeServer fake;
    fake.playVersion(2014, 0, 0, 0);
    fake.answer("GetNodeTypeStr", "WIDGET");
    VantrelServerHandle server(fake.serverId().c_str());
    VantrelNodeHandle node(server, "9");
    bool can = true;
    EXPECT_FALSE(node.canCreateNode("CLIP", can));
    EXPECT_STREQ(server.lastError(), "Unhandled parent node type 'WIDGET'");
}

// ---------------------------------------------------------------------------- large lists

// An hour of frames at 24 fps, in the newest forms and in the oldest that link files: the
// frame ids and the linked paths come back whole and in order to a handle that knew nothing.
class LargeListTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LargeListTest, AnHourOfFramesIsListedWhole) {
    const int FRAMES = 86400;
    VantrelClient library;
    ASSERT_TRUE(library.init());
    SampleServer sample(GetParam());
    ASSERT_TRUE(sample.ready());
    VantrelServerHandle server(sample.id().c_str());
    VantrelNodeHandle shot;
    ASSERT_TRUE(VantrelResolveDisplayPath(server, (std::string(REEL_PATH) + "/Shot 020").c_str(),
                                          shot))
        << server.lastError();

    ASSERT_TRUE(shot.setNumFrames(FRAMES)) << server.lastError();
    std::vector<std::string> ids(FRAMES);
    for (int i = 0; i < FRAMES; ++i) {
        VantrelStr id;
        ASSERT_TRUE(shot.getFrameId(i, id)) << i;
        ids[i] = text(id);
    }
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), size_t(FRAMES));
    VantrelNodeHandle fresh(server, shot.getNodeId());
    int count = 0, wrong = 0;
    ASSERT_TRUE(fresh.getNumFrames(count)) << server.lastError();
    ASSERT_EQ(count, FRAMES);
    for (int i = 0; i < FRAMES; ++i) {
        VantrelStr id;
        wrong += !fresh.getFrameId(i, id) || text(id) != ids[i];
    }
    EXPECT_EQ(wrong, 0);

    std::vector<VantrelStr> paths;
    for (int i = 0; i < FRAMES; ++i)
        paths.emplace_back(("/media/hour/frame." + std::to_string(100000 + i) + ".dpx").c_str());
    ASSERT_TRUE(shot.linkToFrames(paths.data(), FRAMES)) << server.lastError();
    VantrelNodeHandle linked(server, shot.getNodeId());
    for (int i = 0; i < FRAMES; ++i) {
        VantrelStr path;
        wrong += !linked.getFrameIdPath(i, path) || text(path) != text(paths[i]);
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Forms, LargeListTest, ::testing::Values("2015.0.0.5858", "2.6.1.0"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? std::string("Counted") : "Comma";
                         });

}  // namespace
