#include "server/WindowsNames.h"

#include "state/TextCase.h"

#include <array>

namespace pelotest {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Characters that are no part of a Windows file name: controls, and those Windows takes as
// wildcards, redirections or stream markers.
bool isForbiddenCharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20)
        return true;
    switch (c) {
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

bool isDeviceDigit(std::string_view digit) {
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9')
        return true;
    // ¹ ² ³ in Windows-1252 and in UTF-8.
    static constexpr std::array<std::string_view, 6> kSuperscripts = {
        "\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    for (const std::string_view superscript : kSuperscripts)
        if (digit == superscript)
            return true;
    return false;
}

} // namespace

bool namesWindowsDevice(std::string_view component) {
    // Windows looks at the name before the first dot, trailing spaces dropped.
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoreCase(base, device))
            return true;
    if (base.size() < 4)
        return false;
    const std::string_view stem = base.substr(0, 3);
    return (equalsIgnoreCase(stem, "COM") || equalsIgnoreCase(stem, "LPT")) &&
           isDeviceDigit(base.substr(3));
}

bool holdsWindowsSpecialName(std::string_view relative) {
    // "\\?\", "\\.\" and UNC paths start with two separators; below a folder no path does.
    if (relative.size() >= 2 && isSeparator(relative[0]) && isSeparator(relative[1]))
        return true;
    for (const char c : relative)
        if (isForbiddenCharacter(c))
            return true;
    while (!relative.empty()) {
        std::size_t end = 0;
        while (end < relative.size() && !isSeparator(relative[end]))
            ++end;
        const std::string_view component = relative.substr(0, end);
        relative.remove_prefix(end < relative.size() ? end + 1 : end);
        if (component.empty() || component == "." || component == "..")
            continue;
        if (component.back() == '.' || component.back() == ' ')
            return true;
        if (namesWindowsDevice(component))
            return true;
    }
    return false;
}

} // namespace pelotest
