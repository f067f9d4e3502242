#include "server/HttpTypes.h"

#include "state/HexDigits.h"
#include "state/TextCase.h"

namespace pelotest {

std::optional<std::string_view> HttpRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoreCase(key, name))
            return value;
    return std::nullopt;
}

void HttpResponse::setHeader(std::string name, std::string value) {
    for (auto& [key, old] : headers) {
        if (equalsIgnoreCase(key, name)) {
            old = std::move(value);
            return;
        }
    }
    headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::clear() {
    status = kDefaultStatus;
    contentType.assign(kDefaultContentType);
    body.clear();
    file.reset();
    stream.reset();
    headers.clear();
}

namespace {

bool isFormContentType(std::string_view contentType) {
    // "application/x-www-form-urlencoded", possibly followed by parameters ("; charset=...").
    constexpr std::string_view form = "application/x-www-form-urlencoded";
    if (!startsWithIgnoreCase(contentType, form))
        return false;
    const std::string_view rest = contentType.substr(form.size());
    return rest.empty() || rest.front() == ';' || rest.front() == ' ' || rest.front() == '\t';
}

} // namespace

std::string percentDecode(std::string_view text, bool plusIsBlank) {
    std::string out;
    percentDecodeInto(out, text, plusIsBlank);
    return out;
}

void percentDecodeInto(std::string& out, std::string_view text, bool plusIsBlank) {
    out.clear();
    out.reserve(text.size());
    std::size_t run = 0; // where the bytes that are copied as they are begin
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%' && (c != '+' || !plusIsBlank))
            continue;
        out.append(text.substr(run, i - run));
        run = i + 1;
        if (c == '+') {
            out += ' ';
        } else if (i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
            run = i + 1;
        } else {
            out += c;
        }
    }
    out.append(text.substr(run));
}

bool appendDecodedParams(std::string_view query, std::vector<std::string>& params,
                         std::size_t most) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view entry = query.substr(0, amp);
        if (!entry.empty()) {
            params.push_back(percentDecode(entry, true));
            if (params.size() > most)
                return false;
        }
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return true;
}

std::pair<std::string_view, std::string_view> parameterParts(std::string_view entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return {std::string_view{}, entry};
    return {entry.substr(0, equals), entry.substr(equals + 1)};
}

namespace {
std::optional<std::string> findParam(const HttpRequest& request, std::string_view key,
                                     bool wantFirst) {
    std::optional<std::string> found;
    for (const std::string& entry : request.params) {
        const auto [name, value] = parameterParts(entry);
        if (name != key)
            continue;
        found = std::string(value);
        if (wantFirst)
            break;
    }
    return found;
}
} // namespace

std::optional<std::string> firstParam(const HttpRequest& request, std::string_view key) {
    return findParam(request, key, true);
}

std::optional<std::string> lastParam(const HttpRequest& request, std::string_view key) {
    return findParam(request, key, false);
}

std::optional<HttpRequest>
makeHttpRequest(std::string method, std::string_view target, std::string_view body,
                std::vector<std::pair<std::string, std::string>> headers) {
    HttpRequest request;
    request.headers = std::move(headers);
    if (!readHttpRequest(request, method, target, body))
        return std::nullopt;
    return request;
}

bool readHttpRequest(HttpRequest& request, std::string_view method, std::string_view target,
                     std::string_view body, std::size_t maxParameters) {
    // Absolute form: drop scheme and authority, keep the path (a bare authority means "/").
    std::string rooted; // "/" and the query, for an authority followed directly by '?'
    for (std::string_view scheme : {"http://", "https://"}) {
        if (startsWithIgnoreCase(target, scheme)) {
            target.remove_prefix(scheme.size());
            const std::size_t pathStart = target.find_first_of("/?");
            if (pathStart == std::string_view::npos) {
                target = "/";
            } else if (target[pathStart] == '?') {
                rooted = "/" + std::string(target.substr(pathStart));
                target = rooted;
            } else {
                target.remove_prefix(pathStart);
            }
            break;
        }
    }
    if (target.empty() || target.front() != '/')
        return false;

    // Every field is assigned, not built anew: a connection reads request after request into the
    // same object, whose strings keep their room.
    request.method.assign(method);
    const std::size_t question = target.find('?');
    percentDecodeInto(request.document, target.substr(0, question), false);
    if (request.document.find('\0') != std::string::npos)
        return false;
    if (question != std::string_view::npos)
        request.rawQuery.assign(target.substr(question + 1));
    else
        request.rawQuery.clear();
    request.referer.assign(request.header("Referer").value_or(""));

    request.params.clear();
    if (request.method == "POST" &&
        isFormContentType(request.header("Content-Type").value_or("")) &&
        !appendDecodedParams(body, request.params, maxParameters))
        return true;
    appendDecodedParams(request.rawQuery, request.params, maxParameters);
    return true;
}

} // namespace pelotest
