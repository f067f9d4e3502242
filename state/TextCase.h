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

// Replaces every occurrence of from by to (case-sensitive); from must not be empty.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// The file-name part of a path: the text after its last '/' or '\'.
std::string_view fileNamePart(std::string_view path);

// text without the leading and trailing bytes for which drop(c) is true: the one trimming rule,
// each caller naming the bytes it drops.
template <typename Drop>
std::string_view trimIf(std::string_view text, Drop drop) {
    while (!text.empty() && drop(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && drop(text.back()))
        text.remove_suffix(1);
    return text;
}
// text without leading and trailing blanks and tabs (the optional white space of HTTP headers).
std::string_view trimBlanks(std::string_view text);

// Where the line that starts at `from` ends: the position of its line end (CR LF, CR or LF) and
// the length of that end, or text.size() and 0 for a last line without one.
struct LineEnd {
    std::size_t at;
    std::size_t length;
};
LineEnd findLineEnd(std::string_view text, std::size_t from);

// The UTF-16 code unit of one Windows-1252 byte; the five bytes that Windows-1252 leaves
// undefined give the C1 control of the same value, as Windows converts them.
char16_t utf16FromWindows1252(char c);
// The Windows-1252 byte of one UTF-16 code unit, or nullopt when it has none.
std::optional<char> windows1252FromUtf16Unit(char16_t unit);

// The value of a hexadecimal digit (either case), or -1 for any other byte.
int hexDigit(char c);
// Appends byte as two upper-case hexadecimal digits.
void appendHexByte(std::string& out, unsigned char byte);

} // namespace pelotest
