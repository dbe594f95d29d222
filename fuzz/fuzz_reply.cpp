// Reply lines on arbitrary bytes, cut into arbitrary pieces: the parser must take every byte,
// stop after each line feed, agree with a byte-at-a-time parse, and give back, after rendering
// and parsing again, the same reply.
//
// The first byte gives the size of the pieces the rest is fed in (even: all at once; odd: 1 to
// 16 bytes); seeds are reply lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rcApi/rcMessage.h"

using Vantrel::rcResult;

namespace {

void check(bool invariant) {
    if (!invariant) std::abort();
}

void checkRoundTrip(const rcResult& parsed) {
    const std::string line = parsed.toString();
    rcResult again;
    check(again.parse(line.data(), line.size()) == line.size());
    check(again.isComplete());
    check(std::strcmp(again.getStatus(), parsed.getStatus()) == 0);
    check(std::strcmp(again.getValue(), parsed.getValue()) == 0);
    check(again.isError() == parsed.isError());
}

// The bulk parse and the byte-at-a-time parse must agree.
void checkSame(const rcResult& a, const rcResult& b) {
    check(std::strcmp(a.getStatus(), b.getStatus()) == 0);
    check(std::strcmp(a.getValue(), b.getValue()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] % 2 == 0 ? size : data[0] / 2 % 16 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size_t left = size - 1;
    rcResult reply;
    rcResult byByte;
    while (left > 0) {
        const size_t offered = left < piece ? left : piece;
        const size_t taken = reply.parse(bytes, offered);
        bool byByteComplete = false;
        for (size_t i = 0; i < taken; ++i) byByteComplete = byByte.parseChar(bytes[i]);
        check(byByteComplete == reply.isComplete());
        check(taken >= 1 && taken <= offered);
        if (reply.isComplete()) {
            check(bytes[taken - 1] == '\n');
            checkRoundTrip(reply);
            checkSame(reply, byByte);
            reply.reset();
            byByte.reset();
        } else {
            check(taken == offered);
        }
        bytes += taken;
        left -= taken;
    }
    return 0;
}
