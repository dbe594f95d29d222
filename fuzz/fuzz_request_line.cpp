// Request lines on arbitrary bytes, cut into arbitrary pieces: the parser must take every byte,
// stop after each line feed, agree with a byte-at-a-time parse, and give back, after rendering
// and parsing again, the same request.
//
// The first byte gives the size of the pieces the rest is fed in (even: all at once; odd: 1 to
// 16 bytes); seeds are request lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rcApi/rcMessage.h"

using Vantrel::rcCommand;

namespace {

void check(bool invariant) {
    if (!invariant) std::abort();
}

void checkRoundTrip(const rcCommand& parsed) {
    const std::string line = parsed.toString();
    rcCommand again;
    check(again.parse(line.data(), line.size()) == line.size());
    check(again.isComplete());
    check(std::strcmp(again.getMode(), parsed.getMode()) == 0);
    check(std::strcmp(again.getObjectId(), parsed.getObjectId()) == 0);
    check(std::strcmp(again.getMethod(), parsed.getMethod()) == 0);
    check(std::strcmp(again.getArgs(), parsed.getArgs()) == 0);
    check(again.isAsync() == parsed.isAsync());
    check(again.getObjectIdValue() == parsed.getObjectIdValue());
}

// The bulk parse and the byte-at-a-time parse must agree.
void checkSame(const rcCommand& a, const rcCommand& b) {
    check(std::strcmp(a.getMode(), b.getMode()) == 0);
    check(std::strcmp(a.getObjectId(), b.getObjectId()) == 0);
    check(std::strcmp(a.getMethod(), b.getMethod()) == 0);
    check(std::strcmp(a.getArgs(), b.getArgs()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] % 2 == 0 ? size : data[0] / 2 % 16 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size_t left = size - 1;
    rcCommand command;
    rcCommand byByte;
    while (left > 0) {
        const size_t offered = left < piece ? left : piece;
        const size_t taken = command.parse(bytes, offered);
        bool byByteComplete = false;
        for (size_t i = 0; i < taken; ++i) byByteComplete = byByte.parseChar(bytes[i]);
        check(byByteComplete == command.isComplete());
        check(taken >= 1 && taken <= offered);
        check(!command.isTooLong());
        if (command.isComplete()) {
            check(bytes[taken - 1] == '\n');
            checkRoundTrip(command);
            checkSame(command, byByte);
            command.reset();
            byByte.reset();
        } else {
            check(taken == offered);
        }
        bytes += taken;
        left -= taken;
    }
    command.toString();
    return 0;
}
