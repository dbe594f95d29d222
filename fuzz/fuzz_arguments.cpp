// The argument splitter and the quoting on arbitrary bytes.
//
// The first byte picks a parameter list; the rest, up to its first NUL, is the argument text
// split for it. The same text is then quoted twice and split as two words of a longer
// argument text: unquoting each word must give the text back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "rcApi/rcParam.h"

using Vantrel::rcParam;
using Vantrel::rcParamBool;
using Vantrel::rcParamEscapedStringToString;
using Vantrel::rcParamFloat;
using Vantrel::rcParamInt;
using Vantrel::rcParamLong;
using Vantrel::rcParamString;
using Vantrel::rcParamStringToEscapedString;
using Vantrel::rcParamVoid;

using fuzzing::check;

namespace {

const rcParam::Info NONE[] = {{nullptr, nullptr}};
const rcParam::Info ONE[] = {{&rcParamString::TYPE, "s"}, {nullptr, nullptr}};
const rcParam::Info MIXED[] = {{&rcParamInt::TYPE, "i"},   {&rcParamString::TYPE, "s"},
                               {&rcParamLong::TYPE, "l"},  {&rcParamFloat::TYPE, "f"},
                               {&rcParamBool::TYPE, "b"},  {&rcParamVoid::TYPE, "v"},
                               {nullptr, nullptr}};
const rcParam::Info STRINGS[] = {{&rcParamString::TYPE, "a"},
                                 {&rcParamString::TYPE, "b"},
                                 {&rcParamString::TYPE, "c"},
                                 {nullptr, nullptr}};
const rcParam::Info* const LISTS[] = {NONE, ONE, MIXED, STRINGS};

std::string quote(const std::string& text) {
    return rcParamStringToEscapedString(text.c_str()).getEscapedString();
}

std::string unquote(const std::string& word) {
    return rcParamEscapedStringToString(word.c_str()).getString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const rcParam::Info* list = LISTS[data[0] % 4];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.substr(0, text.find('\0'));

    rcParam::Array params(list, text.c_str());
    for (int i = 0; i < params.size(); ++i) {
        params[i]->stringValue();
        unquote(params[i]->stringValue());
    }

    const std::string args = quote(text) + " " + quote(text + "\"") + " tail";
    rcParam::Array words(STRINGS, args.c_str());
    check(words.size() == 3);
    check(unquote(words[0]->stringValue()) == text);
    check(unquote(words[1]->stringValue()) == text + "\"");
    check(words[2]->stringValue() == "tail");
    return 0;
}
