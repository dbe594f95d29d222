// vantrel contact-sheet SERVER:/path/clip OUT.png [--frames RANGES | --count N] [--columns N]
// [--tile-width W] [--no-clobber]: frames of a clip in a grid with their numbers, as one image.
#include <optional>

#include "ClipFrames.h"
#include "ContactSheet.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct ContactSheetOptions {
    std::string clip;
    std::string output;
    std::string frames;
    size_t count = 24;
    int columns = 6;
    int tileWidth = 240;
    bool noClobber = false;
};

constexpr size_t MAX_TILES = 1000;

// `count` frames spread evenly over a clip of `frameCount` (the first and the last among
// them), or every frame when it holds no more.
FrameSelection spreadFrames(size_t count, size_t frameCount) {
    if (frameCount <= count) return FrameSelection::all(frameCount);
    std::string text;
    for (size_t position = 0; position < count; ++position) {
        const size_t index = count == 1 ? 0 : position * (frameCount - 1) / (count - 1);
        text += (position ? "," : "") + std::to_string(index);
    }
    return FrameSelection::parse(text, frameCount);
}

void runContactSheet(Tool& tool, const ContactSheetOptions& options) {
    const NodePath path = nodePathArgument(options.clip);
    if (options.noClobber) refuseExistingFile(options.output);
    VantrelNodeHandle clip = resolveClip(tool, path);
    ClipReader reader(tool, clip);
    if (reader.frameCount() == 0)
        throw ToolFailure(EXIT_SERVER_ERROR, path.text() + " holds no frames");
    const FrameSelection selection = options.frames.empty()
                                         ? spreadFrames(options.count, reader.frameCount())
                                         : frameSelectionArgument(options.frames, reader.frameCount());
    if (selection.size() > MAX_TILES)
        usageError(counted(selection.size(), "frame") + " are too many for one sheet (at most " +
                   std::to_string(MAX_TILES) + ")");
    std::optional<ContactSheet> sheet;
    try {
        sheet.emplace(reader.format(), selection.size(), options.columns, options.tileWidth);
    } catch (const ImageError& error) {
        throw ToolFailure(EXIT_SERVER_ERROR, error.what());
    }
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", selection.size(),
                         selection.size() * reader.frameSize());
    nlohmann::json frames = nlohmann::json::array();
    reader.read(selection, [&](size_t index, const std::vector<unsigned char>& bytes) {
        try {
            sheet->place(frames.size(), index, bytes.data(), bytes.size());
        } catch (const ImageError& error) {
            throw ToolFailure(EXIT_SERVER_ERROR, error.what());
        }
        frames.push_back(index);
        progress.advance(1, bytes.size());
    });
    progress.finish();
    PartialFile file(options.output);
    try {
        writeImageFile(file.temporary(), sheet->image().spec(), sheet->image().localpixels());
    } catch (const ImageError& error) {
        usageError(error.what());
    }
    file.commit();
    const OIIO::ImageSpec& spec = sheet->image().spec();
    tool.print({{"clip", path.text()},
                {"file", options.output},
                {"frames", frames},
                {"columns", sheet->columns()},
                {"rows", sheet->rows()},
                {"tileWidth", sheet->tileWidth()},
                {"tileHeight", sheet->tileHeight()},
                {"width", spec.width},
                {"height", spec.height}},
               [&](std::ostream& out) {
                   out << "wrote " << options.output << ": " << counted(frames.size(), "frame")
                       << " in " << sheet->columns() << "x" << sheet->rows() << " tiles, "
                       << spec.width << "x" << spec.height << " pixels\n";
               });
}

}  // namespace

void add_contact_sheet_command(CommandRegistry& registry) {
    auto options = std::make_shared<ContactSheetOptions>();
    CLI::App* command = registry.add(
        "contact-sheet",
        "Writes frames of a clip side by side with their numbers as one image (PNG, JPEG, "
        "TIFF, ...: the name's extension chooses).",
        "vantrel contact-sheet "
        "'127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars' bars.png");
    command->add_option("clip", options->clip, "The clip (SERVER:/display/path)")->required();
    command->add_option("name", options->output, "The image file to write")->required();
    CLI::Option* frames = command->add_option(
        "--frames", options->frames, "Frame indexes and ranges, such as 0-23,40 or 0-100x10");
    command
        ->add_option("--count", options->count,
                     "Without --frames: this many frames spread over the clip, first and last "
                     "included (default 24)")
        ->check(CLI::Range(size_t(1), MAX_TILES))
        ->excludes(frames);
    command->add_option("--columns", options->columns, "Tiles per row (default 6)")
        ->check(CLI::Range(1, 100));
    command
        ->add_option("--tile-width", options->tileWidth,
                     "Width of each frame on the sheet in pixels (default 240; the height "
                     "follows the frame's shape)")
        ->check(CLI::Range(MIN_TILE_WIDTH, MAX_TILE_WIDTH));
    addNoClobberOption(command, options->noClobber, "the image file exists");
    registry.setAction(command, [options](Tool& tool) { runContactSheet(tool, *options); });
}

}  // namespace vantrel_tool
