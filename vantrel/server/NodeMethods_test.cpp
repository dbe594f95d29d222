#include "vantrel/server/NodeMethods.h"

#include <gtest/gtest.h>

#include <random>

#include "rcApi/rcParam.h"
#include "vantrel/server/ClipFormatText.h"
#include "vantrel/server/MethodsTestSupport.h"
#include "vantrel/server/ServerError.h"

using namespace vantreld;

namespace {

std::string quoted(const std::string& text) {
    return Vantrel::rcParamStringToEscapedString(text.c_str()).getEscapedString();
}

// A node id as clients put it in plain-text arguments.
std::string idArg(const std::string& id) {
    return id.find(' ') != std::string::npos ? quoted(id) : id;
}

VantrelClipFormat clipFormat(const char* metaData) {
    return VantrelClipFormat(4, 2, 24, 3, 24, 25.0f, 1.0f, VantrelClipFormat::progressive, "rgb",
                             "text", metaData);
}

// The request form of a clip format, as clients print it.
std::string formatText(const VantrelClipFormat& f) {
    char text[2048];
    std::snprintf(text, sizeof text, "%d %d %d %d %d %g %g %s %d %s ", f.width(), f.height(),
                  f.bitsPerPixel(), f.numChannels(), f.frameBufferSize(),
                  static_cast<double>(f.pixelRatio()), static_cast<double>(f.frameRate()),
                  f.formatTag(), static_cast<int>(f.scanFormat()), f.metaDataTag());
    return text + quoted(f.metaData());
}

// The stream form of a clip format, as clients build it.
std::string formatStream(const VantrelClipFormat& f) {
    Vantrel::rcAttrStream s;
    s.addIntValue("w", f.width());
    s.addIntValue("h", f.height());
    s.addIntValue("bpp", f.bitsPerPixel());
    s.addIntValue("nch", f.numChannels());
    s.addIntValue("sz", f.frameBufferSize());
    s.addFloatValue("asp", f.pixelRatio());
    s.addFloatValue("rate", f.frameRate());
    s.addStringValue("fmt", f.formatTag());
    s.addIntValue("scan", f.scanFormat());
    s.addStringValue("metag", f.metaDataTag());
    s.addStringValue("meta", f.metaData());
    return s.getStreamStr();
}

class NodeMethodsTest : public vantreld::testing::MethodsFixture {
protected:
    std::string createOld(const std::string& parent, const std::string& name,
                          const std::string& type,
                          const VantrelClipFormat& format = VantrelClipFormat()) {
        return ok("CreateNode",
                  idArg(parent) + " " + quoted(name) + " 0 " + type + " " + formatText(format));
    }
    std::string createEx(const std::string& parent, const std::string& name,
                         const std::string& type,
                         const VantrelClipFormat& format = VantrelClipFormat()) {
        return ok("CreateNodeEx", stream({{"Parent", parent},
                                          {"Displ", name},
                                          {"Type", "0"},
                                          {"ExType", type},
                                          {"Fmt", formatStream(format)}}));
    }
    // host / volume 2 "Vol one" / project 3 / shared_vault 4 / library 5 / clip 6 "Shot 1"
    std::string makeClip() {
        const std::string volume = createOld("host", "Vol one", "VOLUME");
        const std::string project = createEx(volume, "P", "PROJECT");
        const std::string vault = createEx(project, "S", "SHARED_VAULT");
        const std::string library = createEx(vault, "L", "LIBRARY");
        return createEx(library, "Shot 1", "CLIP", clipFormat("a b"));
    }
};

}  // namespace

TEST_F(NodeMethodsTest, CreatesInBothFormsAndListsChildrenInBothForms) {
    EXPECT_EQ(createOld("host", "Vol one", "VOLUME"), "volume 2");
    EXPECT_EQ(createEx("host", "Vol, two", "VOLUME"), "volume 3");
    // Types may be given by number: the old form's type text, the new form's "Type".
    EXPECT_EQ(createOld("volume 2", "P", "2"), "project 4");
    EXPECT_EQ(ok("CreateNodeEx", stream({{"Parent", "volume 2"}, {"Displ", "Q"}, {"Type", "2"}})),
              "project 5");

    EXPECT_EQ(ok("GetChildren", "host"), "volume 2,Vol one,volume 3,Vol, two");
    EXPECT_EQ(ok("GetChildrenEx", "host"),
              "0 28 Id 8 volume 2Displ 7 Vol one1 29 Id 8 volume 3Displ 8 Vol, two");
    EXPECT_EQ(ok("GetChildren", quoted("volume 2")), "project 4,P,project 5,Q");
    EXPECT_EQ(ok("GetChildren", quoted("volume 3")), "");
    EXPECT_EQ(ok("GetChildrenEx", quoted("volume 3")), "");
}

TEST_F(NodeMethodsTest, AnswersNodeQueries) {
    const std::string clip = makeClip();
    EXPECT_EQ(clip, "clip 6");
    EXPECT_EQ(ok("GetRootNode"), "host");
    EXPECT_EQ(ok("GetParentNode", stream({{"Node", clip}})), "library 5");
    EXPECT_EQ(ok("GetParentNode", stream({{"Node", "host"}})), "");
    EXPECT_EQ(ok("GetNodeType", quoted(clip)), "1 9");
    EXPECT_EQ(ok("GetNodeType", "host"), "0 0");
    EXPECT_EQ(ok("GetNodeTypeStr", quoted(clip)), "CLIP");
    EXPECT_EQ(ok("RenameNode", stream({{"Node", clip}, {"Displ", "Caf\xc3\xa9 1"}})), clip);
    EXPECT_EQ(ok("GetDisplayName", quoted(clip)), "Caf\xc3\xa9 1");
    EXPECT_EQ(ok("GetDisplayNameEx", quoted(clip)), "Caf\xc3\xa9 1");
    EXPECT_EQ(ok("GetNbReadAheads", quoted(clip)), "2");
    EXPECT_EQ(ok("GetStreamId", quoted(clip)), "stream-6");
    EXPECT_EQ(ok("GetStorageId"), store_.storageId());
    EXPECT_EQ(ok("QueryNodePlugInVendor"), "Vantrel");
    EXPECT_EQ(ok("QueryNodePlugInProduct"), "vantreld");
    EXPECT_EQ(ok("QueryNodePlugInVersion"), "1 0");
    EXPECT_EQ(ok("DestroyNode", quoted("volume 2")), "");
    EXPECT_EQ(ok("GetChildren", "host"), "");
    EXPECT_EQ(store_.size(), 1u);
}

TEST_F(NodeMethodsTest, CanCreateNodeFollowsTheParentChildTable) {
    makeClip();
    const std::string reel = store_.createNode("library 5", "R", "REEL", VantrelClipFormat()).id;
    struct Case {
        std::string node, type, answer;
    } cases[] = {
        {"host", "VOLUME", "TRUE"},      {"host", "PROJECT", "FALSE"},
        {"volume 2", "PROJECT", "TRUE"}, {"shared_vault 4", "LIBRARY", "TRUE"},
        {"library 5", "FOLDER", "TRUE"}, {reel, "CLIP", "TRUE"},
        {reel, "FOLDER", "FALSE"},       {"clip 6", "CLIP", "FALSE"},
        {"host", "1", "TRUE"},           {"host", "NOT_A_TYPE", "FALSE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ok("CanCreateNode", stream({{"Node", c.node}, {"ExtendedType", c.type}})),
                  c.answer)
            << c.node << " / " << c.type;
}

TEST_F(NodeMethodsTest, ClipFormatTravelsInBothRequestForms) {
    const std::string clip = makeClip();
    EXPECT_EQ(ok("GetClipFormat", quoted(clip)), "4 2 24 3 24 1 25 rgb 4 text a b");
    VantrelClipFormat spaced = clipFormat("x=\"1\" y\\2");
    spaced.setFrameRate(29.97f);
    const std::string old = createOld("library 5", "Old form", "CLIP", spaced);
    EXPECT_EQ(ok("GetClipFormat", quoted(old)), "4 2 24 3 24 1 29.97 rgb 4 text x=\"1\" y\\2");
    EXPECT_EQ(ok("GetClipFormat", "host"), "1 1 24 3 1 1 30 none 0 none ");
}

TEST_F(NodeMethodsTest, FramesInBothForms) {
    const std::string clip = makeClip();
    EXPECT_EQ(ok("AllocateFrames", quoted(clip) + " 3 "), "6.0,6.1,6.2");
    EXPECT_EQ(ok("GetFrames", quoted(clip)), "6.0,6.1,6.2");
    EXPECT_EQ(ok("GetFramesEx", stream({{"Node", clip}})), "3 3 6.03 6.13 6.2");
    VantrelClipFormat wide = clipFormat("");
    wide.setWidth(64);
    EXPECT_EQ(ok("AllocateFramesEx",
                 stream({{"Node", clip}, {"NumFrames", "4"}, {"Fmt", formatStream(wide)}})),
              "4 3 6.03 6.13 6.23 6.3");
    EXPECT_EQ(store_.get(clip).format.width(), 64);
    EXPECT_EQ(ok("AllocateFramesEx", stream({{"Node", clip}, {"NumFrames", "0"}})), "0 ");
    EXPECT_EQ(ok("GetFrames", quoted(clip)), "");
}

TEST_F(NodeMethodsTest, FramePathsInBothFormsAreTranslatedForTheAskingHost) {
    const std::string clip = makeClip();
    settings_.hostTranslations.push_back({"alpha", "/mnt/media", "beta", "/Volumes/media"});
    EXPECT_EQ(
        ok("SetFramePaths", quoted(clip) + " alpha 2 6.1.0 /mnt/media/a.dpx,/mnt/media/b c.dpx"),
        "");
    EXPECT_EQ(ok("GetFrames", quoted(clip)), "6.0,6.1");
    EXPECT_EQ(ok("GetFramePaths", quoted(clip) + " alpha 2 \"6.1.0\""),
              "/mnt/media/a.dpx,/mnt/media/b c.dpx");
    EXPECT_EQ(ok("GetFramePaths", quoted(clip) + " beta 2 \"6.1.0\""),
              "/Volumes/media/a.dpx,/Volumes/media/b c.dpx");

    EXPECT_EQ(ok("SetFramePathsEx", stream({{"Parent", clip},
                                            {"Paths", "2 9 /m/1, one4 /m/2"},
                                            {"HostName", "alpha"},
                                            {"OSType", "2"},
                                            {"OSVersion", "6.1.0"}})),
              "");
    EXPECT_EQ(
        ok("GetFramePathsEx",
           stream(
               {{"Parent", clip}, {"HostName", "alpha"}, {"OSType", "2"}, {"OSVersion", "6.1.0"}})),
        "2 9 /m/1, one4 /m/2");
    EXPECT_EQ(ok("GetFramesEx", stream({{"Node", clip}})), "2 3 6.23 6.3");
}

TEST_F(NodeMethodsTest, MetadataStreams) {
    const std::string clip = makeClip();
    EXPECT_EQ(
        ok("SetMetaData", quoted(clip) + " comments " + quoted("two words, \"quoted\"\nline")), "");
    EXPECT_EQ(ok("SetMetaData", quoted(clip) + " tc " + quoted("01:00:00:00")), "");
    EXPECT_EQ(ok("QueryMetaDataSupport", quoted(clip)), "comments,tc");
    EXPECT_EQ(ok("GetMetaData", quoted(clip) + " comments  0"), "two words, \"quoted\"\nline");
    EXPECT_EQ(ok("GetMetaData", quoted(clip) + " tc " + quoted("a filter") + " 2"), "01:00:00:00");
    EXPECT_EQ(error("GetMetaData", quoted(clip) + " nothing  0"),
              "Unknown metadata stream 'nothing' on 'clip 6'");
}

TEST_F(NodeMethodsTest, ErrorRepliesLeaveTheTreeAsItWas) {
    const std::string clip = makeClip();
    const std::string before = ok("GetChildrenEx", quoted("library 5"));
    const size_t nodes = store_.size();
    struct Case {
        const char* method;
        std::string args;
        const char* error;
    } cases[] = {
        {"GetChildren", "volume 99", "Unknown node id: 'volume 99'"},
        {"GetChildrenEx", quoted("clip 99"), "Unknown node id: 'clip 99'"},
        {"GetDisplayName", "\"clip 6", "Malformed argument: unterminated quote in '\"clip 6'"},
        {"CreateNode", "host \"V\" 0 VOLUME 1 2", "Malformed argument: expected at least 15 words"},
        {"CreateNode", "host \"V\" 0 VOLUME 1 1 24 x 1 1 30 rgb 0 none \"\"",
         "Malformed argument: 'x' is not a number"},
        {"CreateNodeEx", stream({{"Displ", "x"}, {"ExType", "VOLUME"}}),
         "Malformed argument: missing 'Parent'"},
        {"CreateNodeEx", stream({{"Parent", "host"}, {"Displ", "x"}, {"ExType", "REEL_X"}}),
         "Unknown node type 'REEL_X'"},
        {"CreateNodeEx", stream({{"Parent", "host"}, {"Displ", "x"}, {"ExType", "CLIP"}}),
         "Cannot create a CLIP node under HOST node 'host'"},
        {"CreateNodeEx", stream({{"Parent", "library 5"}, {"Displ", "Shot 1"}, {"ExType", "CLIP"}}),
         "A node named 'Shot 1' already exists under 'library 5'"},
        {"RenameNode", stream({{"Node", "volume 2"}, {"Displ", ""}}),
         "A node name must not be empty"},
        {"DestroyNode", "host", "The root node cannot be destroyed"},
        {"AllocateFrames", quoted("library 5") + " 2 ",
         "Node 'library 5' is a LIBRARY node, not a clip"},
        {"AllocateFrames", quoted(clip) + " -4 ", "Invalid number of frames: -4"},
        {"AllocateFramesEx", stream({{"Node", clip}, {"NumFrames", "many"}}),
         "Malformed argument: 'many' is not a number"},
        {"SetFramePathsEx",
         stream({{"Parent", clip}, {"Paths", "3 1 a"}, {"HostName", "h"}, {"OSType", "2"}}),
         "Malformed argument: invalid counted list"},
        {"SetMetaData", quoted(clip) + " comments two words",
         "Malformed argument: the metadata must be one quoted word"},
        {"SetMetaData", quoted(clip) + " \"\" " + quoted("x"), "Invalid metadata stream name ''"},
        {"GetParentNode", "Node", "Malformed argument: missing 'Node'"},
    };
    for (const Case& c : cases) {
        const std::string text = error(c.method, c.args);
        EXPECT_EQ(text.compare(0, strlen(c.error), c.error), 0) << c.method << ": " << text;
    }
    EXPECT_EQ(ok("GetChildrenEx", quoted("library 5")), before);
    EXPECT_EQ(store_.size(), nodes);
    EXPECT_TRUE(store_.get(clip).frames.empty());
}

// Hostile argument texts: every method answers, ok or error, and the tree stays whole.
TEST_F(NodeMethodsTest, ArbitraryArgumentsNeverBreakTheServer) {
    makeClip();
    const std::string pieces[] = {"\"",
                                  "\\",
                                  " ",
                                  "  ",
                                  "host",
                                  "clip 6",
                                  "\"clip 6\"",
                                  "Node ",
                                  "Parent ",
                                  "7 ",
                                  "99999999999 ",
                                  "-1 ",
                                  "0 ",
                                  ",",
                                  "Fmt 3 w 1",
                                  "NumFrames 2 12",
                                  "Displ 1 x",
                                  "ExType 4 CLIP",
                                  "\xff\x00"};
    std::mt19937 random(12345);
    for (const std::string& method : dispatcher_->methods()) {
        if (method == "Shutdown") continue;
        for (int round = 0; round < 60; ++round) {
            std::string args;
            const int count = static_cast<int>(random() % 8);
            for (int i = 0; i < count; ++i)
                args += pieces[random() % (sizeof pieces / sizeof pieces[0])];
            call(method, args);
        }
    }
    EXPECT_EQ(ok("GetNodeTypeStr", "host"), "HOST");
    // Whatever the requests did, the tree is one tree: every node reachable, links agreeing.
    std::vector<const Node*> reached{&store_.root()};
    for (size_t i = 0; i < reached.size(); ++i)
        for (const Node* child : reached[i]->children) {
            EXPECT_EQ(child->parent, reached[i]);
            EXPECT_EQ(store_.find(child->id), child);
            reached.push_back(child);
        }
    EXPECT_EQ(reached.size(), store_.size());
}
