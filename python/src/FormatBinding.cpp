// ClipFormat and ServerInfo: the module's value objects.
#include <pybind11/stl.h>

#include <cstring>
#include <sstream>

#include "Binding.h"
#include "Frames.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"

namespace vantrel_python {

namespace {

VantrelClipFormat makeClipFormat(int width, int height, int bitsPerPixel, int channels,
                                 const std::string& formatTag, float frameRate,
                                 py::object frameBufferSize, float pixelRatio,
                                 const std::string& scanFormat, const std::string& metadataTag,
                                 const std::string& metadata) {
    const long double computed = (static_cast<long double>(width) * height * bitsPerPixel + 7) / 8;
    if (frameBufferSize.is_none() && (computed > 0x7fffffff || computed < 0))
        throw py::value_error("A frame of this format would not fit a transfer (2 GiB at most)");
    const int size = frameBufferSize.is_none() ? static_cast<int>(computed)
                                               : frameBufferSize.cast<int>();
    return VantrelClipFormat(width, height, bitsPerPixel, channels, size, frameRate, pixelRatio,
                             VantrelClipFormat::strToScanFormat(scanFormat.c_str()),
                             formatTag.c_str(), metadataTag.c_str(), metadata.c_str());
}

bool sameFormat(const VantrelClipFormat& a, const VantrelClipFormat& b) {
    return a.width() == b.width() && a.height() == b.height() &&
           a.bitsPerPixel() == b.bitsPerPixel() && a.numChannels() == b.numChannels() &&
           a.frameBufferSize() == b.frameBufferSize() && a.frameRate() == b.frameRate() &&
           a.pixelRatio() == b.pixelRatio() && a.scanFormat() == b.scanFormat() &&
           std::strcmp(a.formatTag(), b.formatTag()) == 0 &&
           std::strcmp(a.metaDataTag(), b.metaDataTag()) == 0 &&
           std::strcmp(a.metaData(), b.metaData()) == 0;
}

// The constructor's arguments that make `format` again, in their order.
py::tuple formatState(const VantrelClipFormat& format) {
    return py::make_tuple(format.width(), format.height(), format.bitsPerPixel(),
                          format.numChannels(), std::string(format.formatTag()),
                          format.frameRate(), format.frameBufferSize(), format.pixelRatio(),
                          std::string(VantrelClipFormat::scanFormatStr(format.scanFormat())),
                          std::string(format.metaDataTag()), std::string(format.metaData()));
}

std::string describeFormat(const VantrelClipFormat& format) {
    std::ostringstream text;
    text << "ClipFormat(" << format.width() << "x" << format.height() << ", '"
         << format.formatTag() << "', " << format.bitsPerPixel() << " bits, "
         << format.numChannels() << " channels, " << format.frameBufferSize() << " bytes, "
         << format.frameRate() << " fps)";
    return text.str();
}

py::tuple protocolVersion(const VantrelServerInfo& info) {
    return py::make_tuple(info.getVersionMajor(), info.getVersionMinor(), info.getVersionMaint());
}

std::string connectId(const VantrelServerInfo& info) {
    const VantrelServerId id = info.getId();
    return std::string(id.getIPAddr()) + ":" + std::to_string(id.getPort());
}

void bindClipFormat(py::module_& module) {
    using F = VantrelClipFormat;
    py::class_<F>(module, "ClipFormat", "How the frames of a clip are laid out (a value).")
        .def(py::init(&makeClipFormat), py::arg("width"), py::arg("height"),
             py::arg("bits_per_pixel") = 24, py::arg("channels") = 3,
             py::arg("format_tag") = "rgb", py::arg("frame_rate") = 24.0f,
             py::arg("frame_buffer_size") = py::none(), py::arg("pixel_ratio") = 1.0f,
             py::arg("scan_format") = "progressive", py::arg("metadata_tag") = "none",
             py::arg("metadata") = "")
        .def_property_readonly("width", &F::width)
        .def_property_readonly("height", &F::height)
        .def_property_readonly("bits_per_pixel", &F::bitsPerPixel)
        .def_property_readonly("channels", &F::numChannels)
        .def_property_readonly("bits_per_channel", &F::bitsPerChannel)
        .def_property_readonly("frame_buffer_size", &F::frameBufferSize)
        .def_property_readonly("frame_rate", &F::frameRate)
        .def_property_readonly("pixel_ratio", &F::pixelRatio)
        .def_property_readonly("scan_format",
                               [](const F& f) { return F::scanFormatStr(f.scanFormat()); })
        .def_property_readonly("format_tag", &F::formatTag)
        .def_property_readonly("metadata_tag", &F::metaDataTag)
        .def_property_readonly("metadata", &F::metaData)
        .def_property_readonly("array_shape",
                               [](const F& f) -> py::object {
                                   const FrameLayout layout = frameLayout(f);
                                   if (!layout.isArray) return py::none();
                                   return py::tuple(py::cast(layout.shape));
                               })
        .def_property_readonly("array_dtype",
                               [](const F& f) -> py::object {
                                   const FrameLayout layout = frameLayout(f);
                                   if (!layout.isArray) return py::none();
                                   return py::dtype(layout.dtype);
                               })
        .def("__eq__", &sameFormat, py::is_operator())
        .def("__repr__", &describeFormat)
        .def("__copy__", [](const F& f) { return F(f); })
        .def("__deepcopy__", [](const F& f, py::dict) { return F(f); }, py::arg("memo"))
        .def(py::pickle(&formatState, [](const py::tuple& state) {
            if (state.size() != 11) throw py::value_error("not the state of a ClipFormat");
            return makeClipFormat(
                state[0].cast<int>(), state[1].cast<int>(), state[2].cast<int>(),
                state[3].cast<int>(), state[4].cast<std::string>(), state[5].cast<float>(),
                state[6], state[7].cast<float>(), state[8].cast<std::string>(),
                state[9].cast<std::string>(), state[10].cast<std::string>());
        }));
}

// A ServerInfo's pickled state: its record in the wire form servers announce it in.
py::tuple infoState(const VantrelServerInfo& info) {
    return py::make_tuple(py::bytes(info.getDaemonInfo().toAttrStream().getStreamStr()));
}

VantrelServerInfo infoFromState(const py::tuple& state) {
    if (state.size() != 1 || !py::isinstance<py::bytes>(state[0]))
        throw py::value_error("not the state of a ServerInfo");
    const Vantrel::rcAttrStream record(state[0].cast<std::string>());
    if (!record.isWhole()) throw py::value_error("not the state of a ServerInfo");
    return VantrelServerInfo(VantrelDaemonInfo(record));
}

void bindServerInfo(py::module_& module) {
    using I = VantrelServerInfo;
    py::class_<I>(module, "ServerInfo", "A server's description record (a value).")
        .def_property_readonly("display_name", &I::getDisplayName)
        .def_property_readonly("host_name", &I::getHostname)
        .def_property_readonly("host_uuid", &I::getHostUUID)
        .def_property_readonly("storage_id", &I::getStorageId)
        .def_property_readonly("database", &I::getDatabase)
        .def_property_readonly("product", &I::getProduct)
        .def_property_readonly("vendor", &I::getVendor)
        .def_property_readonly("product_version", &I::getProductVersionStr)
        .def_property_readonly("protocol_version", &protocolVersion)
        .def_property_readonly("address", &connectId)
        .def("__copy__", [](const I& info) { return I(info); })
        .def("__deepcopy__", [](const I& info, py::dict) { return I(info); }, py::arg("memo"))
        .def(py::pickle(&infoState, &infoFromState))
        .def("__repr__", [](const I& info) {
            return "ServerInfo('" + std::string(info.getDisplayName()) + "' at " +
                   connectId(info) + ")";
        });
}

}  // namespace

void bindFormats(py::module_& module) {
    bindClipFormat(module);
    bindServerInfo(module);
}

}  // namespace vantrel_python
