#include "state/DisplayText.h"

#include <array>
#include <cstdint>
#include <optional>

namespace pelotest {
namespace {

// Windows-1252 at 0x80-0x9F; 0 marks the five bytes without a character (they pass as the C1
// control of the same number, so every byte reads back as itself).
constexpr std::array<char32_t, 32> kHighTable = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t windows1252Character(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0 && kHighTable[byte - 0x80] != 0)
        return kHighTable[byte - 0x80];
    return byte;
}

std::optional<char> windows1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHighTable.size(); ++i)
        if (kHighTable[i] == c || (kHighTable[i] == 0 && c == 0x80 + i))
            return static_cast<char>(0x80 + i);
    return std::nullopt;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The character starting at bytes[at] and its length; nullopt when the bytes there are not
// well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
std::optional<std::pair<char32_t, std::size_t>> utf8CharacterAt(std::string_view bytes,
                                                                std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80)
        return std::pair<char32_t, std::size_t>{lead, 1};
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (bytes.size() - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    return std::pair<char32_t, std::size_t>{c, length};
}

template <typename Visit>
void forEachUtf8Character(std::string_view utf8, Visit visit) {
    for (std::size_t at = 0; at < utf8.size();) {
        const auto character = utf8CharacterAt(utf8, at);
        if (!character) { // not UTF-8 after all: the byte stands for itself
            visit(static_cast<char32_t>(static_cast<unsigned char>(utf8[at])));
            ++at;
            continue;
        }
        visit(character->first);
        at += character->second;
    }
}

bool isAscii(std::string_view bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

SiteEncoding parseSiteEncoding(std::string_view value) {
    std::string lower;
    for (const char c : value)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "utf-8" || lower == "utf8" ? SiteEncoding::Utf8 : SiteEncoding::Windows1252;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto character = utf8CharacterAt(bytes, at);
        if (!character)
            return false;
        at += character->second;
    }
    return true;
}

std::string displayText(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes)
        appendUtf8(text, windows1252Character(static_cast<unsigned char>(c)));
    return text;
}

std::string windows1252PageText(std::string_view bytes) {
    if (isAscii(bytes) || !isValidUtf8(bytes))
        return std::string(bytes);
    std::string page;
    page.reserve(bytes.size() * 2);
    forEachUtf8Character(bytes, [&](char32_t c) {
        if (c < 0x80)
            page += static_cast<char>(c);
        else
            page += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ';';
    });
    return page;
}

std::string siteBytes(std::string_view utf8, SiteEncoding encoding) {
    if (encoding == SiteEncoding::Utf8 || isAscii(utf8))
        return std::string(utf8);
    std::string bytes;
    bytes.reserve(utf8.size());
    forEachUtf8Character(utf8, [&](char32_t c) {
        if (const auto byte = windows1252Byte(c))
            bytes += *byte;
        else
            bytes += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ';';
    });
    return bytes;
}

} // namespace pelotest
