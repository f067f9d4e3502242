#include "support/HttpTestClient.h"

#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "state/TextCase.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <stdexcept>

namespace pelotest::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

struct TestServer::Impl {
    Impl(AppState& state, Host& host)
        : server(std::make_shared<RequestHandler>(state, host, routeRequest)) {
        server.start("127.0.0.1", 0);
    }
    HttpServer server;
};

TestServer::TestServer(AppState& state, Host& host) : impl_(std::make_unique<Impl>(state, host)) {}

TestServer::~TestServer() = default;

std::uint16_t TestServer::port() const {
    return impl_->server.port();
}

std::optional<std::string> HttpResult::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoreCase(key, name))
            return value;
    return std::nullopt;
}

namespace {

constexpr auto kClientTimeout = std::chrono::seconds(20);

// Runs one asynchronous operation on context to its end; throws on error.
template <typename Start>
void runOrThrow(net::io_context& context, const char* what, Start&& start) {
    beast::error_code result = net::error::operation_aborted;
    start([&result](beast::error_code ec, auto&&...) { result = ec; });
    context.restart();
    context.run();
    if (result)
        throw std::runtime_error(std::string("test client: ") + what + ": " + result.message());
}

} // namespace

HttpResult httpRequest(std::uint16_t port, std::string_view method, std::string_view target,
                       std::string_view body, const HeaderList& headers) {
    net::io_context context;
    beast::tcp_stream stream(context);
    stream.expires_after(kClientTimeout);
    const tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), port);
    runOrThrow(context, "connect",
               [&](auto done) { stream.async_connect(endpoint, [done](auto ec) { done(ec); }); });

    http::request<http::string_body> request;
    request.method_string(method);
    request.target(target);
    request.version(11);
    bool hasHost = false, hasContentType = false;
    for (const auto& [name, value] : headers) {
        hasHost |= equalsIgnoreCase(name, "Host");
        hasContentType |= equalsIgnoreCase(name, "Content-Type");
        request.insert(name, value);
    }
    if (!hasHost)
        request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    if (!body.empty() && !hasContentType)
        request.set(http::field::content_type, "application/x-www-form-urlencoded");
    request.body() = std::string(body);
    if (!body.empty() || method == "POST")
        request.prepare_payload();
    runOrThrow(context, "write", [&](auto done) { http::async_write(stream, request, done); });

    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(1024ull * 1024 * 1024);
    parser.skip(method == "HEAD");
    runOrThrow(context, "read", [&](auto done) { http::async_read(stream, buffer, parser, done); });

    HttpResult result;
    const auto& response = parser.get();
    result.status = static_cast<int>(response.result_int());
    for (const auto& field : response)
        result.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    result.body = response.body();
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    return result;
}

std::string rawExchange(std::uint16_t port, std::string_view bytes, int timeoutMs) {
    net::io_context context;
    tcp::socket socket(context);
    beast::error_code refused;
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), refused);
    if (refused)
        return {};
    std::string received;
    std::array<char, 16 * 1024> chunk{};
    beast::error_code writeError;
    net::async_write(socket, net::buffer(bytes.data(), bytes.size()),
                     [&](beast::error_code ec, std::size_t) { writeError = ec; });
    std::function<void(beast::error_code, std::size_t)> onRead = [&](beast::error_code ec,
                                                                     std::size_t n) {
        received.append(chunk.data(), n);
        if (!ec)
            socket.async_read_some(net::buffer(chunk), onRead);
    };
    socket.async_read_some(net::buffer(chunk), onRead);
    context.run_for(std::chrono::milliseconds(timeoutMs));
    return received;
}

} // namespace pelotest::test
