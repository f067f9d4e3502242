#include "state/LineEnds.h"

namespace pelotest {

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

} // namespace pelotest
