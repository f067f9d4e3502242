#pragma once
// The server without a window: load the state, serve until a stop request (Ctrl+C, SIGINT,
// SIGTERM; on Windows also closing the console, logoff and shutdown), save the state.

#include "app/CommandLine.h"

#include <string>

namespace pelotest {

int runHeadless(const Options& options);

// The URL shown for the bound address: IPv6 literals stand in brackets.
std::string listeningUrl(const std::string& address, int port);

} // namespace pelotest
