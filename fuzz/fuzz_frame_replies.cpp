// The client's readers of frame-port replies on arbitrary bytes: a status, a number, a
// redirect record (its number, its bytes, and the record decoded from them) and the error
// test of replies without acknowledgement. None may read past the bounds the protocol sets
// (1023 bytes of status, 63 of number, the redirect cap), allocate beyond them or crash.
//
// The first byte picks the reader (its value modulo 4); the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FrameFuzzSource.h"
#include "FuzzSupport.h"
#include "vantrel/CoException.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/protocol/FrameWire.h"

using fuzzing::check;
namespace Wire = VantrelFrameWire;

namespace {

void status(fuzzing::MemorySource& source) {
    bool cut = false;
    const std::string text = Wire::readStatus(source, cut);
    check(text.size() <= Wire::MAX_STATUS_BYTES);
    check(source.consumed() <= Wire::MAX_STATUS_BYTES);
    check(cut == (text.size() == Wire::MAX_STATUS_BYTES));
}

void number(fuzzing::MemorySource& source) {
    Wire::readNumber(source);
    check(source.consumed() <= Wire::MAX_NUMBER_BYTES);
}

void redirect(fuzzing::MemorySource& source) {
    const long long length = Wire::readNumber(source);
    const std::string record = Wire::readRedirectRecord(source, length);
    check(length >= 0 && length <= Wire::MAX_REDIRECT_RECORD);
    check(record.size() == static_cast<size_t>(length));
    if (length == 0) return;
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(record.c_str())};
    check(info.getNumFrameIPAddrs() <= VantrelDaemonInfo::MAX_IPS);
}

void noAckBuffer(const char* bytes, size_t size) {
    std::string text;
    if (Wire::isErrorReply(bytes, size, text))
        check(text.size() + Wire::ERROR_PREFIX_LENGTH <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::DiscardingRouter router;
    static const bool installed = (Vantrel::CoMsg::setRouter(&router), true);
    (void)installed;
    if (size == 0) return 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    fuzzing::MemorySource source(bytes, size - 1);
    try {
        switch (data[0] % 4) {
            case 0:
                status(source);
                break;
            case 1:
                number(source);
                break;
            case 2:
                redirect(source);
                break;
            default:
                noAckBuffer(bytes, size - 1);
                break;
        }
    } catch (const Vantrel::CoException&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
