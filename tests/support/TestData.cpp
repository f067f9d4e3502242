#include "support/TestData.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace pelotest::test {

namespace {

bool isMarkerName(std::string_view name) {
    if (name.empty())
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

} // namespace

std::string loadTestData(std::string_view name, const Fills& fills) {
    const std::string path = std::string(PELOTEST_TEST_DATA) + "/" + std::string(name);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read test data " + path);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();

    std::string out;
    std::set<std::string_view> used;
    std::size_t from = 0;
    while (true) {
        const std::size_t open = text.find("{{", from);
        const std::size_t close = open == std::string::npos ? open : text.find("}}", open + 2);
        const std::string_view marker =
            close == std::string::npos ? std::string_view()
                                       : std::string_view(text).substr(open + 2, close - open - 2);
        if (close == std::string::npos) {
            out.append(text, from);
            break;
        }
        if (!isMarkerName(marker)) {
            out.append(text, from, open + 2 - from);
            from = open + 2;
            continue;
        }
        out.append(text, from, open - from);
        from = close + 2;
        if ("{{" + std::string(marker) + "}}" == kTimeMarker) {
            out += kTimeMarker;
            continue;
        }
        const auto fill = fills.find(marker);
        if (fill == fills.end())
            throw std::runtime_error(path + ": no value for {{" + std::string(marker) + "}}");
        out += fill->second;
        used.insert(fill->first);
    }
    for (const auto& [key, value] : fills)
        if (!used.contains(key))
            throw std::runtime_error(path + ": no marker {{" + key + "}}");
    return out;
}

} // namespace pelotest::test
