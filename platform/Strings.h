#pragma once
// 8-bit text as the system keeps it. Its conversion to the user interface's text is in
// DisplayText.h.
#include <string>
#include <string_view>

namespace plm {

bool IsValidUtf8(std::string_view s);
// Appends one code point (up to U+10FFFF) in UTF-8.
void AppendUtf8(std::string &out, char32_t cp);
// Windows-1252 bytes to UTF-8 (the five unassigned codes map to U+FFFD).
std::string Cp1252ToUtf8(std::string_view s);
// Bytes that are valid UTF-8 are taken as UTF-8, anything else as Windows-1252; the
// result is UTF-8, for text written to a terminal.
std::string ToDisplayUtf8(std::string_view s);

// ASCII letter case, as the INI and file-name comparisons need it.
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);

// The value of a hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char c);

// Blanks and control characters (code 32 or below) removed at either end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

} // namespace plm
