// The configuration file readers on arbitrary bytes: the base layer's sectioned
// "key = value" reader (network configuration, vantreld's --config) and vantreld's settings
// built on it. Malformed lines may only be skipped with a warning: at most one per line
// (lines end at LF, CR or CR LF, and longer ones than the reader's limit are cut into
// several), no crash, memory in proportion to the text. The settings read must then serve
// path translations with their rules, whatever those rules hold.
//
// The whole input is the file. Seeds are the configuration examples of the README and of
// vantreld's tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "osal/CoConfigFile.h"
#include "vantrel/server/ServerSettings.h"

using fuzzing::check;
using Vantrel::CoConfigFileReader;

namespace {

size_t mostLines(const std::string& text) {
    const size_t breaks = static_cast<size_t>(std::count(text.begin(), text.end(), '\n') +
                                              std::count(text.begin(), text.end(), '\r'));
    return breaks + 1 + text.size() / CoConfigFileReader::MAX_LINE;
}

void readBaseLayer(const std::string& text) {
    CoConfigFileReader reader;
    std::istringstream input(text);
    reader.read(input, "fuzz.cfg");
    check(reader.warnings().size() <= mostLines(text));

    std::string value;
    unsigned int number = 0;
    std::vector<std::string> list;
    reader.get("Server", "DisplayName", value, "default");
    reader.get("Server", "ReadAheads", number, 2);
    if (!reader.getList("TranslationGroup 0", "Hosts", list)) check(list.empty());
    for (const std::string& item : list) check(item.size() <= text.size());
}

void readServerSettings(const std::string& text) {
    vantreld::ServerSettings settings;
    try {
        settings.readText(text);
    } catch (const std::exception&) {
        return;  // refused as a whole is fine too
    }
    const size_t sections = static_cast<size_t>(std::count(text.begin(), text.end(), '['));
    check(settings.hostTranslations.size() <= sections);
    check(settings.osTypeTranslations.size() <= sections);
    check(settings.translationGroups.size() <= sections);
    for (const char* path : {"/mnt/media/shot/0001.dpx", "M:\\media\\a", "", "/"})
        for (int type = 0; type <= 4; ++type)
            settings.translatePath(path, "alpha", type, "beta", 4 - type);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzzing::discardMessages();
    (void)quiet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    readBaseLayer(text);
    readServerSettings(text);
    return 0;
}
