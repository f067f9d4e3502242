#pragma once
// The page the web dialog shows when the maker's page cannot be reached, so that neither mode is
// a dead end offline: in language mode the languages offered and the export link, in help mode
// what the window holds where. Built from the program's own texts in language.

#include "state/AppState.h"

#include <QString>

#include <string>

namespace pelotest::desktop {

// host: the maker's pages; the export link points there like the one of the maker's page. port:
// the server's, for the help page's address of the control page.
QString fallbackPage(const AppState& state, const std::string& language, int port, bool help,
                     const QString& host);

} // namespace pelotest::desktop
