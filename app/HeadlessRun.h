#pragma once
// The server without a window: load the state, serve until a stop request (Ctrl+C, SIGINT,
// SIGTERM; on Windows also closing the console, logoff and shutdown), save the state.

#include "app/CommandLine.h"

namespace pelotest {

int runHeadless(const Options& options);

} // namespace pelotest
