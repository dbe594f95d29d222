#include "ClipFrames.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace vantrel_tool {

size_t frameSizeOf(const VantrelClipFormat& format) {
    uint64_t size =
        format.frameBufferSize() > 0 ? static_cast<uint64_t>(format.frameBufferSize()) : 0;
    if (size == 0 && format.width() > 0 && format.height() > 0 && format.bitsPerPixel() > 0)
        size = (static_cast<uint64_t>(format.width()) * static_cast<uint64_t>(format.height()) *
                    static_cast<uint64_t>(format.bitsPerPixel()) +
                7) /
               8;
    if (size == 0)
        throw ToolFailure(EXIT_SERVER_ERROR, "the clip's format gives its frames no size");
    if (size > MAX_FRAME_SIZE)
        throw ToolFailure(EXIT_SERVER_ERROR, "frames of " + std::to_string(size) +
                                                 " bytes are larger than the tool moves (" +
                                                 std::to_string(MAX_FRAME_SIZE) + ")");
    return static_cast<size_t>(size);
}

ClipFrames::ClipFrames(Tool& tool, VantrelNodeHandle& clip) : tool_(tool), clip_(clip) {
    unsigned int count = 0;
    tool_.check(clip_.getNumFrames(count), clip_, "cannot list the clip's frames");
    frameCount_ = count;
    tool_.check(clip_.getClipFormat(format_), clip_, "cannot get the clip's format");
}

std::string ClipFrames::frameId(size_t index) const {
    VantrelStr id;
    tool_.check(clip_.getFrameId(static_cast<int>(index), id), clip_,
                "cannot get the id of frame " + std::to_string(index));
    return id.c_str();
}

ClipReader::ClipReader(Tool& tool, VantrelNodeHandle& clip) : ClipFrames(tool, clip) {
    int advised = 0;
    if (clip_.activateReadAhead() && clip_.getNbReadAheads(advised))
        readAheads_ = std::clamp(advised, 0, MAX_READ_AHEAD);
}

void ClipReader::read(const FrameSelection& selection, const Sink& sink) {
    std::vector<unsigned char> frame(frameSize());
    for (size_t ahead = 1; ahead < static_cast<size_t>(readAheads_); ++ahead)
        readAhead(selection, ahead);
    for (size_t position = 0; position < selection.size(); ++position) {
        const size_t index = selection[position];
        const std::string id = frameId(index);
        const size_t next = position + static_cast<size_t>(readAheads_);
        const std::string aheadId =
            readAheads_ > 0 && next < selection.size() ? frameId(selection[next]) : std::string();
        tool_.check(clip_.getServer().readFrame(id.c_str(), frame.data(),
                                                static_cast<unsigned int>(frame.size()),
                                                aheadId.empty() ? nullptr : aheadId.c_str()),
                    clip_, "cannot read frame " + std::to_string(index));
        sink(index, frame);
        frame.resize(frameSize());
    }
}

void ClipReader::readAhead(const FrameSelection& selection, size_t position) {
    if (position >= selection.size()) return;
    const std::string id = frameId(selection[position]);
    tool_.check(clip_.getServer().readFrame(nullptr, nullptr,
                                            static_cast<unsigned int>(frameSize()), id.c_str()),
                clip_, "cannot read ahead frame " + std::to_string(selection[position]));
}

ClipWriter::ClipWriter(Tool& tool, VantrelNodeHandle& clip) : ClipFrames(tool, clip) {}

void ClipWriter::reserve(size_t count) {
    if (count <= frameCount_) return;
    if (count > static_cast<size_t>(INT_MAX))
        usageError(std::to_string(count) + " frames are too many for a clip");
    tool_.check(clip_.setNumFrames(static_cast<unsigned int>(count)), clip_,
                "cannot allocate " + std::to_string(count) + " frames");
    frameCount_ = count;
}

void ClipWriter::write(size_t index, const void* data, size_t size) {
    if (size > frameSize())
        usageError(std::to_string(size) + " bytes do not fit in a frame of " +
                   std::to_string(frameSize()) + " bytes");
    tool_.check(clip_.writeFrame(static_cast<int>(index), data, static_cast<int>(size)), clip_,
                "cannot write frame " + std::to_string(index));
}

}  // namespace vantrel_tool
