// The subcommands that look without changing: servers, info, ls, tree, stat, frames,
// translate; for people and as JSON, against real vantreld processes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using nlohmann::json;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolResult;

const std::string REEL = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1";
const std::string OPENING = "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening";

// The JSON document of a successful run.
json runJson(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return json::parse(result.out, nullptr, false);
}

std::string runText(const std::vector<std::string>& args) {
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
}

TEST(ToolBrowse, ServersListsWhatDiscoveryFinds) {
    const int group = client_testing::freeLoopbackPort();
    const std::string discovery = "[SelfDiscovery]\nPort = " + std::to_string(group) + "\n";
    SampleServer a({}, discovery + "[Server]\nDisplayName = Studio A\nDatabase = ALPHA\n");
    SampleServer b({}, discovery + "[Server]\nDisplayName = Studio B\nDatabase = BETA\n");
    ASSERT_TRUE(a.running() && b.running());
    TempDir dir;
    std::ofstream(dir / "network.cfg") << discovery;
    const std::vector<std::string> env{"VANTREL_NETWORK_CFG=" + dir / "network.cfg"};

    const ToolResult all = runTool({"--json", "servers"}, "", env);
    ASSERT_EQ(all.status, 0) << all.err;
    std::set<std::string> found;
    const json doc = json::parse(all.out);
    for (const json& server : doc["servers"])
        found.insert(server["displayName"].get<std::string>() + " " +
                     server["server"].get<std::string>());
    EXPECT_EQ(found, (std::set<std::string>{"Studio A " + a.id(), "Studio B " + b.id()}));

    const ToolResult beta = runTool({"servers", "--database", "BETA"}, "", env);
    ASSERT_EQ(beta.status, 0) << beta.err;
    EXPECT_NE(beta.out.find(b.id()), std::string::npos) << beta.out;
    EXPECT_NE(beta.out.find("Studio B"), std::string::npos) << beta.out;
    EXPECT_EQ(beta.out.find("Studio A"), std::string::npos) << beta.out;

    const ToolResult none = runTool({"servers", "--database", "GAMMA"}, "", env);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No servers found.\n");
}

// An IPv6 server is listed as [ADDRESS]:PORT, and that text names it wherever an id is read.
TEST(ToolBrowse, IPv6ServersAreNamedInBrackets) {
    const int group = client_testing::freeLoopbackPort();
    const std::string discovery = "[SelfDiscovery]\nPort = " + std::to_string(group) + "\n";
    SampleServer server({"--listen", "::1"}, discovery);
    ASSERT_TRUE(server.running());
    TempDir dir;
    std::ofstream(dir / "network.cfg") << discovery;
    const std::vector<std::string> env{"VANTREL_NETWORK_CFG=" + dir / "network.cfg"};
    const std::string id = "[::1]:" + std::to_string(server.port());

    const ToolResult found = runTool({"--json", "servers"}, "", env);
    ASSERT_EQ(found.status, 0) << found.err;
    const json servers = json::parse(found.out)["servers"];
    ASSERT_EQ(servers.size(), 1u) << found.out;
    EXPECT_EQ(servers[0]["server"], id);

    EXPECT_NE(runText({"ping", id}).find(id + " answers in "), std::string::npos);
    EXPECT_EQ(runJson({"ping", id + ":"})["alive"], true);
    EXPECT_EQ(runJson({"stat", id + ":" + REEL})["name"], "Reel 1");
}

TEST(ToolBrowse, InfoShowsTheRecordVersionsAndTables) {
    SampleServer server({"--no-discovery"},
                        "[Server]\nDisplayName = Studio A\nDatabase = QLXFS\n"
                        "[HostTranslation 0]\nSrcHost = alpha\nSrcPath = /mnt/media\n"
                        "DstHost = beta\nDstPath = /Volumes/media\n"
                        "[OsTypeTranslation 0]\nSrcType = Linux\nSrcPath = /mnt/media\n"
                        "DstType = WindowsNT\nDstPath = M:\\media\n"
                        "[TranslationGroup 0]\nName = studio\nNumber = 2\nHosts = alpha, beta\n");
    ASSERT_TRUE(server.running());
    const json doc = runJson({"info", server.id()});
    EXPECT_EQ(doc["server"], server.id());
    EXPECT_EQ(doc["displayName"], "Studio A");
    EXPECT_EQ(doc["database"], "QLXFS");
    EXPECT_EQ(doc["product"], "vantreld");
    EXPECT_EQ(doc["protocolVersion"], "2015.0.0");
    EXPECT_FALSE(doc["productVersion"].get<std::string>().empty());
    EXPECT_EQ(doc["hostTranslations"],
              json::parse(R"([{"srcHost":"alpha","srcPath":"/mnt/media","dstHost":"beta",
                              "dstPath":"/Volumes/media"}])"));
    EXPECT_EQ(doc["osTypeTranslations"][0]["dstPath"], "M:\\media");
    EXPECT_EQ(doc["translationGroups"],
              json::parse(R"([{"name":"studio","number":2,"hosts":["alpha","beta"]}])"));

    const std::string text = runText({"info", server.node()});
    for (const char* line : {"Name:        Studio A\n", "Protocol:    2015.0.0\n",
                             "  alpha:/mnt/media -> beta:/Volumes/media\n",
                             "  Linux:/mnt/media -> WindowsNT:M:\\media\n",
                             "  studio (2): alpha beta\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
}

TEST(ToolBrowse, LsListsChildrenAndDescendants) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runText({"ls", server.node(REEL)}),
              "CLIP\tShot 010\t8x4 rgb, 3 frames\nCLIP\tShot 020\t8x4 rgb, 2 frames\n");
    EXPECT_EQ(runText({"ls", server.node()}), "VOLUME\tVolume 1\n");
    EXPECT_EQ(runText({"ls", "--depth", "2", server.node("/Volume 1/Feature Film")}),
              "SHARED_VAULT\t/Volume 1/Feature Film/Vault\n"
              "LIBRARY\t/Volume 1/Feature Film/Vault/Main\n");

    const json doc = runJson({"ls", server.node("/Volume 1/Commercial/Shared Vault/Bin 1")});
    ASSERT_EQ(doc["children"].size(), 1u);
    const json& clip = doc["children"][0];
    EXPECT_EQ(clip["name"], "Coucher de soleil \xe2\x80\x94 caf\xc3\xa9");
    EXPECT_EQ(clip["type"], "CLIP");
    EXPECT_EQ(clip["clip"], true);
    EXPECT_EQ(clip["frames"], 2);
    EXPECT_EQ(clip["format"]["width"], 8);
    EXPECT_EQ(clip["format"]["tag"], "rgb");
    EXPECT_EQ(clip["path"], "/Volume 1/Commercial/Shared Vault/Bin 1/Coucher de soleil "
                            "\xe2\x80\x94 caf\xc3\xa9");
}

TEST(ToolBrowse, TreeIndentsAndNestsToTheDepthAsked) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runText({"tree", server.node("/Volume 1/Feature Film")}),
              "Feature Film [PROJECT]\n"
              "  Vault [SHARED_VAULT]\n"
              "    Main [LIBRARY]\n"
              "      Reel 1 [REEL]\n"
              "        Opening [CLIP] 8x4 rgb, 24 bits/pixel, 3 channels, 24 fps, 4 frames\n"
              "        Colour Bars [CLIP] 256x144 rgb, 24 bits/pixel, 3 channels, 24 fps, 8 frames\n");
    EXPECT_EQ(runText({"tree", "--depth", "1", server.node("/Volume 1")}),
              "Volume 1 [VOLUME]\n  Commercial [PROJECT]\n  Feature Film [PROJECT]\n");

    const json doc = runJson({"tree", "--depth", "1", server.node()});
    EXPECT_EQ(doc["type"], "HOST");
    EXPECT_EQ(doc["path"], server.node("/"));
    ASSERT_EQ(doc["children"].size(), 1u);
    EXPECT_EQ(doc["children"][0]["name"], "Volume 1");
    EXPECT_FALSE(doc["children"][0].contains("children"));
    const json whole = runJson({"tree", server.node()});
    EXPECT_EQ(whole["children"][0]["children"][1]["children"][0]["children"][0]["children"][0]
                   ["children"][0]["name"],
              "Opening");
}

TEST(ToolBrowse, StatDescribesANode) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const json doc = runJson({"stat", server.node(OPENING)});
    EXPECT_EQ(doc["name"], "Opening");
    EXPECT_EQ(doc["type"], "CLIP");
    EXPECT_EQ(doc["children"], 0);
    EXPECT_EQ(doc["frames"], 4);
    EXPECT_EQ(doc["format"]["frameBufferSize"], 96);
    EXPECT_EQ(doc["format"]["scan"], "progressive");
    EXPECT_EQ(doc["format"]["metaData"], "titles over black");
    EXPECT_EQ(doc["metaDataStreams"], json::parse(R"(["comments","timecode"])"));
    EXPECT_FALSE(doc["id"].get<std::string>().empty());

    const std::string text = runText({"stat", server.node("/Volume 1")});
    for (const char* line : {"Name:       Volume 1\n", "Type:       VOLUME (1)\n",
                             "Children:   2\n", "Metadata:   none\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
    EXPECT_EQ(text.find("Format"), std::string::npos) << text;
}

TEST(ToolBrowse, FramesListsIdsAndLinkedPaths) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const json doc = runJson({"frames", server.node(OPENING)});
    ASSERT_EQ(doc["frames"].size(), 4u);
    EXPECT_EQ(doc["frames"][3]["index"], 3);
    EXPECT_FALSE(doc["frames"][3]["id"].get<std::string>().empty());

    // Frames linked to media files show their paths.
    {
        VantrelClient library;
        ASSERT_TRUE(library.init());
        VantrelServerHandle handle(server.id().c_str());
        VantrelNodeHandle clip(handle, "");
        ASSERT_TRUE(VantrelResolveDisplayPath(handle, (REEL + "/Shot 020").c_str(), clip));
        const VantrelStr paths[] = {"/mnt/media/a.0001.dpx", "/mnt/media/a.0002.dpx"};
        ASSERT_TRUE(clip.linkToFrames(paths, 2)) << clip.lastError();
    }
    const std::string text = runText({"frames", server.node(REEL + "/Shot 020")});
    std::istringstream lines(text);
    std::string line;
    for (const char* path : {"/mnt/media/a.0001.dpx", "/mnt/media/a.0002.dpx"}) {
        ASSERT_TRUE(std::getline(lines, line)) << text;
        EXPECT_EQ(line.substr(line.rfind('\t') + 1), path) << text;
    }
}

TEST(ToolBrowse, TranslateUsesTheServersTables) {
    SampleServer server({"--no-discovery"},
                        "[HostTranslation 0]\nSrcHost = alpha\nSrcPath = /mnt/media\n"
                        "DstHost = beta\nDstPath = /Volumes/media\n"
                        "[OsTypeTranslation 0]\nSrcType = Linux\nSrcPath = /mnt/media\n"
                        "DstType = WindowsNT\nDstPath = M:\\media\n");
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runText({"translate", server.id(), "/mnt/media/a/b.dpx", "--from-host", "alpha",
                       "--to-host", "beta"}),
              "/Volumes/media/a/b.dpx\n");
    const json doc = runJson({"translate", server.node(), "/mnt/media/a/b.dpx", "--from-os",
                              "Linux", "--to-os", "WindowsNT"});
    EXPECT_EQ(doc["translated"], "M:\\media\\a\\b.dpx");
    EXPECT_EQ(doc["fromOs"], "Linux");
    EXPECT_EQ(doc["toOs"], "WindowsNT");
    EXPECT_EQ(runText({"translate", server.id(), "/elsewhere/x"}), "/elsewhere/x\n");
}

}  // namespace
