#pragma once
// Where the server can be reached, as the window's status line, the notification tip, the
// headless "Listening on" line and the browser opened at start all say it.

#include <string>

namespace pelotest {

// The address the server listens on, as bound: "http://127.0.0.1:8080/", "http://[::1]:8080/".
std::string listeningAddress(const std::string& bindAddress, int port);

// The address a browser on this machine opens: the loopback and the any-addresses by the name
// "localhost" (the browser then finds the server whichever of them it listens on, and its pages
// keep one origin from start to start), any other address as bound.
std::string browserAddress(const std::string& bindAddress, int port);

} // namespace pelotest
