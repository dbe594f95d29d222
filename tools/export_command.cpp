// vantrel export SERVER:/path/clip NAME [--frames RANGES] [--resize WxH | --scale F]
// [--dry-run] [--no-clobber]: a clip's frames as image files.
#include <cmath>
#include <utility>

#include "ClipFrames.h"
#include "ImageFrames.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct ExportOptions {
    std::string clip;
    std::string output;
    std::string frames;
    size_t start = 0;
    bool dryRun = false;
    bool noClobber = false;
    std::string resize;  // "WxH", "Wx" or "xH"; empty: the clip's size
    double scale = 0;    // 0: none
};

// A side of --resize: empty (0, follow the other side) or a positive number of pixels.
int sideOf(const std::string& text, const std::string& whole) {
    if (text.empty()) return 0;
    if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) == 0)
        usageError("--resize '" + whole + "' is not WIDTHxHEIGHT (such as 960x540, 960x or x540)");
    return std::stoi(text);
}

// Pixels of `scaled` over `whole` of `side`, at least 1.
int proportional(int side, int scaled, int whole) {
    return std::max(1, static_cast<int>(std::lround(double(side) * scaled / whole)));
}

// The most pixels an exported image may have (resizing holds a few copies in memory).
constexpr long long MAX_OUTPUT_PIXELS = 100LL * 1000 * 1000;

// What --resize or --scale asked for (a side left out of --resize keeps the frame's shape).
std::pair<int, int> requestedSize(const ExportOptions& options, const VantrelClipFormat& format) {
    const int width = format.width(), height = format.height();
    if (options.scale > 0)
        return {proportional(width, static_cast<int>(std::lround(options.scale * 1000)), 1000),
                proportional(height, static_cast<int>(std::lround(options.scale * 1000)), 1000)};
    if (options.resize.empty()) return {width, height};
    const size_t x = options.resize.find_first_of("xX");
    if (x == std::string::npos)
        usageError("--resize '" + options.resize + "' is not WIDTHxHEIGHT (such as 960x540)");
    const int w = sideOf(options.resize.substr(0, x), options.resize);
    const int h = sideOf(options.resize.substr(x + 1), options.resize);
    if (w == 0 && h == 0) usageError("--resize '" + options.resize + "' names no size");
    if (w == 0) return {proportional(width, h, height), h};
    if (h == 0) return {w, proportional(height, w, width)};
    return {w, h};
}

// The files the export of `selection` writes, as {"index", "file"} rows in order.
nlohmann::json plannedFiles(const FileNamePattern& names, const FrameSelection& selection,
                            size_t start) {
    nlohmann::json files = nlohmann::json::array();
    for (size_t position = 0; position < selection.size(); ++position)
        files.push_back({{"index", selection[position]},
                         {"file", names.name(start + selection[position])}});
    return files;
}

// With --no-clobber, a file of `files` that exists already refuses the whole export before
// anything is read or written.
void refuseExisting(const nlohmann::json& files) {
    for (const nlohmann::json& row : files) refuseExistingFile(row["file"].get<std::string>());
}

// `message` naming `target` where it names the temporary file written in its place.
std::string withTargetName(std::string message, const std::string& temporary,
                           const std::string& target) {
    for (size_t at = message.find(temporary); at != std::string::npos;
         at = message.find(temporary, at + target.size()))
        message.replace(at, temporary.size(), target);
    return message;
}

// ", resized to WxH" when the images are not the clip's size.
std::string sizeNote(int width, int height, const VantrelClipFormat& format) {
    if (width == format.width() && height == format.height()) return "";
    return ", resized to " + std::to_string(width) + "x" + std::to_string(height);
}

// The size the images are written at: the clip's, or the one asked for, within
// MAX_OUTPUT_PIXELS.
std::pair<int, int> outputSize(const ExportOptions& options, const VantrelClipFormat& format) {
    const std::pair<int, int> size = requestedSize(options, format);
    if (static_cast<long long>(size.first) * size.second > MAX_OUTPUT_PIXELS)
        usageError("images of " + std::to_string(size.first) + "x" + std::to_string(size.second) +
                   " are too large (at most " + std::to_string(MAX_OUTPUT_PIXELS) + " pixels)");
    return size;
}

void runExport(Tool& tool, const ExportOptions& options) {
    const NodePath path = nodePathArgument(options.clip);
    const FileNamePattern names = fileNameArgument(options.output);
    VantrelNodeHandle clip = resolveClip(tool, path);
    ClipReader reader(tool, clip);
    try {
        frameLayoutOf(reader.format());
    } catch (const ImageError& error) {
        throw ToolFailure(EXIT_SERVER_ERROR, error.what());
    }
    const FrameSelection selection = frameSelectionArgument(options.frames, reader.frameCount());
    if (selection.size() > 1 && !names.numbered())
        usageError("'" + options.output + "' has no frame number (such as %04d) for " +
                   std::to_string(selection.size()) + " frames");
    const VantrelClipFormat& format = reader.format();
    const std::pair<int, int> size = outputSize(options, format);
    const int width = size.first, height = size.second;
    if (options.noClobber || options.dryRun) {
        const nlohmann::json planned = plannedFiles(names, selection, options.start);
        if (options.noClobber) refuseExisting(planned);
        if (options.dryRun) {
            tool.print({{"clip", path.text()},
                        {"format", format.formatTag()},
                        {"width", width},
                        {"height", height},
                        {"files", planned},
                        {"dryRun", true}},
                       [&](std::ostream& out) {
                           for (const nlohmann::json& row : planned)
                               out << "would write " << row["file"].get<std::string>() << "\n";
                       });
            return;
        }
    }
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", selection.size(),
                         selection.size() * reader.frameSize());
    nlohmann::json files = nlohmann::json::array();
    reader.read(selection, [&](size_t index, const std::vector<unsigned char>& bytes) {
        const std::string name = names.name(options.start + index);
        PartialFile image(name);
        try {
            writeResizedFrameImage(image.temporary(), format, bytes.data(), bytes.size(), width,
                                   height);
        } catch (const ImageError& error) {
            usageError(withTargetName(error.what(), image.temporary(), name));
        }
        image.commit();
        files.push_back({{"index", index}, {"file", name}});
        progress.advance(1, bytes.size());
    });
    progress.finish();
    tool.print({{"clip", path.text()},
                {"format", format.formatTag()},
                {"width", width},
                {"height", height},
                {"files", files}},
               [&](std::ostream& out) {
                   out << "exported " << counted(selection.size(), "frame") << " of "
                       << format.width() << "x" << format.height() << " " << format.formatTag()
                       << sizeNote(width, height, format) << " to " << options.output << "\n";
               });
}

}  // namespace

void add_export_command(CommandRegistry& registry) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* command = registry.add(
        "export",
        "Writes a clip's frames as image files (EXR, DPX, TIFF, PNG, JPEG, ...: the name's "
        "extension chooses).",
        "vantrel export "
        "'127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars' "
        "bars.%04d.png --frames 0-3");
    command->add_option("clip", options->clip, "The clip (SERVER:/display/path)")->required();
    command
        ->add_option("name", options->output,
                     "Image file name; %04d or #### in it is the frame number (needed for several "
                     "frames)")
        ->required();
    command->add_option("--frames", options->frames,
                        "Frame indexes and ranges, such as 0-23,40, 10- or 0-100x2 (default: "
                        "every frame)");
    addStartOption(command, options->start);
    CLI::Option* resize = command->add_option(
        "--resize", options->resize,
        "Write the images at WIDTHxHEIGHT pixels (960x540); leave a side out (960x or x540) "
        "to keep the frame's shape");
    command
        ->add_option("--scale", options->scale,
                     "Write the images scaled by this factor (0.5: half the width and height)")
        ->check(CLI::Range(0.001, 16.0))
        ->excludes(resize);
    command->add_flag("-n,--dry-run", options->dryRun,
                      "Check the clip, frames and names and show the files that would be "
                      "written; write nothing");
    addNoClobberOption(command, options->noClobber, "one of its files exists");
    registry.setAction(command, [options](Tool& tool) { runExport(tool, *options); });
}

}  // namespace vantrel_tool
