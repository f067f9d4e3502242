#pragma once
// Starting the window: in the window program itself, or from pelotest, which hands over to the
// window program beside it (or in an installed tree's program folder).

#include "app/CommandLine.h"

namespace pelotest {

int runWindow(const Options& options, int& argc, char** argv);

} // namespace pelotest
