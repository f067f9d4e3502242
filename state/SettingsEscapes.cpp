#include "state/SettingsEscapes.h"

#include "state/HexDigits.h"

namespace pelotest {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

void appendEscaped(std::string& out, char c) {
    out += kEscape;
    appendHexByte(out, static_cast<unsigned char>(c));
}

} // namespace

std::string escapeBytes(std::string_view text, std::string_view special) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == kEscape || c == '\r' || c == '\n' || special.find(c) != std::string_view::npos)
            appendEscaped(out, c);
        else
            out += c;
    }
    return out;
}

std::string unescapeBytes(std::string_view text) {
    if (text.find(kEscape) == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kEscape && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string protectValue(std::string value) {
    const bool outerBlank = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (outerBlank || quoted)
        return '"' + value + '"';
    return value;
}

std::string encodeValue(std::string_view value) {
    return protectValue(escapeBytes(value));
}

std::string encodeKey(std::string_view name) {
    std::string out = escapeBytes(name, "=");
    if (!out.empty() && (out.front() == ';' || out.front() == '[' || isBlank(out.front()))) {
        const char first = out.front();
        out.erase(0, 1);
        std::string head;
        appendEscaped(head, first);
        out.insert(0, head);
    }
    if (!out.empty() && isBlank(out.back())) {
        const char last = out.back();
        out.pop_back();
        appendEscaped(out, last);
    }
    return out;
}

std::string encodeNodeText(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    for (; i < text.size() && (text[i] == ' ' || text[i] == '\t'); ++i)
        appendEscaped(out, text[i]);
    out += escapeBytes(text.substr(i), "#");
    return out;
}

} // namespace pelotest
