#pragma once
// The control page under "/$int": buttons for the log and variables pop-ups, the choice of a
// start page, and the two folder browsers.

#include <string>
#include <vector>

namespace pelotest {

// The start-page choices: the regular files (links followed, hidden ones included) directly
// inside the static folder as typed ('\' read as '/', one trailing separator ignored), ordered by
// name ignoring case. An empty or unreadable folder gives none.
std::vector<std::string> startPageChoices(const std::string& staticPath);

} // namespace pelotest
