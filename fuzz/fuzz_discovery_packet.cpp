// Discovery datagrams on arbitrary bytes: the decoder must end, stay inside the datagram, and
// give either a packet of a known type with a non-zero version or a reason. A decoded packet
// encodes again into a datagram that decodes to the same type and payload.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "vantrel/CoMsg.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"

using fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::DiscardingRouter router;
    static const bool routed = (Vantrel::CoMsg::setRouter(&router), true);
    (void)routed;

    VantrelDiscoveryPacket::Decoded packet;
    std::string error;
    const bool ok =
        VantrelDiscoveryPacket::decode(reinterpret_cast<const char*>(data), size, packet, error);
    if (!ok) {
        check(!error.empty());
        return 0;
    }
    check(packet.version != 0 && VantrelDiscoveryPacket::isKnownType(packet.type));
    check(packet.payload.size() <= size);
    const std::string again = VantrelDiscoveryPacket::encode(packet.type, packet.payload);
    VantrelDiscoveryPacket::Decoded decoded;
    check(VantrelDiscoveryPacket::decode(again.data(), again.size(), decoded, error));
    check(decoded.type == packet.type && decoded.payload == packet.payload);
    return 0;
}
