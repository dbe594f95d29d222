// vantreld driven over the wire with rcAPI, as a separate process on a loopback port.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>

#include "VantreldProcess.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/SampleTree.h"
#include "vantrel/server/ServerTestSupport.h"

using namespace vantreld;
using vantreld::testing::stream;
using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;

namespace {

// The sample tree: host (1) / Volume 1 (2) / Commercial (3) / Shared Vault (4) / Library A
// (5) / Reel 1 (6): Shot 010 (clip 7, 3 frames), Shot 020 (clip 8); Dailies (folder 9):
// Take 1 (clip 10), Nested (folder 11) ...; Bin 1 (13): clip 14 (a non-ASCII name).
class VantreldWire : public ::testing::Test {
protected:
    void SetUp() override {
        NodeStore store(tree(), ServerFiles::Sync::FAST);
        makeSampleTree(store);
        storageId_ = store.storageId();
    }

    std::string tree() const { return dir_ / "tree"; }

    // Starts vantreld on the tree with `extra` options and connects a client to it.
    void start(std::vector<std::string> extra = {}) {
        client_.reset();
        server_.reset();  // one server at a time holds the tree
        extra.insert(extra.end(), {"--port", "0", tree()});
        server_.reset(new VantreldProcess(extra));
        port_ = server_->waitUntilReady();
        ASSERT_GT(port_, 0) << server_->printed();
        client_.reset(new Vantrel::rcAPI);
        ASSERT_TRUE(client_->connect("127.0.0.1", port_, 5000)) << client_->lastError();
    }

    Vantrel::rcAPI& client() { return *client_; }

    std::string ok(const std::string& method, const std::string& args = std::string()) {
        std::string reply;
        EXPECT_TRUE(client_->call(0, method.c_str(), args.c_str(), true, reply, 10000))
            << method << "(" << args << "): " << reply;
        return reply;
    }
    std::string error(const std::string& method, const std::string& args = std::string()) {
        std::string reply;
        EXPECT_FALSE(client_->call(0, method.c_str(), args.c_str(), true, reply, 10000))
            << method << "(" << args << ") gave " << reply;
        return reply;
    }

    TempDir dir_;
    std::string storageId_;
    std::unique_ptr<VantreldProcess> server_;
    std::unique_ptr<Vantrel::rcAPI> client_;
    int port_ = -1;
};

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

struct Exchange {
    const char* method;
    std::string args;
    std::string reply;
};

}  // namespace

TEST_F(VantreldWire, ServerLevelMethods) {
    const std::string config = dir_ / "vantreld.cfg";
    std::ofstream(config)
        << "[Server]\nDisplayName = Wire Test\n"
           "[HostTranslation 0]\nSrcHost = alpha\nSrcPath = /mnt\nDstHost = beta\nDstPath = "
           "/Volumes\n"
           "[OsTypeTranslation 0]\nSrcType = Linux\nSrcPath = /mnt\nDstType = WindowsNT\nDstPath = "
           "M:\n"
           "[TranslationGroup 0]\nName = studio\nNumber = 2\nHosts = alpha, beta\n";
    start({"--config", config});
    EXPECT_EQ(ok("Ping"), "");
    EXPECT_EQ(ok("QueryVersion"), "2015 0");

    const std::string record = ok("GetDaemonInfo", "\"\"");
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(record)};
    EXPECT_EQ(info.getNodePort(), port_);
    EXPECT_STREQ(info.getIPAddr(0), "127.0.0.1");
    EXPECT_STREQ(info.getDisplayName(), "Wire Test");
    EXPECT_STREQ(info.getDatabase(), "QLXFS");
    EXPECT_STREQ(info.getStorageId(), storageId_.c_str());
    EXPECT_EQ(info.getVersionBuild(), 5858);
    EXPECT_EQ(ok("GetDaemonList"),
              "Count 1 1Node0 " + std::to_string(record.size()) + " " + record);

    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"beta\" 2 \"/mnt/a b\",\"/x\""),
              "/Volumes/a b,/x");
    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"gamma\" 3 \"/mnt/d/f\""), "M:\\d\\f");
    EXPECT_EQ(ok("GetHostTranslations"),
              "numHostTranslations 1 10 61 srcHost 5 alphasrcPath 4 /mntdstHost 4 betadstPath 8 "
              "/Volumes");
    EXPECT_EQ(ok("GetOsTypeTranslations"),
              "numOsTypeTranslations 1 10 60 srcType 5 LinuxsrcPath 4 /mntdstType 9 "
              "WindowsNTdstPath 2 M:");
    EXPECT_EQ(ok("GetTranslationGroups"), "numGroups 1 10 19 studio,2,alpha,beta");

    const std::string subscription =
        stream({{"Port", "4100"}, {"Connection", "1"}, {"Subject", "clip 7"}});
    EXPECT_EQ(ok("RegisterEvents", subscription), "");
    EXPECT_EQ(ok("UnregisterEvents", subscription), "");
}

TEST_F(VantreldWire, ShutdownStopsTheServer) {
    start();
    EXPECT_EQ(ok("Shutdown"), "");
    EXPECT_EQ(server_->waitForExit(5000), 0);
}

TEST_F(VantreldWire, NodeMethodsInBothFormsByteForByte) {
    start();
    const Exchange reads[] = {
        {"GetRootNode", "", "host"},
        {"GetChildren", "\"library 5\"", "reel 6,Reel 1,folder 9,Dailies"},
        {"GetChildrenEx", "\"library 5\"",
         "0 25 Id 6 reel 6Displ 6 Reel 11 28 Id 8 folder 9Displ 7 Dailies"},
        {"GetClipFormat", "\"clip 7\"", "8 4 24 3 96 1 24 rgb 4 text first shot, wide"},
        {"GetFrames", "\"clip 7\"", "7.0,7.1,7.2"},
        {"GetFramesEx", stream({{"Node", "clip 7"}}), "3 3 7.03 7.13 7.2"},
        {"GetParentNode", stream({{"Node", "clip 7"}}), "reel 6"},
        {"GetNodeType", "\"clip 7\"", "1 9"},
        {"GetNodeTypeStr", "\"reel 6\"", "REEL"},
        {"GetDisplayName", "\"clip 14\"", "Coucher de soleil \xe2\x80\x94 caf\xc3\xa9"},
        {"GetDisplayNameEx", "\"clip 14\"", "Coucher de soleil \xe2\x80\x94 caf\xc3\xa9"},
        {"GetNbReadAheads", "\"clip 7\"", "2"},
        {"QueryMetaDataSupport", "\"clip 7\"", "comments,timecode"},
        {"GetMetaData", "\"clip 7\" comments  0", "first shot, wide"},
        {"GetStreamId", "\"clip 7\"", "stream-7"},
        {"GetStorageId", "", storageId_},
        {"QueryNodePlugInVendor", "", "Vantrel"},
        {"QueryNodePlugInProduct", "", "vantreld"},
        {"QueryNodePlugInVersion", "", "1 0"},
        {"CanCreateNode", stream({{"Node", "reel 6"}, {"ExtendedType", "CLIP"}}), "TRUE"},
        {"CanCreateNode", stream({{"Node", "clip 7"}, {"ExtendedType", "CLIP"}}), "FALSE"},
    };
    for (const Exchange& e : reads) EXPECT_EQ(ok(e.method, e.args), e.reply) << e.method;

    // Serials continue after those the sample tree reserved.
    const std::string fmt =
        "w 1 2h 1 1bpp 2 24nch 1 3sz 1 6asp 1 1rate 2 25fmt 3 rgbscan 1 4metag 4 nonemeta 2 ex";
    const Exchange changes[] = {
        {"CreateNode", "\"folder 9\" \"Old, one\" 0 CLIP 2 1 24 3 6 1 25 rgb 4 none \"meta data\"",
         "clip 257"},
        {"GetClipFormat", "\"clip 257\"", "2 1 24 3 6 1 25 rgb 4 none meta data"},
        {"CreateNodeEx",
         stream({{"Parent", "folder 9"},
                 {"Displ", "New one"},
                 {"Type", "0"},
                 {"ExType", "CLIP"},
                 {"Fmt", fmt}}),
         "clip 258"},
        {"GetClipFormat", "\"clip 258\"", "2 1 24 3 6 1 25 rgb 4 none ex"},
        {"AllocateFrames", "\"clip 257\" 2 ", "257.0,257.1"},
        {"AllocateFramesEx", stream({{"Node", "clip 258"}, {"NumFrames", "1"}, {"Fmt", fmt}}),
         "1 5 258.0"},
        {"SetFramePaths", "\"clip 257\" alpha 2 6.1.0 /m/a,/m/b c", ""},
        {"GetFramePaths", "\"clip 257\" alpha 2 \"6.1.0\"", "/m/a,/m/b c"},
        {"SetFramePathsEx",
         stream({{"Parent", "clip 258"},
                 {"Paths", "1 4 /m/c"},
                 {"HostName", "alpha"},
                 {"OSType", "2"},
                 {"OSVersion", "6.1.0"},
                 {"Fmt", fmt}}),
         ""},
        {"GetFramePathsEx",
         stream({{"Parent", "clip 258"},
                 {"HostName", "alpha"},
                 {"OSType", "2"},
                 {"OSVersion", "6.1.0"}}),
         "1 4 /m/c"},
        {"SetMetaData", "\"clip 257\" notes \"two \\\"words\\\"\"", ""},
        {"GetMetaData", "\"clip 257\" notes \"a filter\" 1", "two \"words\""},
        {"RenameNode", stream({{"Node", "clip 257"}, {"Displ", "Renamed"}}), "clip 257"},
        {"DestroyNode", "\"clip 258\"", ""},
        {"GetChildren", "\"folder 9\"", "clip 10,Take 1,folder 11,Nested,clip 257,Renamed"},
    };
    for (const Exchange& e : changes) EXPECT_EQ(ok(e.method, e.args), e.reply) << e.method;

    // Everything is on disk: a restarted server tells the same.
    start();
    EXPECT_EQ(ok("GetChildren", "\"folder 9\""),
              "clip 10,Take 1,folder 11,Nested,clip 257,Renamed");
    EXPECT_EQ(ok("GetFramePaths", "\"clip 257\" alpha 2 \"6.1.0\""), "/m/a,/m/b c");
    EXPECT_EQ(ok("GetMetaData", "\"clip 257\" notes  0"), "two \"words\"");
}

TEST_F(VantreldWire, BadRequestsGetClearErrorsAndTheServerStaysUp) {
    start();
    const std::string before = ok("GetChildrenEx", "\"library 5\"");
    EXPECT_EQ(error("GetChildren", "\"clip 99\""), "Unknown node id: 'clip 99'");
    EXPECT_EQ(error("GetDisplayName", "\"clip 7"),
              "Malformed argument: unterminated quote in '\"clip 7'");
    EXPECT_EQ(
        error("CreateNodeEx", stream({{"Parent", "reel 6"}, {"Displ", "F"}, {"ExType", "FOLDER"}})),
        "Cannot create a FOLDER node under REEL node 'reel 6'");
    EXPECT_EQ(error("CreateNodeEx",
                    stream({{"Parent", "reel 6"}, {"Displ", "Shot 010"}, {"ExType", "CLIP"}})),
              "A node named 'Shot 010' already exists under 'reel 6'");
    EXPECT_EQ(error("AllocateFramesEx", stream({{"Node", "clip 7"}})),
              "Malformed argument: missing 'NumFrames'");
    EXPECT_EQ(error("NoSuchMethod", "x"), "Unknown method: NoSuchMethod");
    EXPECT_EQ(ok("Ping"), "");
    EXPECT_EQ(ok("GetChildrenEx", "\"library 5\""), before);
    EXPECT_EQ(ok("GetFrames", "\"clip 7\""), "7.0,7.1,7.2");
}

TEST_F(VantreldWire, AnOlderGenerationAnswersNewerMethodsAsUnknown) {
    start({"--protocol-version", "2012.0.0.5133"});
    EXPECT_EQ(error("GetChildrenEx", "\"library 5\""), "Unknown method: GetChildrenEx");
    EXPECT_EQ(
        error("CreateNodeEx", stream({{"Parent", "reel 6"}, {"Displ", "x"}, {"ExType", "CLIP"}})),
        "Unknown method: CreateNodeEx");
    EXPECT_EQ(error("CanCreateNode", stream({{"Node", "reel 6"}, {"ExtendedType", "CLIP"}})),
              "Unknown method: CanCreateNode");
    EXPECT_EQ(ok("GetChildren", "\"library 5\""), "reel 6,Reel 1,folder 9,Dailies");
    EXPECT_EQ(ok("QueryVersion"), "2012 0");
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(ok("GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info.getVersionBuild(), 5133);
}

TEST_F(VantreldWire, TraceFileNamesEachRequestWithItsArguments) {
    const std::string trace = dir_ / "trace.log";
    start({"--trace", trace});
    ok("GetChildren", "\"library 5\"");
    error("GetChildrenEx", "a\tb");
    std::ifstream file(trace);
    std::string first, second;
    std::getline(file, first);
    std::getline(file, second);
    // Time, client, request, result; tabs inside the texts are escaped.
    const std::regex time("20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");
    const std::regex client("#[0-9]+ 127\\.0\\.0\\.1");
    const std::vector<std::string> a = fields(first), b = fields(second);
    ASSERT_EQ(a.size(), 4u) << first;
    ASSERT_EQ(b.size(), 4u) << second;
    EXPECT_TRUE(std::regex_match(a[0], time)) << first;
    EXPECT_TRUE(std::regex_match(a[1], client)) << first;
    EXPECT_EQ(a[2], "GetChildren \"library 5\"");
    EXPECT_EQ(a[3], "ok 30 bytes");
    EXPECT_EQ(b[1], a[1]);
    EXPECT_EQ(b[2], "GetChildrenEx a\\tb");
    EXPECT_EQ(b[3], "error: Unknown node id: 'a\\tb'");
}
