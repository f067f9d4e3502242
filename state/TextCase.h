#pragma once
// Case rules of the system: "ignoring case" means ASCII letters and the letters of
// Windows-1252 (À-Þ against à-þ, Š/š, Œ/œ, Ž/ž, Ÿ/ÿ). Text is bytes; nothing is decoded.

#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// Lower-case of one Windows-1252 byte.
char foldCase(char c);

std::string toLower(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool endsWithIgnoreCase(std::string_view text, std::string_view suffix);
// Position of the first occurrence of needle in text ignoring case, or npos.
std::size_t findIgnoreCase(std::string_view text, std::string_view needle, std::size_t from = 0);
// Three-way comparison ignoring case (byte order of the folded text).
int compareIgnoreCase(std::string_view a, std::string_view b);

// The UTF-16 code unit of one Windows-1252 byte; the five bytes that Windows-1252 leaves
// undefined give the C1 control of the same value, as Windows converts them.
char16_t utf16FromWindows1252(char c);
// The Windows-1252 byte of one UTF-16 code unit, or nullopt when it has none.
std::optional<char> windows1252FromUtf16Unit(char16_t unit);

} // namespace pelotest
