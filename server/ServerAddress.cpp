#include "server/ServerAddress.h"

namespace pelotest {
namespace {

std::string addressFor(const std::string& host, int port) {
    // IPv6 literals stand in brackets in an address.
    const bool literal6 = host.find(':') != std::string::npos;
    return "http://" + (literal6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

} // namespace

std::string listeningAddress(const std::string& bindAddress, int port) {
    return addressFor(bindAddress, port);
}

std::string browserAddress(const std::string& bindAddress, int port) {
    if (bindAddress == "127.0.0.1" || bindAddress == "0.0.0.0" || bindAddress == "::" ||
        bindAddress == "::1")
        return addressFor("localhost", port);
    return addressFor(bindAddress, port);
}

} // namespace pelotest
