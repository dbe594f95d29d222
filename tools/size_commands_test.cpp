// ls -l and du: bytes per clip (frames x frame size) and summed over subtrees, for people
// and exact in JSON, against real vantreld processes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ClipSizes.h"
#include "ToolTestSupport.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using nlohmann::json;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::ToolResult;

const std::string LIBRARY = "/Volume 1/Commercial/Shared Vault/Library A";

TEST(ToolSizes, HumanSizes) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0 B"},           {1023, "1023 B"},          {1024, "1.0 KiB"},
                 {1536, "1.5 KiB"},    {62208000, "59 MiB"},      {5ull << 30, "5.0 GiB"},
                 {~0ull, "16 EiB"}};
    for (const auto& c : cases) EXPECT_EQ(vantrel_tool::humanSize(c.bytes), c.text) << c.bytes;
}

// Under Library A: the sample's Reel 1 (2 clips, 5 frames of 96 bytes) and Dailies (2 clips,
// 3 frames of 96), and a
// folder "Big" made here holding an HD clip whose format gives no frame size (the pixels'
// bytes count) and, one level down, a clip of 1000-byte frames.
TEST(ToolSizes, LsLongAndDuSumClipsAndSubtrees) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    {
        VantrelClient library;
        ASSERT_TRUE(library.init());
        VantrelServerHandle handle(server.id().c_str());
        VantrelNodeHandle parent, big, deeper, clip;
        ASSERT_TRUE(VantrelResolveDisplayPath(handle, LIBRARY.c_str(), parent));
        ASSERT_TRUE(parent.createNode("Big", "FOLDER", big) &&
                    big.createNode("Deeper", "FOLDER", deeper))
            << handle.lastError();
        const VantrelClipFormat hd(1920, 1080, 24, 3, 0, 25.0f, 1.0f,
                                   VantrelClipFormat::progressive, "rgb", nullptr, nullptr);
        const VantrelClipFormat small(10, 10, 80, 10, 1000, 25.0f, 1.0f,
                                      VantrelClipFormat::progressive, "raw", nullptr, nullptr);
        ASSERT_TRUE(big.createClipNode("HD", hd, "CLIP", clip) && clip.setNumFrames(10))
            << handle.lastError();
        ASSERT_TRUE(deeper.createClipNode("Small", small, "CLIP", clip) && clip.setNumFrames(7))
            << handle.lastError();
    }
    const uint64_t bigBytes = 10ull * 1920 * 1080 * 3 + 7000;

    const ToolResult ls = runTool({"--json", "ls", "-l", server.node(LIBRARY)});
    ASSERT_EQ(ls.status, 0) << ls.err;
    std::map<std::string, uint64_t> listed;
    const json rows = json::parse(ls.out)["children"];
    for (const json& row : rows)
        listed[row["name"]] = row["bytes"].get<uint64_t>();
    EXPECT_EQ(listed, (std::map<std::string, uint64_t>{
                          {"Reel 1", 480}, {"Dailies", 288}, {"Big", bigBytes}}));
    const ToolResult lsBig = runTool({"ls", "-l", server.node(LIBRARY + "/Big")});
    EXPECT_EQ(lsBig.out, "FOLDER\t6.8 KiB\tDeeper\nCLIP\t59 MiB\tHD\t1920x1080 rgb, 10 frames\n");

    const ToolResult du = runTool({"--json", "du", server.node(LIBRARY)});
    ASSERT_EQ(du.status, 0) << du.err;
    const json doc = json::parse(du.out);
    EXPECT_EQ(doc["bytes"], 480 + 288 + bigBytes);
    EXPECT_EQ(doc["frames"], 5 + 3 + 17);
    EXPECT_EQ(doc["clips"], 2 + 2 + 2);
    EXPECT_EQ(doc["children"].size(), 3u);
    const ToolResult text = runTool({"du", server.node(LIBRARY + "/Big/Deeper")});
    EXPECT_EQ(text.out, "6.8 KiB\t" + server.node(LIBRARY + "/Big/Deeper/Small") + "\n6.8 KiB\t" +
                            server.node(LIBRARY + "/Big/Deeper") +
                            " (7000 bytes, 7 frames in 1 clip)\n");
    EXPECT_EQ(runTool({"du", server.node("/Nowhere")}).status, 1);
}

}  // namespace
