#pragma once
// The request as the handler sees it and the response it fills in. The listener builds the
// request from the wire and sends the response; the handler never touches the connection.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

    std::optional<std::string_view> header(std::string_view name) const;
};

// A file sent after the handler returns (streamed, never read whole).
struct FileBody {
    std::string path;
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // bytes to send from offset
    // The whole file as the handler has already read it (a small file); sent from here instead.
    std::shared_ptr<const std::string> bytes{};
};

// The writing end of an endless answer (HttpResponse::stream), held by whoever has something to
// send on it; every call may come from any thread and returns at once.
class EventSink {
  public:
    virtual ~EventSink() = default;
    // Queues text to be written after what was queued before.
    virtual void send(std::string text) = 0;
    // Ends the answer once what was queued has been written.
    virtual void close() = 0;
};

// What an endless answer is connected to. The listener writes the header (no length; the answer
// ends when the connection closes), then calls opened with the sink that writes to it, and once,
// when the connection has ended for whatever reason, closed with the same sink.
struct EventStream {
    std::function<void(std::shared_ptr<EventSink>)> opened;
    std::function<void(const EventSink*)> closed;
};

struct HttpResponse {
    // What a response starts as (clear() returns to it).
    static constexpr int kDefaultStatus = 200;
    static constexpr std::string_view kDefaultContentType = "text/html";

    int status = kDefaultStatus;
    std::string contentType{kDefaultContentType};
    std::string body;
    std::optional<FileBody> file;              // when set, body is ignored
    std::shared_ptr<const EventStream> stream; // when set, body and file are ignored
    // Extra headers (Cache-Control, ETag, Location, ...).
    std::vector<std::pair<std::string, std::string>> headers;

    void setHeader(std::string name, std::string value);
    // As newly made, keeping the room of its strings and lists.
    void clear();
};

// The request model as the listener builds it from the wire.

// Decodes %XX escapes (an escape that is not two hex digits stays as it is); with plusIsBlank,
// '+' becomes a blank first.
std::string percentDecode(std::string_view text, bool plusIsBlank);
// The same, written into out (which keeps its room).
void percentDecodeInto(std::string& out, std::string_view text, bool plusIsBlank);

// Splits a query string (or a form-encoded body) at '&' and decodes each entry; empty entries
// are dropped. Stops as soon as params holds more than most entries (false then), so that a body
// of millions of tiny entries is not decoded in full only to be refused.
bool appendDecodedParams(std::string_view query, std::vector<std::string>& params,
                         std::size_t most = SIZE_MAX);

// The name and value of one "name=value" entry of HttpRequest::params, split at the first '='.
// An entry without '=' has an empty name (the whole entry is its value).
std::pair<std::string_view, std::string_view> parameterParts(std::string_view entry);
// The value of the first or the last parameter named exactly key; nullopt when there is none.
std::optional<std::string> firstParam(const HttpRequest& request, std::string_view key);
std::optional<std::string> lastParam(const HttpRequest& request, std::string_view key);

// The request from its method, request target, body and header fields. The target may be in
// origin form ("/a.htm?x=1") or absolute form ("http://host/a.htm?x=1"). A form-encoded body
// gives parameters ahead of the query's. nullopt for a target that names no document (another
// form, or a decoded path holding a NUL byte).
std::optional<HttpRequest>
makeHttpRequest(std::string method, std::string_view target, std::string_view body,
                std::vector<std::pair<std::string, std::string>> headers);
// The same into request, whose header fields are set already; false for a target that names no
// document. Every other field is overwritten. Splitting stops at the first parameter past
// maxParameters: request.params then holds maxParameters + 1 of them, and the request is to be
// refused.
bool readHttpRequest(HttpRequest& request, std::string_view method, std::string_view target,
                     std::string_view body, std::size_t maxParameters = SIZE_MAX);

} // namespace pelotest
