// The head of a response, composed directly or by Beast's serializer (see ResponseHead.h).

#include "server/ResponseHead.h"

#include "state/TextEdits.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/write.hpp>

#include <array>
#include <charconv>
#include <cstring>
#include <sstream>
#include <string_view>

namespace pelotest {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Header values come partly from request data; a line break in one must not start a new field.
std::string headerSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return out;
}

// No CR, LF or NUL: strcspn stops at the first CR or LF and at the first NUL, whichever comes
// first, and is much faster than a loop over the bytes.
bool headerClean(const std::string& text) {
    return std::strcspn(text.c_str(), "\r\n") == text.size();
}

// beast::iequals, with the two tests that settle almost every comparison of field names made
// inline: the lengths and the first letters.
inline bool sameFieldName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && !a.empty() && (a[0] | 0x20) == (b[0] | 0x20) &&
           beast::iequals(a, b);
}

} // namespace

bool composeResponseHeadDirectly(const HttpResponse& response, unsigned version, bool keepAlive,
                                 std::optional<std::uint64_t> contentLength, std::string& head) {
    const int status = response.status;
    if (status < 100 || status > 999 || !headerClean(response.contentType))
        return false;
    std::array<std::pair<std::string_view, std::string_view>, 24> fields;
    std::size_t count = 0;
    // The names in fields stay unique, so a name set again is found at most once.
    const auto set = [&](std::string_view name, std::string_view value) {
        for (std::size_t i = 0; i < count; ++i) {
            if (sameFieldName(fields[i].first, name)) {
                std::move(fields.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                          fields.begin() + static_cast<std::ptrdiff_t>(count),
                          fields.begin() + static_cast<std::ptrdiff_t>(i));
                --count;
                break;
            }
        }
        fields[count++] = {name, trimBlanks(value)};
    };
    if (!response.contentType.empty())
        set("Content-Type", response.contentType);
    bool hasCacheControl = false;
    for (const auto& [name, value] : response.headers) {
        if (count + 4 > fields.size() || !headerClean(name) || !headerClean(value) ||
            sameFieldName(name, "Connection") || sameFieldName(name, "Content-Length") ||
            sameFieldName(name, "Transfer-Encoding"))
            return false;
        if (sameFieldName(name, "Cache-Control"))
            hasCacheControl = true;
        set(name, value);
    }
    if (!hasCacheControl && !response.file)
        set("Cache-Control", "no-store");
    if (version < 11 && keepAlive)
        set("Connection", "keep-alive");
    else if (version >= 11 && !keepAlive)
        set("Connection", "close");
    char length[24] = {};
    if (contentLength) {
        const auto end = std::to_chars(length, length + sizeof length, *contentLength).ptr;
        set("Content-Length", std::string_view(length, static_cast<std::size_t>(end - length)));
    }

    const std::string_view reason = http::obsolete_reason(static_cast<http::status>(status));
    std::size_t size = 13 + reason.size() + 4;
    for (std::size_t i = 0; i < count; ++i)
        size += fields[i].first.size() + fields[i].second.size() + 4;
    // Written in place into the connection's buffer, which keeps its room from one answer to the
    // next.
    head.resize(size);
    char* out = head.data();
    const auto put = [&out](std::string_view text) {
        std::memcpy(out, text.data(), text.size());
        out += text.size();
    };
    const char start[] = {'H',
                          'T',
                          'T',
                          'P',
                          '/',
                          static_cast<char>('0' + version / 10),
                          '.',
                          static_cast<char>('0' + version % 10),
                          ' ',
                          static_cast<char>('0' + status / 100),
                          static_cast<char>('0' + (status / 10) % 10),
                          static_cast<char>('0' + status % 10),
                          ' '};
    using namespace std::string_view_literals;
    put(std::string_view(start, sizeof start));
    put(reason);
    put("\r\n"sv);
    for (std::size_t i = 0; i < count; ++i) {
        put(fields[i].first);
        put(": "sv);
        put(fields[i].second);
        put("\r\n"sv);
    }
    put("\r\n"sv);
    return true;
}

std::string serializeResponseHead(const HttpResponse& response, unsigned version, bool keepAlive,
                                  std::optional<std::uint64_t> contentLength) {
    http::response<http::empty_body> message{http::status::ok, version};
    message.result(static_cast<unsigned>(response.status));
    if (!response.contentType.empty())
        message.set(http::field::content_type, headerSafe(response.contentType));
    bool hasCacheControl = false;
    for (const auto& [name, value] : response.headers) {
        if (beast::iequals(name, "Cache-Control"))
            hasCacheControl = true;
        message.set(headerSafe(name), headerSafe(value));
    }
    // Generated pages change with every request; files carry their own caching headers.
    if (!hasCacheControl && !response.file)
        message.set(http::field::cache_control, "no-store");
    message.keep_alive(keepAlive);
    if (contentLength)
        message.content_length(*contentLength);
    std::ostringstream text;
    text << message.base();
    return std::move(text).str();
}

void composeResponseHead(const HttpResponse& response, unsigned version, bool keepAlive,
                         std::optional<std::uint64_t> contentLength, std::string& head) {
    if (!composeResponseHeadDirectly(response, version, keepAlive, contentLength, head))
        head = serializeResponseHead(response, version, keepAlive, contentLength);
}

} // namespace pelotest
