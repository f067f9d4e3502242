#pragma once
// Test access to the real server: start it on 127.0.0.1 on a free port over a given state and
// host, and talk to it over a socket.

#include "state/AppState.h"
#include "state/Host.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelotest::test {

// The server (listener + request handler + the program's route table) over state and host,
// listening until destroyed.
class TestServer {
  public:
    TestServer(AppState& state, Host& host);
    ~TestServer();
    std::uint16_t port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct HttpResult {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::optional<std::string> header(std::string_view name) const; // ignoring case
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request on a fresh connection (Host: 127.0.0.1:port unless given).
HttpResult httpRequest(std::uint16_t port, std::string_view method, std::string_view target,
                       std::string_view body = {}, const HeaderList& headers = {});
inline HttpResult httpGet(std::uint16_t port, std::string_view target,
                          const HeaderList& headers = {}) {
    return httpRequest(port, "GET", target, {}, headers);
}
// Sends raw bytes and returns everything read until the server closes or timeoutMs passes (""
// when nobody listens on port).
std::string rawExchange(std::uint16_t port, std::string_view bytes, int timeoutMs = 2000);

} // namespace pelotest::test
