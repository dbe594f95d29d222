// Conversions between the process's character-type locale (LC_CTYPE, as set with setlocale)
// and UTF-8, for the display names that travel to and from servers in UTF-8.
//
// In a locale whose name ends in ".UTF-8" both are the identity. Otherwise characters are
// converted one by one; they never fail: what cannot be converted becomes "?" and a warning is
// posted (an invalid sequence also drops the rest of the text).
//
// Threads: safe from any thread; they read the process's locale, which must not change
// meanwhile.
#pragma once

#include <string>

// `text` (null counts as "") in the current locale's encoding, as UTF-8.
std::string VantrelLocaleToUTF8(const char* text);
// Converts `text` in place from UTF-8 to the current locale's encoding.
void VantrelUTF8ToLocale(std::string& text);
