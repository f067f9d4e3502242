#pragma once
// Escapes of the values stored in the settings file.
//
// The profile-file format cannot hold a line break, drops blanks around a value and one pair of
// quotes enclosing it, and gives ';' and '#' a meaning in the log and tree values. Bytes that
// would be changed are written as ESC (0x1B) followed by two upper-case hex digits. Files
// written before this escape existed never contain ESC (it cannot be typed and no request value
// in practice carries it), so they read exactly as before; values that need no escape are
// written exactly as before too. A value that begins or ends with a blank, or that begins and
// ends with the same quote, is enclosed in one more pair of double quotes, which every profile
// reader removes again.

#include <string>
#include <string_view>

namespace pelotest {

inline constexpr char kEscape = '\x1B';

// Escapes ESC, CR, LF and every byte of `special`.
std::string escapeBytes(std::string_view text, std::string_view special = {});
// The reverse of escapeBytes; an ESC not followed by two hex digits stands for itself.
std::string unescapeBytes(std::string_view text);
// Encloses a value that a profile reader would trim or unquote in one more pair of quotes.
std::string protectValue(std::string value);
// A value as stored: escaped and protected.
std::string encodeValue(std::string_view value);
// A variable's name is a key: no '=', no leading ';' or '[', no blanks around it.
std::string encodeKey(std::string_view name);
// A tree node's text: its own '#' and leading blanks would read back as levels.
std::string encodeNodeText(std::string_view text);

} // namespace pelotest
