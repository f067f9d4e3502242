#pragma once
// Whole pages, scripts and style sheets that the tests expect, kept as files under tests/data/
// byte for byte (tests/data/README.md lists the markers).

#include <map>
#include <string>
#include <string_view>

namespace pelotest::test {

using Fills = std::map<std::string, std::string, std::less<>>;

// The marker that pageMatches (tests/pages/PopupPagesTestSupport.h) compares with a time stamp;
// loadTestData leaves it in place.
inline constexpr std::string_view kTimeMarker = "{{TIME}}";

// Reads tests/data/<name> and replaces each marker "{{NAME}}" (capital letters, digits and '_')
// by fills.at(NAME), in one pass, so a filled value is never searched for markers again.
// {{TIME}} stays. A marker without a fill, a fill without a marker and a missing file throw
// std::runtime_error, so that a misspelt name cannot make a comparison pass.
std::string loadTestData(std::string_view name, const Fills& fills = {});

} // namespace pelotest::test
