#include "state/TextCase.h"

#include "platform/TextCodecs.h" // defines the code page functions declared here

#include <algorithm>
#include <array>

namespace pelotest {

char foldCase(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z')
        return static_cast<char>(u + 32);
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7)
        return static_cast<char>(u + 32);
    switch (u) {
    case 0x8A:
        return static_cast<char>(0x9A); // Š
    case 0x8C:
        return static_cast<char>(0x9C); // Œ
    case 0x8E:
        return static_cast<char>(0x9E); // Ž
    case 0x9F:
        return static_cast<char>(0xFF); // Ÿ
    default:
        return c;
    }
}

std::string toLower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), foldCase);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    // Most letters compared are equal as they stand; only the others need folding.
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return x == y || foldCase(x) == foldCase(y);
           });
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t findIgnoreCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty())
        return from <= text.size() ? from : std::string_view::npos;
    if (text.size() < needle.size())
        return std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i)
        if (equalsIgnoreCase(text.substr(i, needle.size()), needle))
            return i;
    return std::string_view::npos;
}

int compareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(foldCase(a[i]));
        const auto y = static_cast<unsigned char>(foldCase(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos)
            break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::string_view fileNamePart(std::string_view path) {
    // A plain scan from the end: find_last_of with a set calls memchr once per byte, and this
    // runs several times for every file answer.
    std::size_t start = path.size();
    while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\')
        --start;
    return path.substr(start);
}

std::string_view trimBlanks(std::string_view text) {
    return trimIf(text, [](char c) { return c == ' ' || c == '\t'; });
}

LineEnd findLineEnd(std::string_view text, std::size_t from) {
    // A plain scan: find_first_of with a set calls memchr once per byte of the text.
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\n')
            return {i, 1};
        if (text[i] == '\r')
            return {i, i + 1 < text.size() && text[i + 1] == '\n' ? 2u : 1u};
    }
    return {text.size(), 0};
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendHexByte(std::string& out, unsigned char byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

} // namespace pelotest
