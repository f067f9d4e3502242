#pragma once
// Case rules of the system: "ignoring case" means ASCII letters and the letters of
// Windows-1252 (À-Þ against à-þ, Š/š, Œ/œ, Ž/ž, Ÿ/ÿ). Text is bytes; nothing is decoded.

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

// text without leading and trailing blanks and tabs (the optional white space of HTTP headers).
std::string_view trimBlanks(std::string_view text);

// The value of a hexadecimal digit (either case), or -1 for any other byte.
int hexDigit(char c);
// Appends byte as two upper-case hexadecimal digits.
void appendHexByte(std::string& out, unsigned char byte);

} // namespace pelotest
