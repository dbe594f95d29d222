// The files area: which names it takes, that it never reaches outside its folder, that pushes
// make their folders and appear whole, and what a killed push leaves.
#include "vantrel/server/FilesArea.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "vantrel/server/ServerTestSupport.h"

namespace vantreld {
namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string push(const FilesArea& area, const std::string& name, const std::string& bytes) {
    std::unique_ptr<FrameStorage::IncomingFile> file = area.incoming(name);
    file->write(bytes.data(), bytes.size());
    file->commit();
    return contents(area.folder() + "/" + name);
}

// The text of the ServerError that `work` throws ("" when none).
template <class Work>
std::string failureOf(Work work) {
    try {
        work();
    } catch (const ServerError& error) {
        return error.what();
    }
    return "";
}

class FilesAreaTest : public ::testing::Test {
protected:
    testing::TempDir tree_;
    testing::TempDir outside_;
    FilesArea area_{tree_.path(), ServerFiles::Sync::FAST};
};

TEST_F(FilesAreaTest, PushesMakeTheirFoldersAndReadBack) {
    EXPECT_EQ("notes", push(area_, "incoming/notes.txt", "notes"));
    EXPECT_EQ("deep", push(area_, "a//b/c.bin", "deep"));
    EXPECT_EQ("again", push(area_, "incoming/notes.txt", "again"));
    const FrameStorage::OpenFrame file = area_.open("a/b/c.bin");
    EXPECT_EQ(4u, file.size());
    EXPECT_EQ("Cannot open 'a/missing'", failureOf([&] { area_.open("a/missing"); }));
    EXPECT_EQ("Cannot open 'nowhere/x'", failureOf([&] { area_.open("nowhere/x"); }));
    EXPECT_FALSE(ServerFiles::exists(area_.folder() + "/nowhere"));
}

TEST_F(FilesAreaTest, NamesOfTheStoresOwnFormAndEscapesAreRefused) {
    push(area_, "file", "x");
    for (const std::string name :
         {"", "/etc/passwd", "../x", "a/../../x", "dir/", "./x", "a/./x", "file/x",
          "report.txt.in-123-1.tmp", "a/b.in-7-99.tmp"}) {
        const std::string refused = "Invalid file name: '" + name + "'";
        EXPECT_EQ(refused, failureOf([&] { area_.incoming(name); })) << name;
        EXPECT_EQ(refused, failureOf([&] { area_.open(name); })) << name;
    }
    // Near misses of the temporary form are ordinary names.
    for (const std::string name : {"a.tmp", "a.in-1-2.tmpx", "a.in-x-2.tmp", "a.in-12.tmp"})
        EXPECT_EQ("x", push(area_, name, "x")) << name;
}

TEST_F(FilesAreaTest, AnotherPushCannotReachATemporaryFileInProgress) {
    std::unique_ptr<FrameStorage::IncomingFile> first = area_.incoming("report.txt");
    first->write("first", 5);
    std::string temporary;
    for (const std::string& name : ServerFiles::list(area_.folder()))
        if (name != "report.txt") temporary = name;
    ASSERT_TRUE(FrameStorage::isTemporaryName(temporary)) << temporary;
    EXPECT_EQ("Invalid file name: '" + temporary + "'",
              failureOf([&] { area_.incoming(temporary); }));
    EXPECT_EQ("Invalid file name: '" + temporary + "'", failureOf([&] { area_.open(temporary); }));
    first->commit();
    EXPECT_EQ("first", contents(area_.folder() + "/report.txt"));
}

TEST_F(FilesAreaTest, LinksAreNeverFollowed) {
    std::ofstream(outside_ / "secret") << "secret";
    ASSERT_EQ(0, ::symlink(outside_.path().c_str(), (area_.folder() + "/out").c_str()));
    ASSERT_EQ(0, ::symlink((outside_ / "secret").c_str(), (area_.folder() + "/leak").c_str()));
    ASSERT_EQ(0, ::symlink("nowhere", (area_.folder() + "/dangling").c_str()));
    for (const std::string name : {"out/secret", "out/new", "leak", "dangling", "dangling/x"}) {
        const std::string refused = "Invalid file name: '" + name + "' (a link)";
        EXPECT_EQ(refused, failureOf([&] { area_.open(name); })) << name;
        EXPECT_EQ(refused, failureOf([&] { area_.incoming(name); })) << name;
    }
    EXPECT_EQ("secret", contents(outside_ / "secret"));
    EXPECT_EQ(std::vector<std::string>{"secret"}, ServerFiles::list(outside_.path()));
}

TEST_F(FilesAreaTest, SpecialFilesAndDiskErrorsAnswerWithoutServerPaths) {
    ASSERT_EQ(0, ::mkfifo((area_.folder() + "/fifo").c_str(), 0644));
    EXPECT_EQ("Cannot open 'fifo'", failureOf([&] { area_.open("fifo"); }));  // never waits
    ASSERT_NO_THROW(push(area_, "dir/x", "x"));
    const std::string failure = failureOf([&] { push(area_, "dir", "y"); });
    EXPECT_EQ("Cannot write file 'dir': " + std::string(std::strerror(EISDIR)), failure);
    EXPECT_EQ(std::vector<std::string>{"x"}, ServerFiles::list(area_.folder() + "/dir"));
}

TEST(FilesAreaStart, LeftoversOfInterruptedPushesAreRemovedAtStart) {
    testing::TempDir tree;
    const std::string files = tree / FilesArea::FOLDER;
    ServerFiles::makeDirectory(files);
    ServerFiles::makeDirectory(files + "/sub");
    for (const char* name : {"movie.mov.in-4242-1.tmp", "sub/a.in-1-2.tmp", "keep.tmp", "sub/b"})
        std::ofstream(files + "/" + name) << "partial";
    FilesArea area(tree.path(), ServerFiles::Sync::FAST);
    EXPECT_EQ(std::vector<std::string>({"keep.tmp", "sub"}), ServerFiles::list(files));
    EXPECT_EQ(std::vector<std::string>{"b"}, ServerFiles::list(files + "/sub"));
}

}  // namespace
}  // namespace vantreld
