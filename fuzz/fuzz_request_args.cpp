// vantreld's reading of request arguments on arbitrary bytes: argument words (whole and with a
// word limit), node-id arguments, whole-word numbers, comma lists and counted lists. Each may
// only refuse with a ServerError; what it accepts must hold together, and the texts a client
// quotes must come out of the server's splitter exactly as the client had them: a name the
// client escapes (as "CreateNode" and "SetMetaData" send it) is one word between others, and a
// node id the client sends (quoted when it holds a space) reads back as that id.
//
// The whole input is the argument text. Seeds are arguments clients sent to vantreld.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "rcApi/rcParam.h"
#include "vantrel/VantrelIds.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/WireText.h"

using fuzzing::check;
using vantreld::ArgumentWords;

namespace {

template <typename Decode>
void refusedOrAccepted(Decode decode) {
    try {
        decode();
    } catch (const vantreld::ServerError&) {
    }
}

// An unterminated quote is refused; a text that splits whole also splits with a limit, into
// the same first words.
void splitWords(const std::string& text) {
    refusedOrAccepted([&] {
        const ArgumentWords firstTwo(text, 2);
        check(firstTwo.size() <= 2 && firstTwo.rest().size() <= text.size());
    });
    refusedOrAccepted([&] {
        const ArgumentWords all(text);
        size_t bytes = 0;
        for (size_t i = 0; i < all.size(); ++i) bytes += all[i].size();
        check(bytes <= text.size());
        const ArgumentWords firstTwo(text, 2);
        for (size_t i = 0; i < firstTwo.size(); ++i) check(firstTwo[i] == all[i]);
        for (size_t i = 0; i < all.size(); ++i) {
            refusedOrAccepted([&] { vantreld::parseInt(all[i]); });
            refusedOrAccepted([&] { vantreld::parseDouble(all[i]); });
        }
    });
}

void readLists(const std::string& text) {
    const std::vector<std::string> items = vantreld::splitComma(text);
    if (!text.empty()) check(vantreld::joinComma(items) == text);
    refusedOrAccepted([&] {
        const std::vector<std::string> decoded = vantreld::decodeCountedList(text);
        check(vantreld::decodeCountedList(vantreld::encodeCountedList(decoded)) == decoded);
    });
}

// `name` is a text without NUL, as a client has it.
void readWhatClientsSend(const std::string& name) {
    const std::string quoted = Vantrel::rcParamStringToEscapedString(name.c_str()).getEscapedString();
    const ArgumentWords words("7 " + quoted + " 0");
    check(words.size() == 3 && words[1] == name);

    // Servers make node ids; none starts with a double quote.
    if (name.empty() || name[0] == '"') return;
    const std::string sent = VantrelNodeWire::nodeIdText(VantrelNodeId(name.c_str()));
    std::string read;
    refusedOrAccepted([&] { read = vantreld::decodeNodeIdArgument(sent); });
    check(read == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzzing::discardMessages();
    (void)quiet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    splitWords(text);
    readLists(text);
    refusedOrAccepted([&] { vantreld::decodeNodeIdArgument(text); });
    readWhatClientsSend(text.substr(0, text.find('\0')));
    return 0;
}
