#pragma once
// Edits of a text that keep its bytes as they are: trimming and replacing.

#include <string>
#include <string_view>

namespace pelotest {

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

// Replaces every occurrence of from by to (case-sensitive); from must not be empty.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

} // namespace pelotest
