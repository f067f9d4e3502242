#pragma once
// The parts of a path as text, with either separator ('/', or '\' from Windows).

#include <string_view>

namespace pelotest {

// The file-name part of a path: the text after its last '/' or '\'.
std::string_view fileNamePart(std::string_view path);

} // namespace pelotest
