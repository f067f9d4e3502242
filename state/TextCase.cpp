#include "state/TextCase.h"

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

namespace {
// The characters of the bytes 0x80 to 0x9F.
constexpr std::array<char16_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

char16_t utf16FromWindows1252(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x80 && b <= 0x9F ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
}

std::optional<char> windows1252FromUtf16Unit(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    const auto high = std::find(kHigh1252.begin(), kHigh1252.end(), unit);
    if (high == kHigh1252.end())
        return std::nullopt;
    return static_cast<char>(0x80 + (high - kHigh1252.begin()));
}

} // namespace pelotest
