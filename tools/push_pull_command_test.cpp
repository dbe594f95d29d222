// vantrel push and pull: the files area round trip, exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "TransferTestSupport.h"

namespace {

using tool_testing::readFile;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolResult;
using tool_testing::writeFile;

TEST(ToolPushPull, RoundTrip) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    std::string large(600000, '\0');  // more than one transfer chunk
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 1000);
    writeFile(dir / "large.bin", large);
    writeFile(dir / "empty.txt", "");
    writeFile(dir / "notes.txt", "cut at 01:00:10:00\n");

    // Several files go into the root under their own names; one file takes the name given.
    const ToolResult pushed =
        runTool({"--json", "push", dir / "large.bin", dir / "empty.txt", server.node("/")});
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    const nlohmann::json doc = nlohmann::json::parse(pushed.out);
    EXPECT_EQ(doc["bytes"], large.size());
    EXPECT_EQ(doc["files"][0]["to"], server.id() + ":/large.bin");
    const ToolResult renamed = runTool({"push", dir / "notes.txt", server.node("/edit.txt")});
    ASSERT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_NE(renamed.out.find("notes.txt -> " + server.id() + ":/edit.txt (19 bytes)"),
              std::string::npos)
        << renamed.out;

    ASSERT_EQ(::mkdir((dir / "back").c_str(), 0700), 0);
    const ToolResult pulled = runTool({"pull", server.node("/large.bin"), server.node("/empty.txt"),
                                       server.node("/edit.txt"), dir / "back"});
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_EQ(readFile(dir / "back/large.bin"), large);
    EXPECT_EQ(readFile(dir / "back/empty.txt"), "");
    EXPECT_EQ(readFile(dir / "back/edit.txt"), "cut at 01:00:10:00\n");
    const ToolResult single = runTool({"pull", server.node("/edit.txt"), dir / "copy.txt"});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(readFile(dir / "copy.txt"), "cut at 01:00:10:00\n");

    // As README shows it: a push into a folder that does not exist yet.
    const ToolResult into = runTool({"push", dir / "notes.txt", server.node("/incoming/")});
    ASSERT_EQ(into.status, 0) << into.err;
    const ToolResult back = runTool({"pull", server.node("/incoming/notes.txt"), dir / "in.txt"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(readFile(dir / "in.txt"), "cut at 01:00:10:00\n");
}

// A failed pull leaves the local file it would have replaced as it was.
TEST(ToolPushPull, ExitStatusesAndFailedPullKeepsTheLocalFile) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    writeFile(dir / "keep.txt", "precious");
    tool_testing::expectFailures({
        {{"pull", server.node("/missing.txt"), dir / "keep.txt"}, 1, "cannot pull 'missing.txt'"},
        // A name of the server's own temporary files is refused.
        {{"push", dir / "keep.txt", server.node("/x.in-1-2.tmp")}, 1, "cannot push"},
        {{"push", dir / "absent.txt", server.node("/")}, 2, "No such file or directory"},
        {{"push", dir / "keep.txt"}, 2, "At least 2"},
        {{"pull", server.node("/a"), server.node("/b"), dir / "keep.txt"}, 2, "is not a folder"},
        {{"pull", server.node("/"), dir / "x"}, 2, "names no file"},
        {{"pull", "no-path", dir / "x"}, 2, "no-path"},
    });
    EXPECT_EQ(readFile(dir / "keep.txt"), "precious");
    for (const auto& entry : std::filesystem::directory_iterator(dir / ""))
        EXPECT_EQ(entry.path().filename().string().find(".vantrel-pull"), std::string::npos)
            << "left behind: " << entry.path();

    const std::string root = server.node("/");
    server.stop();
    tool_testing::expectFailures(
        {{{"push", dir / "keep.txt", root}, 3, "cannot reach server"},
         {{"pull", root + "keep.txt", dir / "x"}, 3, "cannot reach server"}});
}

}  // namespace
