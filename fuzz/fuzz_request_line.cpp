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

#include "FuzzSupport.h"
#include "rcApi/rcMessage.h"

using Vantrel::rcCommand;
using fuzzing::check;

namespace {

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
    rcCommand command;
    rcCommand byByte;
    fuzzing::parseInPieces(data, size, command, byByte,
                           [](const rcCommand& bulk, const rcCommand& single) {
                               checkRoundTrip(bulk);
                               checkSame(bulk, single);
                           });
    check(!command.isTooLong());
    command.toString();
    return 0;
}
