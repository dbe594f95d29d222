// The server record (the "GetDaemonInfo" reply, also carried by discovery announcements) on
// arbitrary bytes. Decoding never fails; what it makes must hold together: address lists of
// at most five dense entries, and a record that its own encoding decodes back to unchanged
// (a record passed along by a client or a server list keeps every field).
//
// Seeds are the replies of vantreld playing the current and an older protocol version.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"

using fuzzing::check;

namespace {

// The first `count` entries are set and every later one is empty.
void checkDense(int count, const char* (VantrelDaemonInfo::*get)(int) const,
                const VantrelDaemonInfo& info) {
    check(count >= 0 && count <= VantrelDaemonInfo::MAX_IPS);
    for (int i = -1; i <= VantrelDaemonInfo::MAX_IPS; ++i)
        check(((info.*get)(i)[0] != '\0') == (i >= 0 && i < count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzzing::discardMessages();
    (void)quiet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(text)};
    checkDense(info.getNumIPAddrs(), &VantrelDaemonInfo::getIPAddr, info);
    checkDense(info.getNumFrameIPAddrs(), &VantrelDaemonInfo::getFrameIPAddr, info);

    const std::string written = info.toAttrStream().getStreamStr();
    const VantrelDaemonInfo again{Vantrel::rcAttrStream(written)};
    check(again == info);
    check(again.toAttrStream().getStreamStr() == written);
    check(!(info < again) && !(again < info));
    return 0;
}
