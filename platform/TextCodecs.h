#pragma once
// The program's two text encodings, each in one place: Windows-1252 (the bytes of the built-in
// texts, of language libraries' strings and of the sites this program has always served) and
// UTF-8 (terminals, the window, UTF-8 sites). Windows takes file names as UTF-16; the conversions
// for that are here too, so that every path reaches the system the same way.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace pelotest {

// The UTF-16 code unit of one Windows-1252 byte; the five bytes that Windows-1252 leaves
// undefined give the C1 control of the same value, as Windows converts them, so that every byte
// reads back as itself.
char16_t utf16FromWindows1252(char c);
// The Windows-1252 byte of one UTF-16 code unit (a C1 control included), or nullopt when it has
// none.
std::optional<char> windows1252FromUtf16Unit(char16_t unit);
// The same for any character (one past U+FFFF has no byte).
std::optional<char> windows1252FromCharacter(char32_t character);

// Appends the UTF-8 form of character (at most U+10FFFF, no surrogate: callers pass what a
// decoder gave them or a Windows-1252 character).
void appendUtf8(std::string& out, char32_t character);

// The character starting at bytes[at] and its length in bytes; nullopt when the bytes there are
// no well-formed UTF-8 (overlong forms, encoded surrogates, values past U+10FFFF and a sequence
// cut short included). at < bytes.size().
std::optional<std::pair<char32_t, std::size_t>> utf8CharacterAt(std::string_view bytes,
                                                                std::size_t at);
bool isValidUtf8(std::string_view bytes);

// File names for Windows: the site's bytes as UTF-16, read as UTF-8 when they are valid UTF-8
// and as Windows-1252 otherwise (the rule of the program's displayed text), and back as UTF-8.
std::u16string utf16FromSiteBytes(std::string_view bytes);
// UTF-16 from Windows to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

} // namespace pelotest
