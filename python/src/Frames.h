// How a clip's frames map to numpy arrays, and the frame transfers of a node.
//
// A frame maps to an array of shape (height, width, channels) when its format tag is a pixel
// layout ("rgb", "rgba", "mono", "yuv", ... and their "_le" and "_float" forms), its bits per
// pixel split evenly into channels of 8, 16, 32 (or, for floats, 16, 32, 64) bits, and its
// frame buffer size is that array's size (or 0). Tags without "_le" are big-endian. Every
// other frame (packed or subsampled layouts, file formats, padded buffers) travels as raw
// bytes of the frame buffer size.
#pragma once

#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "Binding.h"

namespace vantrel_python {

struct FrameLayout {
    bool isArray = false;
    std::vector<py::ssize_t> shape;  // (height, width, channels) when isArray
    std::string dtype;               // numpy type text ("u1", ">u2", "<f4") when isArray
    size_t bytes = 0;                // bytes of one frame
};

FrameLayout frameLayout(const VantrelClipFormat& format);

// Imports numpy and looks up its C interface, with the interpreter lock held for the whole
// time. Call once as the module loads: done lazily, the first frame calls of two threads
// would meet inside the lookup (the import lets the lock go) and wait for each other for
// ever. Without numpy the module still loads; frame calls then raise ImportError.
void loadNumpy();

// The clip format of `node`; Failure ("'NAME' is a FOLDER, not a clip") for a node that is no
// clip, whose format the server would make up.
VantrelClipFormat clipFormatOf(ServerState& server, VantrelNodeHandle& node);

// Frame `index` of `node`, read straight into a new array (or bytes object for raw frames).
py::object readFrame(ServerState& server, VantrelNodeHandle& node, int index);
// Frame `index` read into `out`, which must match the layout exactly (shape, dtype, C order,
// writable; for raw frames any writable contiguous buffer of the frame's size). Returns `out`.
py::object readFrameInto(ServerState& server, VantrelNodeHandle& node, int index, py::object out);
// Writes `data` as frame `index`: an array of the layout's shape and dtype (copied first when
// not C-contiguous), or for raw frames any buffer of the frame's size.
void writeFrame(ServerState& server, VantrelNodeHandle& node, int index, py::object data);

}  // namespace vantrel_python
