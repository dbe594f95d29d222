// The client's decoders of the translation-table replies ("GetHostTranslations",
// "GetOsTypeTranslations", "GetTranslationGroups") and of comma lists, on arbitrary bytes:
// none may crash, a table never holds more than MAX_TABLE_ROWS rows whatever count the reply
// claims, and what the rows hold comes from the reply.
//
// The first byte picks the decoder (its value modulo 4); the rest is the reply text. Seeds are
// the tables vantreld answers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"

using fuzzing::check;

namespace {

constexpr size_t MAX_ROWS = static_cast<size_t>(VantrelBaseClientAPI::MAX_TABLE_ROWS);
[[maybe_unused]] const bool quiet = fuzzing::discardMessages();

void hosts(const std::string& text) {
    std::vector<VantrelServerHandle::HostTranslation> table;
    VantrelBaseClientAPI::decodeHostTranslations(text, table);
    check(table.size() <= MAX_ROWS);
    for (const auto& row : table)
        check(row.srcHost.length() + row.srcPath.length() + row.dstHost.length() +
                  row.dstPath.length() <= text.size());
}

void osTypes(const std::string& text) {
    std::vector<VantrelServerHandle::OsTypeTranslation> table;
    VantrelBaseClientAPI::decodeOsTypeTranslations(text, table);
    check(table.size() <= MAX_ROWS);
    for (const auto& row : table)
        check(row.srcPath.length() + row.dstPath.length() <= text.size());
}

void groups(const std::string& text) {
    std::vector<VantrelServerHandle::TranslationGroup> table;
    VantrelBaseClientAPI::decodeTranslationGroups(text, table);
    check(table.size() <= MAX_ROWS);
    for (const auto& group : table) check(group.name.length() <= text.size());
}

void commaList(const std::string& text) {
    VantrelStrList items;
    VantrelBaseClientAPI::splitList(text, items);
    size_t bytes = 0;
    for (unsigned i = 0; i < items.size(); ++i) bytes += std::strlen(items[i]);
    check(bytes <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
        case 0: hosts(text); break;
        case 1: osTypes(text); break;
        case 2: groups(text); break;
        default: commaList(text); break;
    }
    return 0;
}
