// The readers of incoming event traffic on arbitrary bytes: the "NodeEvent" stream a server
// sends to the client's event port (with its details read as a dictionary, as the library hands
// them to handlers) and the registration a client sends to a server. Neither may read outside
// its input or crash, and what they accept must survive being written and read again.
//
// The first byte picks the reader (even: event, odd: registration); the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "vantrel/VantrelNodeEvent.h"
#include "vantrel/protocol/EventWire.h"

using fuzzing::check;

namespace {

void nodeEvent(const std::string& text) {
    VantrelEventWire::NodeEvent read;
    std::string missing;
    if (!VantrelEventWire::decodeNodeEvent(text, read, missing)) {
        check(missing == "NodeId" || missing == "Type" || missing == "Details");
        return;
    }
    check(read.nodeId.size() + read.type.size() + read.details.size() <= text.size());
    VantrelEventWire::NodeEvent again;
    check(VantrelEventWire::decodeNodeEvent(VantrelEventWire::encodeNodeEvent(read), again,
                                            missing));
    check(again.nodeId == read.nodeId && again.type == read.type &&
          again.details == read.details);
    const VantrelNodeEvent event(VantrelNodeId(read.nodeId.c_str()), read.type.c_str(),
                                 VantrelDictionary(read.details.c_str()));
    VantrelStr value;
    event.getDetails().getString("Child", value);
    int number = 0;
    event.getDetails().getInteger("NumFrames", number);
    check(VantrelNodeEvent(event) == event);
}

void registration(const std::string& text) {
    VantrelEventWire::Registration read;
    std::string error;
    if (!VantrelEventWire::decodeRegistration(text, read, error)) {
        check(!error.empty());
        return;
    }
    VantrelEventWire::Registration again;
    check(VantrelEventWire::decodeRegistration(VantrelEventWire::encodeRegistration(read), again,
                                               error));
    check(again.port == read.port && again.connection == read.connection &&
          again.subject == read.subject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const fuzzing::DiscardingRouter silent;
    static const bool routed = (Vantrel::CoMsg::setRouter(&silent), true);
    (void)routed;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0)
        nodeEvent(text);
    else
        registration(text);
    return 0;
}
