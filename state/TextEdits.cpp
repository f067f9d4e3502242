#include "state/TextEdits.h"

namespace pelotest {

std::string_view trimBlanks(std::string_view text) {
    return trimIf(text, [](char c) { return c == ' ' || c == '\t'; });
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

} // namespace pelotest
