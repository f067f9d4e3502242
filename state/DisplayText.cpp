#include "state/DisplayText.h"

#include "platform/TextCodecs.h"

#include <cstdint>
#include <optional>

namespace pelotest {
namespace {

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

std::string displayText(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes)
        appendUtf8(text, utf16FromWindows1252(c));
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
        if (const auto byte = windows1252FromCharacter(c))
            bytes += *byte;
        else
            bytes += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ';';
    });
    return bytes;
}

} // namespace pelotest
