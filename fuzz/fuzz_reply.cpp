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

#include "FuzzSupport.h"
#include "rcApi/rcMessage.h"

using Vantrel::rcResult;
using fuzzing::check;

namespace {

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
    rcResult reply;
    rcResult byByte;
    fuzzing::parseInPieces(data, size, reply, byByte, [](const rcResult& bulk, const rcResult& single) {
        checkRoundTrip(bulk);
        checkSame(bulk, single);
    });
    return 0;
}
