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
#include <vector>

// `text` (null counts as "") in the current locale's encoding, as UTF-8.
std::string VantrelLocaleToUTF8(const char* text);
// Converts `text` in place from UTF-8 to the current locale's encoding.
void VantrelUTF8ToLocale(std::string& text);
// Converts each text of `texts` in place from UTF-8 to the current locale's encoding.
void VantrelUTF8ToLocale(std::vector<std::string>& texts);
// Each text of `texts` as UTF-8.
std::vector<std::string> VantrelLocaleToUTF8(const std::vector<std::string>& texts);
// `text` as a server that was sent it reads it back in the current locale: the two
// conversions in turn (the identity for texts the locale and UTF-8 both hold).
std::string VantrelLocaleTextAsReadBack(const char* text);
