#include "Frames.h"

#include <cstring>
#include <set>
#include <sstream>

namespace vantrel_python {

namespace {

const std::set<std::string> INTEGER_TAGS = {"mono", "rgb", "hls", "yuv", "rgba", "hlsa", "yuva"};
const std::set<std::string> FLOAT_TAGS = {"mono_float", "rgb_float", "rgba_float"};

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The numpy type text of one channel, or "" when the tag and size make no array element.
std::string channelType(std::string tag, int bitsPerChannel) {
    const bool little = endsWith(tag, "_le");
    if (little) tag.resize(tag.size() - 3);
    const std::string order = bitsPerChannel == 8 ? "" : little ? "<" : ">";
    if (INTEGER_TAGS.count(tag) && (bitsPerChannel == 8 || bitsPerChannel == 16 ||
                                    bitsPerChannel == 32))
        return order + "u" + std::to_string(bitsPerChannel / 8);
    if (FLOAT_TAGS.count(tag) && (bitsPerChannel == 16 || bitsPerChannel == 32 ||
                                  bitsPerChannel == 64))
        return order + "f" + std::to_string(bitsPerChannel / 8);
    return "";
}

// Bytes of width x height pixels of bitsPerPixel bits, rounded up; 0 when a dimension is not
// positive or the frame would pass the largest size a transfer takes (INT_MAX bytes), as a
// hostile server's format may ask.
size_t pixelBytes(const VantrelClipFormat& format) {
    if (format.width() <= 0 || format.height() <= 0 || format.bitsPerPixel() <= 0) return 0;
    const unsigned __int128 bits = static_cast<unsigned __int128>(format.width()) *
                                   static_cast<unsigned>(format.height()) *
                                   static_cast<unsigned>(format.bitsPerPixel());
    const unsigned __int128 bytes = (bits + 7) / 8;
    return bytes > 0x7fffffffu ? 0 : static_cast<size_t>(bytes);
}

size_t rawBytes(const VantrelClipFormat& format) {
    if (format.frameBufferSize() > 0) return static_cast<size_t>(format.frameBufferSize());
    return pixelBytes(format);
}

std::string shapeText(const std::vector<py::ssize_t>& shape) {
    std::ostringstream text;
    text << "(";
    for (size_t i = 0; i < shape.size(); ++i) text << (i ? ", " : "") << shape[i];
    text << (shape.size() == 1 ? ",)" : ")");
    return text.str();
}

Failure formatMismatch(const std::string& what, const std::string& expected, const std::string& given) {
    return Failure(Failure::Kind::FRAME_FORMAT,
                   what + " does not match the clip format: expected " + expected + ", got " +
                       given);
}

// Checks an array against the layout's shape and dtype (not its memory order).
void checkArray(const py::array& array, const FrameLayout& layout) {
    const std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
    if (shape != layout.shape)
        throw formatMismatch("Array shape", shapeText(layout.shape), shapeText(shape));
    const py::dtype expected(layout.dtype);
    if (PyObject_RichCompareBool(array.dtype().ptr(), expected.ptr(), Py_EQ) != 1)
        throw formatMismatch("Array dtype", py::repr(expected).cast<std::string>(),
                       py::repr(array.dtype()).cast<std::string>());
}

void checkBufferSize(const py::buffer_info& buffer, size_t bytes) {
    const size_t given = static_cast<size_t>(buffer.size * buffer.itemsize);
    if (given != bytes)
        throw formatMismatch("Buffer size", std::to_string(bytes) + " bytes",
                       std::to_string(given) + " bytes");
}

bool contiguous(const py::buffer_info& buffer) {
    py::ssize_t expected = buffer.itemsize;
    for (py::ssize_t axis = buffer.ndim - 1; axis >= 0; --axis) {
        if (buffer.shape[axis] != 1 && buffer.strides[axis] != expected) return false;
        expected *= buffer.shape[axis];
    }
    return true;
}

// The buffer of `object`. Holding it keeps the object from being resized while the interpreter
// lock is released.
py::buffer_info requestBuffer(const py::object& object, bool writable) {
    const char* what = writable ? "The output must be a writable buffer"
                                : "The frame data must be a buffer (bytes, bytearray, array)";
    if (!PyObject_CheckBuffer(object.ptr())) throw Failure(Failure::Kind::FRAME_FORMAT, what);
    try {
        return object.cast<py::buffer>().request(writable);
    } catch (const py::error_already_set&) {
        throw Failure(Failure::Kind::FRAME_FORMAT, what);
    } catch (const py::cast_error&) {
        throw Failure(Failure::Kind::FRAME_FORMAT, what);
    }
}

// Reads into `data` (`bytes` long) with the interpreter lock released.
void readInto(ServerState& server, VantrelNodeHandle& node, int index, void* data, size_t bytes) {
    callServer(server, [&] { return node.readFrame(index, data, static_cast<int>(bytes)); });
}

FrameLayout layoutOf(ServerState& server, VantrelNodeHandle& node) {
    const FrameLayout layout = frameLayout(clipFormatOf(server, node));
    if (layout.bytes == 0 || layout.bytes > 0x7fffffffu)
        throw Failure(Failure::Kind::FRAME_FORMAT, "The clip format gives no usable frame size");
    return layout;
}

}  // namespace

VantrelClipFormat clipFormatOf(ServerState& server, VantrelNodeHandle& node) {
    VantrelClipFormat format;
    bool isClip = false;
    VantrelStr name, type;
    callServer(server, [&] {
        if (!node.getIsClipNode(isClip)) return false;
        if (!isClip) return node.getDisplayName(name) && node.getNodeTypeStr(type);
        return node.getClipFormat(format);
    });
    if (!isClip)
        throw Failure(Failure::Kind::GENERAL, std::string("'") + name.c_str() + "' is a " +
                                                  type.c_str() +
                                                  ", not a clip: it has no clip format or frames");
    return format;
}

FrameLayout frameLayout(const VantrelClipFormat& format) {
    FrameLayout layout;
    layout.bytes = rawBytes(format);
    const int channels = format.numChannels();
    if (format.width() <= 0 || format.height() <= 0 || channels <= 0 ||
        format.bitsPerPixel() % channels != 0)
        return layout;
    const std::string type = channelType(format.formatTag(), format.bitsPerPixel() / channels);
    if (type.empty()) return layout;
    // Whole channels of 8 to 64 bits: the pixels fill whole bytes.
    const size_t arrayBytes = pixelBytes(format);
    if (arrayBytes == 0) return layout;
    if (format.frameBufferSize() != 0 && layout.bytes != arrayBytes) return layout;
    layout.isArray = true;
    layout.shape = {format.height(), format.width(), channels};
    layout.dtype = type;
    layout.bytes = arrayBytes;
    return layout;
}

void loadNumpy() {
    try {
        py::module_::import("numpy");
        py::dtype("u1");  // makes the module keep numpy's C interface
    } catch (py::error_already_set& failure) {
        if (!failure.matches(PyExc_ImportError)) throw;
    }
}

py::object readFrame(ServerState& server, VantrelNodeHandle& node, int index) {
    const FrameLayout layout = layoutOf(server, node);
    if (!layout.isArray) {
        // A fresh bytes object nobody else has seen yet may be filled in place.
        py::bytes raw(nullptr, layout.bytes);
        readInto(server, node, index, PyBytes_AS_STRING(raw.ptr()), layout.bytes);
        return std::move(raw);
    }
    py::array array(py::dtype(layout.dtype), layout.shape);
    readInto(server, node, index, array.mutable_data(), layout.bytes);
    return std::move(array);
}

py::object readFrameInto(ServerState& server, VantrelNodeHandle& node, int index, py::object out) {
    const FrameLayout layout = layoutOf(server, node);
    if (layout.isArray) {
        if (!py::isinstance<py::array>(out))
            throw formatMismatch("Output", "a numpy array", py::repr(py::type::of(out)).cast<std::string>());
        checkArray(out.cast<py::array>(), layout);
    }
    const py::buffer_info buffer = requestBuffer(out, true);
    if (!contiguous(buffer))
        throw Failure(Failure::Kind::FRAME_FORMAT, "The output buffer must be C-contiguous");
    checkBufferSize(buffer, layout.bytes);
    readInto(server, node, index, buffer.ptr, layout.bytes);
    return out;
}

void writeFrame(ServerState& server, VantrelNodeHandle& node, int index, py::object data) {
    const FrameLayout layout = layoutOf(server, node);
    if (layout.isArray) {
        if (!py::isinstance<py::array>(data))
            throw formatMismatch("Frame data", "a numpy array",
                           py::repr(py::type::of(data)).cast<std::string>());
        checkArray(data.cast<py::array>(), layout);
        data = py::module_::import("numpy").attr("ascontiguousarray")(data);
    }
    const py::buffer_info buffer = requestBuffer(data, false);
    if (!contiguous(buffer))
        throw Failure(Failure::Kind::FRAME_FORMAT, "The frame data must be C-contiguous");
    checkBufferSize(buffer, layout.bytes);
    callServer(server, [&] {
        return node.writeFrame(index, buffer.ptr, static_cast<int>(layout.bytes));
    });
}

}  // namespace vantrel_python
