#pragma once
// Page files as lines, and their titles (for the log and the built-in pages).

#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// A page file for titles and the log: extension .htm, .html, .js or .css, ignoring case.
bool isPageFile(std::string_view filePath);
// PageTitle of a file (.htm/.html/.js/.css only, ignoring case); "" otherwise or when absent.
// Throws std::runtime_error when the file exists but cannot be read.
std::string pageTitle(const std::string& filePath);

// A file as lines split at CR LF, CR or LF; a NUL ends the text. Throws when it is missing, not a
// regular file (a FIFO is refused without waiting for a writer) or unreadable.
std::vector<std::string> readLines(const std::string& filePath);
std::vector<std::string> splitLines(std::string_view text);
// The title of a page's text: the first line (split as splitLines does) holding "<title>", up to
// "</title>" on the same line (none there: no title), the German entities decoded; pageTitle
// applies it to a file of a page extension.
std::string titleOfText(std::string_view text);
// Every line followed by CR LF.
std::string joinLinesCrLf(const std::vector<std::string>& lines);
// The text as lines (split at CR LF, CR or LF, NUL bytes kept), every line followed by CR LF.
std::string withCrLfLineEnds(std::string_view text);

} // namespace pelotest
