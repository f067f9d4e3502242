#include "server/Encoders.h"

#include "state/HexDigits.h"

namespace pelotest {

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string scriptStringEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\'':
            out += "\\'";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '<':
            out += "\\x3C";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string urlEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= 'a' && byte <= 'z') || byte == '*' || byte == '-' || byte == '.' ||
            byte == '@' || byte == '_') {
            out += c;
        } else if (byte == ' ') {
            out += '+';
        } else if (byte == '\\') {
            out += '/';
        } else {
            out += '%';
            appendHexByte(out, byte);
        }
    }
    return out;
}

std::string urlDecodePath(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
            ++i;
        } else if (c == '%' && i + 2 < text.size()) {
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            out += (high < 0 || low < 0) ? '\x0E' : static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string htmlColor(Rgb color) {
    std::string out = "#";
    appendHexByte(out, color.r);
    appendHexByte(out, color.g);
    appendHexByte(out, color.b);
    return out;
}

std::string htmlColor(const Host& host, ColorRole role) {
    return htmlColor(host.color(role));
}

} // namespace pelotest
