// vantrel import FILES... SERVER:/path/NewClip [--rate FPS]: image files as the frames of a new
// clip whose format comes from the first image.
#include "ClipFrames.h"
#include "ImageFrames.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

constexpr float DEFAULT_RATE = 24.0f;

struct ImportOptions {
    std::vector<std::string> paths;  // the images, then the new clip
    float rate = 0;                  // 0: from the first image, else DEFAULT_RATE
    bool dryRun = false;
};

OIIO::ImageSpec imageSpecArgument(const std::string& file) {
    try {
        return readImageSpec(file);
    } catch (const ImageError& error) {
        usageError(error.what());
    }
}

// The clip format of the first image; every other image must agree in size and channels.
VantrelClipFormat formatOfImages(const std::vector<std::string>& files, float rate) {
    const OIIO::ImageSpec first = imageSpecArgument(files.front());
    for (size_t i = 1; i < files.size(); ++i) {
        const OIIO::ImageSpec image = imageSpecArgument(files[i]);
        if (image.width != first.width || image.height != first.height ||
            image.nchannels != first.nchannels)
            usageError("'" + files[i] + "' is " + std::to_string(image.width) + "x" +
                       std::to_string(image.height) + " with " + std::to_string(image.nchannels) +
                       " channels, '" + files.front() + "' " + std::to_string(first.width) + "x" +
                       std::to_string(first.height) + " with " + std::to_string(first.nchannels) +
                       ": all images of a clip agree in size and channels");
    }
    try {
        VantrelClipFormat format = clipFormatOf(first, DEFAULT_RATE);
        if (rate > 0) format.setFrameRate(rate);
        return format;
    } catch (const ImageError& error) {
        usageError("'" + files.front() + "': " + error.what());
    }
}

// The folder the new clip `path` goes into; fails when it is missing or holds the name.
VantrelNodeHandle parentOfNewClip(Tool& tool, const NodePath& path) {
    if (path.isRoot()) usageError("the new clip needs a name");
    VantrelNodeHandle parent = tool.resolve(path.parent());
    VantrelNodeHandle existing = parent;
    if (VantrelFindChild(parent, path.name().c_str(), existing))
        throw ToolFailure(EXIT_SERVER_ERROR, "'" + path.displayPath() + "' already exists");
    return parent;
}

// A clip made by this command, destroyed again unless the import completes.
class NewClip {
public:
    NewClip(Tool& tool, const NodePath& path, const VantrelClipFormat& format) {
        VantrelNodeHandle parent = parentOfNewClip(tool, path);
        clip_ = parent;
        tool.check(parent.createClipNode(path.name().c_str(), format, "CLIP", clip_), parent,
                   "cannot create '" + path.displayPath() + "'");
        created_ = true;
    }
    ~NewClip() {
        if (created_ && !kept_) clip_.destroyNode();
    }
    VantrelNodeHandle& handle() { return clip_; }
    void keep() { kept_ = true; }

private:
    VantrelNodeHandle clip_;
    bool created_ = false;
    bool kept_ = false;
};

// The result of an import of `frames` images (or, with `dryRun`, of the one that would be).
void printImport(Tool& tool, const NodePath& path, const VantrelClipFormat& format, size_t frames,
                 bool dryRun) {
    nlohmann::json result = {{"clip", path.text()},
                              {"format", format.formatTag()},
                              {"width", format.width()},
                              {"height", format.height()},
                              {"channels", format.numChannels()},
                              {"bitsPerPixel", format.bitsPerPixel()},
                              {"frameRate", format.frameRate()},
                              {"frames", frames}};
    if (dryRun) result["dryRun"] = true;
    tool.print(result, [&](std::ostream& out) {
        out << (dryRun ? "would import " : "imported ") << counted(frames, "frame") << " of "
            << format.width() << "x" << format.height() << " " << format.formatTag() << " into "
            << path.text() << "\n";
    });
}

void runImport(Tool& tool, const ImportOptions& options) {
    std::vector<std::string> files(options.paths.begin(), options.paths.end() - 1);
    sortByFrameNumber(files);
    const NodePath path = nodePathArgument(options.paths.back());
    const VantrelClipFormat format = formatOfImages(files, options.rate);
    if (options.dryRun) {
        parentOfNewClip(tool, path);
        printImport(tool, path, format, files.size(), true);
        return;
    }
    NewClip clip(tool, path, format);
    ClipWriter writer(tool, clip.handle());
    writer.reserve(files.size());
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", files.size(),
                         files.size() * writer.frameSize());
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<unsigned char> pixels;
        try {
            pixels = readFrameImage(files[i], format);
        } catch (const ImageError& error) {
            usageError(error.what());
        }
        writer.write(i, pixels.data(), pixels.size());
        progress.advance(1, pixels.size());
    }
    progress.finish();
    clip.keep();
    printImport(tool, path, format, files.size(), false);
}

}  // namespace

void add_import_command(CommandRegistry& registry) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* command = registry.add(
        "import",
        "Creates a clip from image files, one frame each; the first image gives the clip format.",
        "vantrel import plate.*.exr "
        "'127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Plate'");
    addSourcesAndTarget(
        command, options->paths,
        "The image files (in the order of the frame numbers in their names), then the new "
        "clip (SERVER:/display/path)");
    command
        ->add_option("--rate", options->rate,
                     "Frames per second (default: the first image's, else 24)")
        ->check(CLI::PositiveNumber);
    command->add_flag("-n,--dry-run", options->dryRun,
                      "Read the images' descriptions, check the new clip's place and show the "
                      "clip that would be made; create nothing");
    registry.setAction(command, [options](Tool& tool) { runImport(tool, *options); });
}

}  // namespace vantrel_tool
