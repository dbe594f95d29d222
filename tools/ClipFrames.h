// The frames of one clip, read and written through the client library for the transfer
// subcommands (get, put, export, import).
//
// ClipReader reads the frames a FrameSelection names, in its order, and asks the server to
// read ahead the frames that come next in that order (the server's advised number of
// read-aheads, at most MAX_READ_AHEAD), so that the next frames are on their way whatever the
// selection's order. ClipWriter writes frames by index and allocates frames when the clip
// holds too few.
//
// Failure: ToolFailure through the Tool: a failed library call as Tool::check classifies it
// (server error or unreachable); a clip whose frames have no size, or frames beyond
// MAX_FRAME_SIZE, EXIT_SERVER_ERROR; bytes that do not fit a frame, EXIT_USAGE.
// Ownership and threads: the Tool and the node handle are not owned and must outlive the
// object; one thread, like the handle.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "FrameSelection.h"
#include "Tool.h"

namespace vantrel_tool {

// The largest frame the tool moves in one piece.
constexpr size_t MAX_FRAME_SIZE = size_t(1) << 30;
constexpr int MAX_READ_AHEAD = 8;

// The bytes of one frame of `format`: its frame buffer size, else width x height x bits per
// pixel / 8 (rounded up).
size_t frameSizeOf(const VantrelClipFormat& format);

// The clip's frame count and format, fetched once.
class ClipFrames {
public:
    ClipFrames(Tool& tool, VantrelNodeHandle& clip);

    size_t frameCount() const { return frameCount_; }
    const VantrelClipFormat& format() const { return format_; }
    // frameSizeOf(format()).
    size_t frameSize() const { return frameSizeOf(format_); }

protected:
    std::string frameId(size_t index) const;

    Tool& tool_;
    VantrelNodeHandle& clip_;
    size_t frameCount_ = 0;
    VantrelClipFormat format_;
};

class ClipReader : public ClipFrames {
public:
    // Called with each frame's index and bytes (frameSize() of them, padded with zeros by the
    // server when the stored frame is shorter); the bytes are valid during the call. A sink
    // may keep them by swapping in another buffer, of any size: the reader sizes it again.
    using Sink = std::function<void(size_t index, std::vector<unsigned char>& bytes)>;

    ClipReader(Tool& tool, VantrelNodeHandle& clip);
    void read(const FrameSelection& selection, const Sink& sink);

private:
    void readAhead(const FrameSelection& selection, size_t position);

    int readAheads_ = 0;
};

class ClipWriter : public ClipFrames {
public:
    ClipWriter(Tool& tool, VantrelNodeHandle& clip);
    // Makes the clip hold at least `count` frames (existing frames keep their bytes).
    void reserve(size_t count);
    // Writes `size` bytes (at most frameSize()) into frame `index` (below frameCount()).
    void write(size_t index, const void* data, size_t size);
};

}  // namespace vantrel_tool
