#include "app/TerminalText.h"

#include "platform/TextCodecs.h"

namespace pelotest {

namespace {

void appendEscaped(std::string& out, unsigned code) { // code < 0x100
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[(code >> 4) & 0xF];
    out += kHex[code & 0xF];
}

bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

} // namespace

std::string terminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const char16_t unit = utf16FromWindows1252(c);
        if (isControl(unit))
            appendEscaped(out, unit);
        else
            appendUtf8(out, unit);
    }
    return out;
}

std::string terminalFileName(std::string_view bytes) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto character = utf8CharacterAt(bytes, at);
        if (!character) {
            appendEscaped(out, static_cast<unsigned char>(bytes[at]));
            ++at;
            continue;
        }
        if (isControl(character->first))
            appendEscaped(out, character->first);
        else
            out.append(bytes.substr(at, character->second));
        at += character->second;
    }
    return out;
}

} // namespace pelotest
