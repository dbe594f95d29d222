// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "vantrel/CoMsg.h"

namespace fuzzing {

// Stops the run (a finding) when an invariant does not hold.
inline void check(bool invariant) {
    if (!invariant) std::abort();
}

// Messages are built (their formats are exercised) but go nowhere, so a target stays fast.
class DiscardingRouter : public Vantrel::CoMsg::Router {
public:
    void post(const Vantrel::CoMsg&) const override {}
};

// Routes every message to a DiscardingRouter for the rest of the run, building those down to
// the debug level. Call it once, before the first input.
inline bool discardMessages() {
    static const DiscardingRouter router;
    Vantrel::CoMsg::setRouter(&router);
    Vantrel::CoMsg::setFilterLevel(Vantrel::CoMsg::DEBUGGING_LEVEL);
    return true;
}

// Feeds `data` after its first byte to a line message (rcCommand, rcResult) in pieces, the
// first byte choosing their size (even: all at once; odd: 1 to 16 bytes), and to a second
// message one byte at a time. Both must agree on where each line ends; each complete line must
// end with a line feed and is handed to `onLine(bulk, byByte)` before both are reset.
template <typename Message, typename OnLine>
void parseInPieces(const uint8_t* data, size_t size, Message& bulk, Message& byByte,
                   OnLine onLine) {
    if (size == 0) return;
    const size_t piece = data[0] % 2 == 0 ? size : data[0] / 2 % 16 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size_t left = size - 1;
    while (left > 0) {
        const size_t offered = left < piece ? left : piece;
        const size_t taken = bulk.parse(bytes, offered);
        bool byByteComplete = false;
        for (size_t i = 0; i < taken; ++i) byByteComplete = byByte.parseChar(bytes[i]);
        check(byByteComplete == bulk.isComplete());
        check(taken >= 1 && taken <= offered);
        if (bulk.isComplete()) {
            check(bytes[taken - 1] == '\n');
            onLine(bulk, byByte);
            bulk.reset();
            byByte.reset();
        } else {
            check(taken == offered);
        }
        bytes += taken;
        left -= taken;
    }
}

}  // namespace fuzzing
