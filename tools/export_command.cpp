// vantrel export SERVER:/path/clip NAME [--frames RANGES] [--dry-run] [--no-clobber]: a clip's
// frames as image files.
#include <sys/stat.h>

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
};

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
    for (const nlohmann::json& row : files) {
        const std::string name = row["file"].get<std::string>();
        struct stat facts {};
        if (::lstat(name.c_str(), &facts) == 0)
            usageError("'" + name + "' exists (--no-clobber): nothing exported");
    }
}

// `message` naming `target` where it names the temporary file written in its place.
std::string withTargetName(std::string message, const std::string& temporary,
                           const std::string& target) {
    for (size_t at = message.find(temporary); at != std::string::npos;
         at = message.find(temporary, at + target.size()))
        message.replace(at, temporary.size(), target);
    return message;
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
    if (options.noClobber || options.dryRun) {
        const nlohmann::json planned = plannedFiles(names, selection, options.start);
        if (options.noClobber) refuseExisting(planned);
        if (options.dryRun) {
            tool.print({{"clip", path.text()}, {"format", format.formatTag()}, {"files", planned},
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
            writeFrameImage(image.temporary(), reader.format(), bytes.data(), bytes.size());
        } catch (const ImageError& error) {
            usageError(withTargetName(error.what(), image.temporary(), name));
        }
        image.commit();
        files.push_back({{"index", index}, {"file", name}});
        progress.advance(1, bytes.size());
    });
    progress.finish();
    tool.print({{"clip", path.text()}, {"format", format.formatTag()}, {"files", files}},
               [&](std::ostream& out) {
                   out << "exported " << counted(selection.size(), "frame") << " of " << format.width() << "x"
                       << format.height() << " " << format.formatTag() << " to " << options.output
                       << "\n";
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
    command->add_flag("-n,--dry-run", options->dryRun,
                      "Check the clip, frames and names and show the files that would be "
                      "written; write nothing");
    command->add_flag("--no-clobber", options->noClobber,
                      "Refuse the export, writing nothing, when one of its files exists");
    registry.setAction(command, [options](Tool& tool) { runExport(tool, *options); });
}

}  // namespace vantrel_tool
