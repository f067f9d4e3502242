#pragma once
// The request as the handler sees it and the response it fills in. The listener builds the
// request from the wire and sends the response; the handler never touches the connection.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelotest {

struct HttpRequest {
    std::string method;   // "GET", "POST", "HEAD"
    std::string document; // decoded path without query, e.g. "/index.htm"
    // Decoded "name=value" entries in URL order ('+' is a blank, escapes decoded); for a
    // form-encoded POST the body's entries come first.
    std::vector<std::string> params;
    std::string rawQuery; // undecoded, without '?'
    std::string referer;
    // Every header as received (names as sent); header() looks one up ignoring case.
    std::vector<std::pair<std::string, std::string>> headers;

    std::optional<std::string> header(std::string_view name) const;
};

// A file sent after the handler returns (streamed, never read whole).
struct FileBody {
    std::filesystem::path path;
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // bytes to send from offset
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    std::optional<FileBody> file; // when set, body is ignored
    // Extra headers (Cache-Control, ETag, Location, ...).
    std::vector<std::pair<std::string, std::string>> headers;

    void setHeader(std::string name, std::string value);
};

} // namespace pelotest
