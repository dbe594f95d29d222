#include "vantrel/client/connection/VantrelTextConversion.h"

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "vantrel/CoMsg.h"

namespace {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

const char* currentLocale() {
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    return name != nullptr ? name : "";
}

bool isUTF8Locale(const char* name) {
    const char* dot = std::strchr(name, '.');
    return dot != nullptr && std::strcmp(dot + 1, "UTF-8") == 0;
}

void appendUTF8(std::string& out, uint32_t code) {
    if (code <= 0x7F) {
        out += static_cast<char>(code);
    } else if (code <= 0x7FF) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code <= 0xFFFF) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code <= MAX_CODE_POINT) {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        CO_MSG_WARNING("Unsupported character in string: 0x%x", code);
        out += '?';
    }
}

// The four bytes at `p` for a warning; bytes past `end` (the text's end) read as zero.
struct FourBytes {
    unsigned char b[4] = {0, 0, 0, 0};
    FourBytes(const char* p, const char* end) {
        for (int i = 0; i < 4 && p + i < end; ++i) b[i] = static_cast<unsigned char>(p[i]);
    }
};

// The length of the sequence a UTF-8 lead byte starts and its payload bits; 0 for a byte
// that cannot lead.
int sequenceLength(unsigned char lead, uint32_t& bits) {
    if (lead < 0x80) {
        bits = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        bits = lead & 0x1F;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        bits = lead & 0x0F;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        bits = lead & 0x07;
        return 4;
    }
    return 0;
}

}  // namespace

std::string VantrelLocaleToUTF8(const char* text) {
    if (text == nullptr) return std::string();
    const char* locale = currentLocale();
    if (isUTF8Locale(locale)) return text;

    std::string out;
    std::mbstate_t state{};
    const char* p = text;
    const char* const end = text + std::strlen(text);
    while (p < end) {
        wchar_t character = 0;
        const size_t used = std::mbrtowc(&character, p, static_cast<size_t>(end - p), &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            const FourBytes bytes(p, end);
            CO_MSG_WARNING("Invalid character for locale %s: %02x %02x %02x %02x", locale,
                           bytes.b[0], bytes.b[1], bytes.b[2], bytes.b[3]);
            out += '?';
            break;
        }
        if (used == 0) break;
        appendUTF8(out, static_cast<uint32_t>(character));
        p += used;
    }
    return out;
}

void VantrelUTF8ToLocale(std::string& text) {
    const char* locale = currentLocale();
    if (isUTF8Locale(locale)) return;

    // Zero padding: a sequence cut short by the end reads zeros instead of running past it.
    const std::string padded = text + std::string(4, '\0');
    const char* const end = padded.data() + padded.size();
    std::string out;
    std::mbstate_t state{};
    size_t i = 0;
    while (padded[i] != '\0') {
        uint32_t code = 0;
        const int length = sequenceLength(static_cast<unsigned char>(padded[i]), code);
        const FourBytes source(padded.data() + i, end);
        if (length == 0) {
            CO_MSG_WARNING("Invalid UTF8 character in string: %02x %02x %02x %02x",
                           source.b[0], source.b[1], source.b[2], source.b[3]);
            break;
        }
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(padded[i + k]) & 0x3F);
        i += static_cast<size_t>(length);

        char converted[MB_LEN_MAX];
        const size_t size = std::wcrtomb(converted, static_cast<wchar_t>(code), &state);
        if (size == static_cast<size_t>(-1)) {
            CO_MSG_WARNING("Cannot convert Unicode character 0x%x to locale %s", code, locale);
            CO_MSG_WARNING("Source UTF8: %02x %02x %02x %02x", source.b[0], source.b[1],
                           source.b[2], source.b[3]);
            out += '?';
            state = std::mbstate_t{};  // undefined after a failure
        } else {
            out.append(converted, size);
        }
    }
    text.swap(out);
}

void VantrelUTF8ToLocale(std::vector<std::string>& texts) {
    for (std::string& text : texts) VantrelUTF8ToLocale(text);
}

std::vector<std::string> VantrelLocaleToUTF8(const std::vector<std::string>& texts) {
    std::vector<std::string> converted;
    converted.reserve(texts.size());
    for (const std::string& text : texts) converted.push_back(VantrelLocaleToUTF8(text.c_str()));
    return converted;
}

std::string VantrelLocaleTextAsReadBack(const char* text) {
    std::string readBack = VantrelLocaleToUTF8(text);
    VantrelUTF8ToLocale(readBack);
    return readBack;
}
