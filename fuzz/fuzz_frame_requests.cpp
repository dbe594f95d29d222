// vantreld's reading of frame-port requests on arbitrary bytes, one request after another as
// on a data connection: every field stays within its cap, an unknown command ends the stream
// (the server closes the connection), and what was accepted is a command of the table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FrameFuzzSource.h"
#include "FuzzSupport.h"
#include "vantrel/CoException.h"
#include "vantrel/protocol/FrameWire.h"

using fuzzing::check;
namespace Wire = VantrelFrameWire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::DiscardingRouter router;
    static const bool installed = (Vantrel::CoMsg::setRouter(&router), true);
    (void)installed;
    fuzzing::MemorySource source(reinterpret_cast<const char*>(data), size);
    const Wire::FieldLimits limits;
    try {
        for (;;) {
            Wire::Request request;
            if (Wire::readCommand(source, request, limits) == Wire::UNKNOWN_COMMAND) break;
            check(request.name == Wire::commandName(request.command));
            Wire::readRequestFields(source, request, limits);
            check(request.argument.size() < limits.maxArgument);
            check(request.number >= 0);
            check(static_cast<long long>(request.parameters.size()) <= limits.maxParameters);
            if (request.command == Wire::READ_STREAM)
                check(request.unitSize >= 0 && request.count >= 0);
        }
    } catch (const Vantrel::CoException&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
