// Connection records on arbitrary bytes: parsing must end, and a record that checks out must
// still check out after being written again and read back.
//
// The whole input is the record's attribute-stream text; seeds are records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "vantrel/CoMsg.h"
#include "rcApi/rcConnectionInfo.h"

using Vantrel::CoMsg;
using Vantrel::rcConnectionInfo;

using fuzzing::DiscardingRouter;

using fuzzing::check;

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DiscardingRouter router;
    CoMsg::setRouter(&router);
    CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);

    const std::string text(reinterpret_cast<const char*>(data), size);
    rcConnectionInfo parsed(text.c_str(), nullptr);
    parsed.logConnection();
    const std::string written = parsed.toAttrStream();
    // Texts cut at a NUL no longer match their checksum; only whole texts must survive.
    if (parsed.isValid() && written.find('\0') == std::string::npos &&
        text.find('\0') == std::string::npos) {
        check(rcConnectionInfo(written.c_str(), nullptr).isValid());
    }
    return 0;
}
