#pragma once
// The translators' commands: --list-languages and --export-language. They run without a window
// and leave the settings file alone.

#include "app/CommandLine.h"

namespace pelotest {

// One line per offered library (file name, tab, display name), the built-in entry first.
int listLanguages(const Options& options);
// The five export files into options.exportFolder; 1 with a message on error.
int exportLanguage(const Options& options);

} // namespace pelotest
