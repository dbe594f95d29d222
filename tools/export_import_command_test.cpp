// vantrel import and export: pixels survive import, export and reading back with
// OpenImageIO for 8-bit, 16-bit and float images; refusals name what is wrong.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "TransferTestSupport.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolResult;

const std::string DAILIES = "/Volume 1/Commercial/Shared Vault/Library A/Dailies";
// A sample clip of 3 frames, 8x4 8-bit RGB.
const std::string SHOT_010 = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010";

// Distinct values in every sample of every frame, spread over the type's range (negative and
// above 1 for floats).
std::vector<unsigned char> testPixels(int width, int height, int channels, OIIO::TypeDesc type,
                                      int frame) {
    const size_t samples = static_cast<size_t>(width * height * channels);
    std::vector<float> values(samples);
    for (size_t i = 0; i < samples; ++i)
        values[i] = static_cast<float>((i * 2654435761u + frame * 40503u) % 65536u) / 65535.0f;
    if (type.basetype == OIIO::TypeDesc::FLOAT || type.basetype == OIIO::TypeDesc::HALF)
        for (float& v : values) v = v * 6.0f - 2.0f;
    std::vector<unsigned char> pixels(samples * type.size());
    OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, values.data(), type, pixels.data(),
                               static_cast<int>(samples));
    return pixels;
}

void writeImage(const std::string& path, const OIIO::ImageSpec& image,
                const std::vector<unsigned char>& pixels) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << OIIO::geterror();
    ASSERT_TRUE(out->open(path, image) && out->write_image(image.format, pixels.data()) &&
                out->close())
        << out->geterror();
}

std::vector<unsigned char> readPixels(const std::string& path, OIIO::TypeDesc type,
                                      OIIO::ImageSpec* image = nullptr) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        ADD_FAILURE() << OIIO::geterror();
        return {};
    }
    if (image != nullptr) *image = in->spec();
    std::vector<unsigned char> pixels(in->spec().image_pixels() * in->spec().nchannels *
                                      type.size());
    EXPECT_TRUE(in->read_image(0, 0, 0, in->spec().nchannels, type, pixels.data()))
        << in->geterror();
    return pixels;
}

TEST(ToolImportExport, PixelsSurviveTheRoundTrip) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const struct {
        const char* name;
        int channels;
        OIIO::TypeDesc type;
        const char* in;   // file format of the imported images
        const char* out;  // file format of the exported ones
        const char* tag;  // of the clip made
        double rate;      // of the clip made: 24 unless the file format keeps the images' 25
    } cases[] = {
        {"8-bit", 4, OIIO::TypeDesc::UINT8, "png", "tif", "rgba", 24},
        {"16-bit", 3, OIIO::TypeDesc::UINT16, "tif", "png", "rgb_le", 24},
        {"float", 3, OIIO::TypeDesc::FLOAT, "exr", "exr", "rgb_float_le", 25},
        {"half", 1, OIIO::TypeDesc::HALF, "exr", "tif", "mono_float_le", 25},
    };
    const int width = 13, height = 7, frames = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"--json", "import"};
        std::vector<std::vector<unsigned char>> originals;
        OIIO::ImageSpec image(width, height, c.channels, c.type);
        const int rate[2] = {25, 1};
        image.attribute("FramesPerSecond", OIIO::TypeRational, rate);
        image.attribute("oiio:UnassociatedAlpha", 1);
        for (int f = 0; f < frames; ++f) {
            originals.push_back(testPixels(width, height, c.channels, c.type, f));
            args.push_back(dir / (std::string(c.name) + "-in." + std::to_string(f) + "." + c.in));
            writeImage(args.back(), image, originals.back());
        }
        const std::string clip = server.node(DAILIES + "/" + c.name);
        args.push_back(clip);
        const ToolResult imported = runTool(args);
        ASSERT_EQ(imported.status, 0) << imported.err;
        const nlohmann::json doc = nlohmann::json::parse(imported.out);
        EXPECT_EQ(doc["format"], c.tag);
        EXPECT_EQ(doc["frames"], frames);
        EXPECT_EQ(doc["frameRate"], c.rate);

        const std::string pattern = dir / (std::string(c.name) + "-out.%04d." + c.out);
        const ToolResult exported = runTool({"export", clip, pattern});
        ASSERT_EQ(exported.status, 0) << exported.err;
        for (int f = 0; f < frames; ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "-out.%04d.", f);
            OIIO::ImageSpec back;
            EXPECT_EQ(readPixels(dir / (c.name + std::string(name) + c.out), c.type, &back),
                      originals[f])
                << "frame " << f;
            EXPECT_EQ(back.width, width);
            EXPECT_EQ(back.nchannels, c.channels);
            int rate[2] = {0, 0};
            if (std::string(c.out) == "exr" &&
                back.getattribute("FramesPerSecond", OIIO::TypeRational, rate))
                EXPECT_EQ(rate[0] * 1.0 / rate[1], c.rate);
            else
                EXPECT_NE(std::string(c.out), "exr") << "no frame rate in the file";
        }
    }
}

TEST(ToolImportExport, ExportsOneFrameToAFormatOfFewerBits) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    // The sample clips are 8x4 8-bit RGB; a single frame needs no number in its name.
    const std::string shot = server.node(SHOT_010);
    const ToolResult exported =
        runTool({"--json", "export", shot, dir / "one.jpg", "--frames", "1"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(nlohmann::json::parse(exported.out)["files"][0]["file"], dir / "one.jpg");
    OIIO::ImageSpec image;
    readPixels(dir / "one.jpg", OIIO::TypeDesc::UINT8, &image);
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.height, 4);
}

// Every file format reports a device that takes no bytes (a name linked to /dev/full) as a
// failed export: exit status 2 and one line, never success over empty files.
TEST(ToolImportExport, AFailingWriteFailsTheExport) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::string shot = server.node(SHOT_010);
    std::vector<tool_testing::FailingRun> runs;
    for (const char* extension : {"png", "jpg", "tif", "exr", "dpx"}) {
        const std::string name = dir / (std::string("full.") + extension);
        ASSERT_EQ(::symlink("/dev/full", name.c_str()), 0);
        runs.push_back({{"export", shot, name, "--frames", "0"}, 2, "No space left on device"});
    }
    tool_testing::expectFailures(runs);
}

// On a filesystem that fills up part way, the export stops at the first frame that does not
// fit: the frames before it are whole, none after it exists, no temporary file stays.
TEST(ToolImportExport, AFullFilesystemStopsTheExportWithNoShortFile) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::string small = dir / "small", left = dir / "left";
    ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(left.c_str(), 0755), 0);
    // One page of tmpfs in a mount namespace of the tool's own; what the tool leaves there is
    // copied out before the namespace ends.
    tool_testing::writeFile(dir / "run.sh",
                            "mount -t tmpfs -o size=4k none \"$1/small\" 2>/dev/null || exit 99\n"
                            "d=$1; shift; \"$@\" >/dev/null 2>&1; echo $? > \"$d/status\"\n"
                            "cp \"$d/small/\"* \"$d/left/\" 2>/dev/null; exit 0\n");
    const std::string command =
        "unshare -m -- sh '" + std::string(dir / "run.sh") + "' '" + (dir / ".") + "' '" +
        VANTREL_TOOL_PATH + "' export '" +
        server.node(SHOT_010) + "' '" +
        small + "/f.%d.png'";
    const int ran = std::system(command.c_str());
    if (WIFEXITED(ran) && WEXITSTATUS(ran) == 99) GTEST_SKIP() << "no tmpfs can be mounted here";
    ASSERT_EQ(ran, 0);
    EXPECT_EQ(tool_testing::readFile(dir / "status"), "2\n");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(left))
        files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"f.0.png"});
    OIIO::ImageSpec image;
    EXPECT_EQ(readPixels(left + "/f.0.png", OIIO::TypeDesc::UINT8, &image).size(), 8u * 4 * 3);
}

// --dry-run names the files and writes none; --no-clobber refuses the whole export, writing
// nothing, when one of its files exists.
TEST(ToolImportExport, DryRunAndNoClobberWriteNothing) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::string shot = server.node(SHOT_010);
    const ToolResult dry = runTool({"export", "--dry-run", shot, dir / "f.%d.png"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, "would write " + dir / "f.0.png" + "\nwould write " + dir / "f.1.png" +
                           "\nwould write " + dir / "f.2.png" + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "f.0.png"));

    tool_testing::writeFile(dir / "f.2.png", "keep");
    tool_testing::expectFailures(
        {{{"export", "--no-clobber", shot, dir / "f.%d.png"}, 2, "f.2.png' exists"}});
    EXPECT_FALSE(std::filesystem::exists(dir / "f.0.png"));
    EXPECT_EQ(tool_testing::readFile(dir / "f.2.png"), "keep");
    const ToolResult fresh = runTool({"export", "--no-clobber", shot, dir / "g.%d.png"});
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "g.2.png"));

    const std::string clip = server.node(DAILIES + "/New");
    const ToolResult import = runTool({"import", "--dry-run", dir / "g.0.png", dir / "g.1.png", clip});
    EXPECT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(import.out, "would import 2 frames of 8x4 rgb into " + clip + "\n");
    EXPECT_EQ(runTool({"stat", clip}).status, 1);  // nothing made
}

const std::string BARS = "/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars";
const unsigned char YELLOW_BAR[3] = {191, 191, 0};  // the second of the seven bars

// The RGB pixel at (x, y) of `pixels`, 8-bit RGB rows `width` wide.
std::vector<int> pixelAt(const std::vector<unsigned char>& pixels, int width, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * width + x) * 3;
    return {pixels[at], pixels[at + 1], pixels[at + 2]};
}

void expectYellow(const std::vector<int>& pixel) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], YELLOW_BAR[c], 3) << "channel " << c;
}

// --resize and --scale write the frames at another size in the clip's sample type; a side
// left out of --resize keeps the frame's shape (the colour bars are 256x144).
TEST(ToolImportExport, ResizeAndScaleWriteOtherSizes) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const struct {
        std::vector<std::string> size;
        int width, height;
    } cases[] = {{{"--resize", "64x36"}, 64, 36},
                 {{"--resize", "128x"}, 128, 72},
                 {{"--resize", "x72"}, 128, 72},
                 {{"--resize", "300x100"}, 300, 100},
                 {{"--scale", "0.25"}, 64, 36}};
    for (const auto& c : cases) {
        const std::string file = dir / ("r" + std::to_string(c.width) + "x" +
                                        std::to_string(c.height) + ".png");
        std::vector<std::string> args = {"export", "--frames", "0", server.node(BARS), file};
        args.insert(args.end(), c.size.begin(), c.size.end());
        const ToolResult result = runTool(args);
        ASSERT_EQ(result.status, 0) << c.size[1] << ": " << result.err;
        OIIO::ImageSpec image;
        const std::vector<unsigned char> pixels = readPixels(file, OIIO::TypeDesc::UINT8, &image);
        EXPECT_EQ(image.width, c.width) << c.size[1];
        EXPECT_EQ(image.height, c.height) << c.size[1];
        EXPECT_EQ(image.format, OIIO::TypeDesc::UINT8) << c.size[1];
        expectYellow(pixelAt(pixels, c.width, c.width * 3 / 14, c.height / 4));
    }
}

// contact-sheet lays frames out in a grid with each frame's number under it: --count spreads
// frames over the clip, the tiles hold the frames' pixels, the JSON gives the geometry, and
// --no-clobber keeps an existing sheet.
TEST(ToolImportExport, ContactSheetLaysFramesOutInAGridWithTheirNumbers) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::string sheet = dir / "sheet.png";
    const ToolResult made = runTool({"--json", "contact-sheet", "--count", "3", "--columns", "2",
                                     "--tile-width", "64", server.node(BARS), sheet});
    ASSERT_EQ(made.status, 0) << made.err;
    const nlohmann::json facts = nlohmann::json::parse(made.out);
    EXPECT_EQ(facts["frames"], nlohmann::json::parse("[0, 3, 7]"));
    EXPECT_EQ(facts["columns"], 2);
    EXPECT_EQ(facts["rows"], 2);
    EXPECT_EQ(facts["tileWidth"], 64);
    EXPECT_EQ(facts["tileHeight"], 36);
    // 8 pixels around and between tiles, 16 under each for its number.
    const int width = 2 * (64 + 8) + 8, height = 2 * (36 + 16 + 8) + 8;
    EXPECT_EQ(facts["width"], width);
    EXPECT_EQ(facts["height"], height);

    OIIO::ImageSpec image;
    const std::vector<unsigned char> pixels = readPixels(sheet, OIIO::TypeDesc::UINT8, &image);
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.nchannels, 3);
    const std::vector<int> background = {38, 38, 38}, ink = {255, 255, 255};
    EXPECT_EQ(pixelAt(pixels, width, 2, 2), background);
    expectYellow(pixelAt(pixels, width, 8 + 14, 8 + 9));        // frame 0
    expectYellow(pixelAt(pixels, width, 8 + 72 + 14, 8 + 9));   // frame 3, beside it
    expectYellow(pixelAt(pixels, width, 8 + 14, 8 + 60 + 9));   // frame 7, second row
    // "0" under the first tile: its top row of dots from the centre less half a digit.
    EXPECT_EQ(pixelAt(pixels, width, 8 + 32 - 4, 8 + 36 + 3), ink);
    EXPECT_EQ(pixelAt(pixels, width, 8 + 32 - 4, 8 + 36 + 1), background);
    EXPECT_EQ(pixelAt(pixels, width, 8 + 72 + 32, 8 + 60 + 18), background);  // the empty slot

    tool_testing::expectFailures(
        {{{"contact-sheet", "--no-clobber", server.node(BARS), sheet}, 2, "sheet.png' exists"}});
    EXPECT_EQ(readPixels(sheet, OIIO::TypeDesc::UINT8).size(), pixels.size());
}

// Makes a clip of `format` with one frame through the library (no subcommand makes an
// unconvertible clip from files).
void makeClip(const std::string& server, const std::string& parentPath, const char* name,
              const VantrelClipFormat& format) {
    VantrelClient library;
    ASSERT_TRUE(library.init());
    VantrelServerHandle handle(server.c_str());
    VantrelNodeHandle parent, clip;
    ASSERT_TRUE(VantrelResolveDisplayPath(handle, parentPath.c_str(), parent))
        << handle.lastError();
    ASSERT_TRUE(parent.createClipNode(name, format, "CLIP", clip)) << handle.lastError();
    ASSERT_TRUE(clip.setNumFrames(1)) << handle.lastError();
}

TEST(ToolImportExport, RefusalsNameWhatIsWrong) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    makeClip(server.id(), DAILIES, "YUV",
             VantrelClipFormat(8, 2, 16, 2, 32, 25.0f, 1.0f, VantrelClipFormat::progressive,
                               VantrelClipFormat::FORMAT_UYVY(), nullptr, nullptr));
    const OIIO::ImageSpec wide(4, 2, 3, OIIO::TypeDesc::UINT8),
        tall(4, 3, 3, OIIO::TypeDesc::UINT8), grey(4, 2, 2, OIIO::TypeDesc::UINT8);
    writeImage(dir / "a.png", wide, testPixels(4, 2, 3, OIIO::TypeDesc::UINT8, 0));
    writeImage(dir / "b.png", tall, testPixels(4, 3, 3, OIIO::TypeDesc::UINT8, 0));
    writeImage(dir / "grey.png", grey, testPixels(4, 2, 2, OIIO::TypeDesc::UINT8, 0));
    tool_testing::writeFile(dir / "junk.png", "not an image");
    // A readable header over cut pixels: the import fails after making the clip. (A cut PNG
    // would do as well, but OpenImageIO leaks a little memory decoding one.)
    const OIIO::ImageSpec large(40, 30, 3, OIIO::TypeDesc::UINT8);
    writeImage(dir / "whole.exr", large, testPixels(40, 30, 3, OIIO::TypeDesc::UINT8, 0));
    const std::string whole = tool_testing::readFile(dir / "whole.exr");
    tool_testing::writeFile(dir / "cut.exr", whole.substr(0, whole.size() / 2));

    const std::string shot = server.node(SHOT_010);
    tool_testing::expectFailures({
        {{"export", server.node(DAILIES + "/YUV"), dir / "x.%d.png"},
         1,
         "clip format 'uyvy' cannot be converted"},
        {{"import", dir / "a.png", dir / "b.png", server.node(DAILIES + "/Mixed")},
         2,
         "b.png' is 4x3 with 3 channels, '"},
        {{"import", dir / "grey.png", server.node(DAILIES + "/Grey")}, 2, "2 channels"},
        {{"import", dir / "junk.png", server.node(DAILIES + "/Junk")}, 2, "junk.png"},
        {{"import", dir / "whole.exr", dir / "cut.exr", server.node(DAILIES + "/Cut")},
         2,
         "cut.exr"},
        {{"import", dir / "a.png", server.node(DAILIES + "/Take 1")}, 1, "already exists"},
        {{"import", dir / "a.png", server.node("/Volume 1/Nowhere/New")}, 1, "Nowhere"},
        {{"import", dir / "a.png", server.node(DAILIES + "/R"), "--rate", "-3"}, 2, "--rate"},
        {{"export", shot, dir / "many.png"}, 2, "has no frame number"},
        {{"export", shot, dir / "x.%d.unknownformat"}, 2, "x.0.unknownformat"},
        {{"export", server.node("/Volume 1/Nowhere"), dir / "x.%d.png"}, 1, "Nowhere"},
        {{"export", shot}, 2, "name is required"},
        {{"export", shot, dir / "r.%d.png", "--resize", "0x0"}, 2, "'0x0' is not WIDTHxHEIGHT"},
        {{"export", shot, dir / "r.%d.png", "--resize", "64"}, 2, "'64' is not WIDTHxHEIGHT"},
        {{"export", shot, dir / "r.%d.png", "--resize", "x"}, 2, "'x' names no size"},
        {{"export", shot, dir / "r.%d.png", "--scale", "0"}, 2, "--scale"},
        {{"export", shot, dir / "r.%d.png", "--resize", "99999x99999"}, 2, "too large"},
        {{"export", shot, dir / "r.%d.png", "--scale", "2", "--resize", "4x4"}, 2, "excludes"},
        {{"import", "--dry-run", dir / "a.png", server.node(DAILIES + "/Take 1")},
         1,
         "already exists"},
        {{"contact-sheet", server.node(DAILIES + "/YUV"), dir / "s.png"},
         1,
         "clip format 'uyvy' cannot be converted"},
    });
    EXPECT_FALSE(std::filesystem::exists(dir / "s.png"));
    // A refused or failed import leaves no clip behind.
    for (const char* name : {"/Mixed", "/Cut"})
        EXPECT_EQ(runTool({"get", server.node(DAILIES + name)}).status, 1) << name;

    const std::string clip = server.node(DAILIES + "/Take 1");
    server.stop();
    tool_testing::expectFailures(
        {{{"export", clip, dir / "x.%d.png"}, 3, "cannot reach server"},
         {{"import", dir / "a.png", server.node(DAILIES + "/New")}, 3, "cannot reach server"}});
}

}  // namespace
