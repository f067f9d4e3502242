#include "state/PathText.h"

namespace pelotest {

std::string_view fileNamePart(std::string_view path) {
    // A plain scan from the end: find_last_of with a set calls memchr once per byte, and this
    // runs several times for every file answer.
    std::size_t start = path.size();
    while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\')
        --start;
    return path.substr(start);
}

} // namespace pelotest
