// vantrel create SERVER:/parent/Name --type TYPE [clip format options]: a new node.
#include "ImageFrames.h"
#include "NodeFacts.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct CreateOptions {
    std::string path;
    std::string type;
    int width = 1920;
    int height = 1080;
    int bitsPerPixel = 0;  // 0: from the tag (below)
    int channels = 0;      // 0: from the tag
    int frameSize = 0;  // 0: width * height * bits per pixel / 8
    float frameRate = 24.0f;
    float pixelRatio = 1.0f;
    std::string scan = "progressive";
    std::string tag = "rgb";
    std::string metaDataTag = "none";
    std::string metaData;
    int frames = 0;
};

bool isClipType(const std::string& type) {
    for (const char* clip : {"CLIP", "HIRES", "LOWRES", "SLATE"})
        if (type == clip) return true;
    return false;
}

// Without a tag of their own, clips are 3 channels of 8 bits.
constexpr int OTHER_TAG_CHANNELS = 3;
constexpr int OTHER_TAG_BITS_PER_CHANNEL = 8;

// A format that contradicts a tag whose pixel layout the tools know (mono, rgb, rgba and their
// _le and _float forms) is refused: no tool could read its frames back. Other tags are taken
// as written.
void refuseContradictedTag(const VantrelClipFormat& format) {
    if (samplesOfTag(format.formatTag()).channels == 0) return;
    try {
        frameLayoutOf(format);
    } catch (const ImageError& error) {
        usageError(std::string(error.what()) + " (leave --channels and --bits out to take " +
                   "the tag's)");
    }
}

// The clip format of the options; channels and bits not written come from a known tag.
VantrelClipFormat clipFormat(CreateOptions o) {
    const TagSamples tag = samplesOfTag(o.tag);
    if (o.channels == 0) o.channels = tag.channels > 0 ? tag.channels : OTHER_TAG_CHANNELS;
    const int bitsPerChannel = tag.channels > 0 ? tag.bitsPerChannel : OTHER_TAG_BITS_PER_CHANNEL;
    if (o.bitsPerPixel == 0) o.bitsPerPixel = o.channels * bitsPerChannel;
    const VantrelClipFormat::ScanFormat scan = VantrelClipFormat::strToScanFormat(o.scan.c_str());
    if (scan == VantrelClipFormat::unknown) usageError("unknown scan format '" + o.scan + "'");
    const long long computed = static_cast<long long>(o.width) * o.height * o.bitsPerPixel / 8;
    if (o.frameSize == 0 && computed > 0x7fffffff)
        usageError("a frame of " + std::to_string(computed) + " bytes is too large");
    const int frameSize = o.frameSize > 0 ? o.frameSize : static_cast<int>(computed);
    const VantrelClipFormat format(o.width, o.height, o.bitsPerPixel, o.channels, frameSize,
                                   o.frameRate, o.pixelRatio, scan, o.tag.c_str(),
                                   o.metaDataTag.c_str(), o.metaData.c_str());
    refuseContradictedTag(format);
    return format;
}

void addFormatOptions(CLI::App* command, CreateOptions& o) {
    const char* group = "Clip format (clip types: CLIP, HIRES, LOWRES, SLATE)";
    command->add_option("--width", o.width, "Pixels per line")->capture_default_str()
        ->check(CLI::Range(1, 1 << 20))->group(group);
    command->add_option("--height", o.height, "Lines")->capture_default_str()
        ->check(CLI::Range(1, 1 << 20))->group(group);
    command->add_option("--bits", o.bitsPerPixel,
                        "Bits per pixel (default: the tag's; rgb 24, rgba 32, rgb_float 96; "
                        "other tags 8 per channel)")
        ->check(CLI::Range(1, 1024))->group(group);
    command->add_option("--channels", o.channels,
                        "Channels (default: the tag's; mono 1, rgb 3, rgba 4; other tags 3)")
        ->check(CLI::Range(1, 64))->group(group);
    command->add_option("--frame-size", o.frameSize, "Bytes per frame (default: from the above)")
        ->check(CLI::Range(1, 0x7fffffff))->group(group);
    command->add_option("--rate", o.frameRate, "Frames per second")->capture_default_str()
        ->group(group);
    command->add_option("--pixel-ratio", o.pixelRatio, "Pixel aspect ratio")
        ->capture_default_str()->group(group);
    command->add_option("--scan", o.scan, "progressive, field1_odd, field1_even, ...")
        ->capture_default_str()->group(group);
    command->add_option("--tag", o.tag, "Format tag (rgb, rgba, yuv, rgb_float, dpx, ...)")
        ->capture_default_str()->group(group);
    command->add_option("--metadata-tag", o.metaDataTag, "Tag of the format's own metadata")
        ->capture_default_str()->group(group);
    command->add_option("--metadata", o.metaData, "The format's own metadata text")->group(group);
    command->add_option("--frames", o.frames, "Frames to allocate in the new clip")
        ->check(CLI::Range(0, 1000000))->group(group);
}

}  // namespace

void add_create_command(CommandRegistry& registry) {
    auto options = std::make_shared<CreateOptions>();
    CLI::App* command = registry.add(
        "create", "Creates a node of any type; clips with the clip format given as options.",
        "vantrel create --type CLIP --width 720 --height 486 --tag yuv --bits 16 --frames 10 "
        "'127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 030'");
    command->add_option("path", options->path, "The new node, SERVER:/parent/path/Name")
        ->required();
    command->add_option("--type", options->type,
                        "Node type: VOLUME, PROJECT, SHARED_VAULT, LIBRARY, BIN, REEL, FOLDER, "
                        "CLIP, ... or a type number")
        ->required();
    addFormatOptions(command, *options);
    registry.setAction(command, [options](Tool& tool) {
        const NodePath path = nodePathArgument(options->path);
        if (path.isRoot()) usageError("the root exists already; name the new node after it");
        const bool clip = isClipType(options->type);
        if (!clip && options->frames > 0) usageError("only clips hold frames");
        const VantrelClipFormat format = clip ? clipFormat(*options) : VantrelClipFormat();
        VantrelNodeHandle parent = tool.resolve(path.parent());
        VantrelNodeHandle child(parent.getServer(), "");
        const std::string what = "creating " + path.text();
        const std::string name = path.name();
        tool.check(clip ? parent.createClipNode(name.c_str(), format,
                                                options->type.c_str(), child)
                        : parent.createNode(name.c_str(), options->type.c_str(), child),
                   parent, what);
        if (options->frames > 0)
            tool.check(child.setNumFrames(static_cast<unsigned>(options->frames)), child,
                       "allocating the frames of " + path.text());
        nlohmann::json doc = toJson(readNodeFacts(tool, child, path.text()));
        doc["path"] = path.text();
        tool.print(doc, [&](std::ostream& out) {
            out << "Created " << path.text() << " [" << doc["type"].get<std::string>() << "], id "
                << doc["id"].get<std::string>() << "\n";
        });
    });
}

}  // namespace vantrel_tool
