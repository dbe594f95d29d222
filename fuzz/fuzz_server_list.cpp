// Server-list payloads on arbitrary bytes: the decoder must end in time linear in the text
// (whatever "Count" claims), keep memory within the text, and give records that all came
// from the text. The records encode again into a payload that decodes to the same records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "vantrel/CoMsg.h"
#include "vantrel/protocol/VantrelServerListPayload.h"

using fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::DiscardingRouter router;
    static const bool routed = (Vantrel::CoMsg::setRouter(&router), true);
    (void)routed;

    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> records = VantrelServerListPayload::decode(text);
    size_t total = 0;
    for (const std::string& record : records) total += record.size();
    check(total <= size);
    std::vector<std::string> visible;
    for (const std::string& record : records) {
        if (record.find('\0') != std::string::npos) return 0;  // the encoder takes C texts
        visible.push_back(record);
    }
    check(VantrelServerListPayload::decode(VantrelServerListPayload::encode(visible)) == visible);
    return 0;
}
