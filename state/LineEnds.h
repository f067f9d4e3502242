#pragma once
// Where a line ends: CR LF, CR alone or LF alone, as the files of the sites mix them.

#include <cstddef>
#include <string_view>

namespace pelotest {

// Where the line that starts at `from` ends: the position of its line end (CR LF, CR or LF) and
// the length of that end, or text.size() and 0 for a last line without one.
struct LineEnd {
    std::size_t at;
    std::size_t length;
};
LineEnd findLineEnd(std::string_view text, std::size_t from);

} // namespace pelotest
