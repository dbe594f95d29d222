#include "osal/CoConfigFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace Vantrel {
namespace {

CoConfigFileReader readText(const std::string& text, const std::string& source = "test.cfg") {
    CoConfigFileReader reader;
    std::istringstream input(text);
    reader.read(input, source);
    return reader;
}

std::string lookUp(const CoConfigFileReader& reader, const std::string& section,
                   const std::string& key) {
    std::string value;
    return reader.get(section, key, value, "<absent>") ? value : "<absent>";
}

TEST(CoConfigFileReaderTest, EmptyStoreGivesDefaults) {
    const CoConfigFileReader reader;
    std::string text = "old";
    EXPECT_FALSE(reader.get("Local", "UUID", text, "fallback"));
    EXPECT_EQ("fallback", text);
    EXPECT_FALSE(reader.get("Local", "UUID", text, nullptr));
    EXPECT_EQ("", text);
    unsigned int number = 1;
    EXPECT_FALSE(reader.get("SelfDiscovery", "Port", number, 7555u));
    EXPECT_EQ(7555u, number);
    EXPECT_FALSE(reader.hasSection("Local"));
}

TEST(CoConfigFileReaderTest, ReadsSectionsKeysAndComments) {
    const CoConfigFileReader reader = readText(
        "# network settings\n"
        "; another comment style\n"
        "\n"
        "   [SelfDiscovery]   \n"
        "Port=7555\n"
        "  Scope   =   224.0.0.1  \n"
        "Filter = a=b = c\n"
        "Empty =\n"
        "#Port = 1\n"
        "[Interfaces]\n"
        "Data = eth0\n"
        "Data = eth1\n"
        "[SelfDiscovery]\n"
        "TTL = 3\n"
        "[]\n"
        "nameless = yes\n"
        "[\n"
        "alone = too\n");
    EXPECT_TRUE(reader.warnings().empty());
    EXPECT_EQ("7555", lookUp(reader, "SelfDiscovery", "Port"));
    EXPECT_EQ("224.0.0.1", lookUp(reader, "SelfDiscovery", "Scope"));
    EXPECT_EQ("a=b = c", lookUp(reader, "SelfDiscovery", "Filter"));
    EXPECT_EQ("", lookUp(reader, "SelfDiscovery", "Empty"));
    EXPECT_EQ("3", lookUp(reader, "SelfDiscovery", "TTL"));  // the reopened section adds to it
    EXPECT_EQ("eth1", lookUp(reader, "Interfaces", "Data"));  // the later line wins
    EXPECT_EQ("yes", lookUp(reader, "", "nameless"));
    EXPECT_EQ("too", lookUp(reader, "", "alone"));
    // Matching is exact.
    EXPECT_EQ("<absent>", lookUp(reader, "selfdiscovery", "Port"));
    EXPECT_EQ("<absent>", lookUp(reader, "SelfDiscovery", "port"));
    EXPECT_EQ("<absent>", lookUp(reader, "Interfaces", "Port"));
}

TEST(CoConfigFileReaderTest, SectionNameIsTheTextBetweenFirstAndLastCharacter) {
    const CoConfigFileReader reader = readText("[ Local ]\nA = 1\n[Interfaces\nB = 2\n");
    EXPECT_EQ("1", lookUp(reader, " Local ", "A"));
    EXPECT_EQ("2", lookUp(reader, "Interface", "B"));
}

TEST(CoConfigFileReaderTest, MalformedLinesAreSkippedWithTheirLineNumbers) {
    const CoConfigFileReader reader = readText(
        "Port = 1\n"       // 1: before any section
        "[Local]\n"        // 2
        "DisplayName\n"    // 3: no '='
        "  = nobody\n"     // 4: no key
        "UUID = u\n",      // 5: fine
        "/etc/x.cfg");
    const std::vector<std::string> expected = {
        "Invalid syntax: Not in section. Ignoring line 1 of '/etc/x.cfg'",
        "Invalid syntax: No variable value. Ignoring line 3 of '/etc/x.cfg'",
        "Invalid syntax: No variable name. Ignoring line 4 of '/etc/x.cfg'",
    };
    EXPECT_EQ(expected, reader.warnings());
    EXPECT_EQ("u", lookUp(reader, "Local", "UUID"));
    EXPECT_EQ("<absent>", lookUp(reader, "Local", "DisplayName"));
    EXPECT_FALSE(reader.hasSection(""));
}

TEST(CoConfigFileReaderTest, LineEndsAndOverLongLines) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> warnings;
    };
    const std::string limit(CoConfigFileReader::MAX_LINE, 'x');
    const std::vector<Case> cases = {
        {"LF", "[s]\nbad\n", {"Invalid syntax: No variable value. Ignoring line 2 of 's'"}},
        {"CR", "[s]\rbad\r", {"Invalid syntax: No variable value. Ignoring line 2 of 's'"}},
        {"CR LF counts once", "[s]\r\n\r\nbad",
         {"Invalid syntax: No variable value. Ignoring line 3 of 's'"}},
        {"LF CR counts twice", "[s]\n\rbad",
         {"Invalid syntax: No variable value. Ignoring line 3 of 's'"}},
        {"a line of exactly the limit is one line", "[s]\n" + limit + "\nbad",
         {"Invalid syntax: No variable value. Ignoring line 2 of 's'",
          "Invalid syntax: No variable value. Ignoring line 3 of 's'"}},
        {"a longer line continues as the next line", "[s]\n" + limit + "yy\n",
         {"Invalid syntax: No variable value. Ignoring line 2 of 's'",
          "Invalid syntax: No variable value. Ignoring line 3 of 's'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.warnings, readText(c.text, "s").warnings());
    }

    const CoConfigFileReader cut = readText("[s]\nk=" + limit + "\n");
    std::string value;
    ASSERT_TRUE(cut.get("s", "k", value, ""));
    EXPECT_EQ(std::string(CoConfigFileReader::MAX_LINE - 2, 'x'), value);
}

TEST(CoConfigFileReaderTest, NumbersReadAsUnsignedDecimals) {
    struct Case {
        const char* text;
        bool read;
        unsigned int value;
    };
    const Case cases[] = {
        {"7555", true, 7555},
        {"+12", true, 12},
        {"0", true, 0},
        {"12abc", true, 12},
        {"1 2", true, 1},
        {"4294967295", true, UINT_MAX},
        {"abc", false, 99},
        {"", false, 99},
        {"-1", false, 99},
        {"- 1", false, 99},
        {"4294967296", false, 99},
        {"99999999999999999999999999", false, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CoConfigFileReader reader = readText(std::string("[s]\nn = ") + c.text + "\n");
        unsigned int value = 5;
        EXPECT_EQ(c.read, reader.get("s", "n", value, 99u));
        EXPECT_EQ(c.value, value);
    }
}

TEST(CoConfigFileReaderTest, ListsSplitAtEveryCommaAndKeepEmptyFields) {
    struct Case {
        const char* text;
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"eth0", {"eth0"}},
        {"eth0 ,  , eth1", {"eth0", "", "eth1"}},
        {"a,b,,c", {"a", "b", "", "c"}},
        {"a,", {"a", ""}},
        {",", {"", ""}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CoConfigFileReader reader = readText(std::string("[s]\nlist = ") + c.text + "\n");
        std::vector<std::string> values = {"stale"};
        EXPECT_TRUE(reader.getList("s", "list", values));
        EXPECT_EQ(c.values, values);
    }
    std::vector<std::string> values = {"stale"};
    EXPECT_FALSE(readText("").getList("s", "list", values));
    EXPECT_TRUE(values.empty());
}

TEST(CoConfigFileReaderTest, ReadFile) {
    char dir[] = "/tmp/CoConfigFileTest.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string path = std::string(dir) + "/a.cfg";

    CoConfigFileReader reader;
    EXPECT_FALSE(reader.readFile(path));
    EXPECT_FALSE(reader.hasSection("s"));

    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs("[s]\r\nk = v\r\nbad\r\n", file);
    std::fclose(file);
    EXPECT_TRUE(reader.readFile(path));
    EXPECT_EQ("v", lookUp(reader, "s", "k"));
    const std::vector<std::string> expected = {
        "Invalid syntax: No variable value. Ignoring line 3 of '" + path + "'"};
    EXPECT_EQ(expected, reader.warnings());

    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace Vantrel
