// The compiled part of the Python package `vantrel` (vantrel._vantrel).
#include "Frames.h"

PYBIND11_MODULE(_vantrel, module) {
    module.doc() = "The Vantrel client library (compiled part; import vantrel).";
    vantrel_python::loadNumpy();
    vantrel_python::bindMessages(module);
    vantrel_python::defineErrors(module);
    vantrel_python::bindFormats(module);
    vantrel_python::bindServers(module);
    vantrel_python::bindCallLimits(module);
    vantrel_python::bindNodes(module);
    vantrel_python::bindEvents(module);
    int major = 0, minor = 0, maint = 0;
    VantrelClientGetVersion(major, minor, maint);
    module.attr("library_version") = pybind11::make_tuple(major, minor, maint);
}
