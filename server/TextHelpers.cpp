#include "server/TextHelpers.h"

#include "language/UiTexts.h"
#include "state/TextCase.h"

#include <charconv>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

namespace pelotest {

namespace {

// A line whose references keep re-forming (a value that ends in an opening marker placed before
// a closing marker, say) would loop for ever; after this many passes the rest stays as it is.
constexpr int kMaxExpansionPasses = 10000;

// The decimal integer a value holds, or nothing when it is not one (an empty value, trailing
// text or a number out of range all count as not numeric).
std::optional<long long> parseInteger(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (value < -1000000 || value > 1000000) // pixels; keeps the sums far from overflow
        return std::nullopt;
    return value;
}

// SiteLogHorizontal / SiteLogVertical as the settings file on disk holds them now.
long long popupOffset(const AppState& state, std::string_view key, long long fallback) {
    if (state.settingsPath.empty())
        return fallback;
    const std::optional<std::string> value =
        ProfileFile::readFromDisk(state.settingsPath, "Const", key);
    if (!value)
        return fallback;
    return parseInteger(*value).value_or(fallback);
}

void appendPadded(std::string& out, int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width)
        out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

// The date/time patterns a language may use for the file time: d, dd, m, mm, yy, yyyy, h, hh,
// n, nn, s, ss, text in double or single quotes, anything else copied. As usual for such
// patterns, "m" right after an hour stands for minutes.
std::string formatDateTime(std::string_view pattern, const std::tm& t) {
    std::string out;
    bool afterHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        const char lower = foldCase(c);
        if (c == '"' || c == '\'') {
            const std::size_t close = pattern.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
            out.append(pattern.substr(i + 1, end - i - 1));
            i = end == pattern.size() ? end : end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && foldCase(pattern[i + run]) == lower)
            ++run;
        switch (lower) {
        case 'd':
            appendPadded(out, t.tm_mday, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'm':
            if (afterHour)
                appendPadded(out, t.tm_min, run >= 2 ? 2 : 1);
            else
                appendPadded(out, t.tm_mon + 1, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'y':
            if (run >= 3)
                appendPadded(out, t.tm_year + 1900, 4);
            else
                appendPadded(out, (t.tm_year + 1900) % 100, 2);
            afterHour = false;
            break;
        case 'h':
            appendPadded(out, t.tm_hour, run >= 2 ? 2 : 1);
            afterHour = true;
            break;
        case 'n':
            appendPadded(out, t.tm_min, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 's':
            appendPadded(out, t.tm_sec, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        default:
            out.append(pattern.substr(i, run));
            i += run;
            continue; // literal text keeps the "minutes after hour" reading
        }
        i += run;
    }
    return out;
}

} // namespace

bool isPageFile(std::string_view filePath) {
    const std::string_view name = fileNamePart(filePath);
    for (std::string_view ext : {".htm", ".html", ".js", ".css"})
        if (endsWithIgnoreCase(name, ext))
            return true;
    return false;
}

std::string expandReferences(AppState& state, Host& host, std::string_view line) {
    const std::string& before = state.settings.VarBefore;
    const std::string& after = state.settings.VarAfter;
    std::string text(line);
    if (before.empty() || after.empty())
        return text; // without both markers nothing is a reference

    bool changedRows = false;
    for (int pass = 0; pass < kMaxExpansionPasses; ++pass) {
        const std::size_t open = text.find(before);
        if (open == std::string::npos)
            break;
        const std::size_t nameStart = open + before.size();
        const std::size_t close = text.find(after, nameStart);
        if (close == std::string::npos)
            break;
        const std::string name = text.substr(nameStart, close - nameStart);

        VariableTable& variables = state.variables;
        const bool autoSort = state.settings.VariablesAutoSort;
        std::string replacement;
        if (const std::optional<std::size_t> row = variables.find(name)) {
            replacement = stripVariableReferences(variables[*row].Value, before, after);
            if (autoSort && variables[*row].mark == Mark::Plain) {
                variables.markUsed(*row, variables.leadingPassedCount());
                changedRows = true;
            }
        } else if (variables.withinLimits(variables.size() + 1, variables.bytes() + name.size())) {
            // A full list takes no more names; the reference still renders empty.
            const std::size_t added = variables.add(name, "");
            if (autoSort)
                variables.markUsed(added, variables.leadingPassedCount());
            changedRows = true;
        }
        text = replaceAll(text, before + name + after, replacement);
    }
    if (changedRows) {
        state.VariablesChanged = true;
        host.variablesChanged();
    }
    return text;
}

std::vector<std::string> splitLines(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t start = 0;
    // A plain scan: find_first_of with a set calls memchr once per byte of the text.
    const auto lineEnd = [&text](std::size_t from) {
        for (std::size_t i = from; i < text.size(); ++i)
            if (text[i] == '\r' || text[i] == '\n')
                return i;
        return std::string_view::npos;
    };
    while (start < text.size()) {
        const std::size_t end = lineEnd(start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

std::vector<std::string> readLines(const std::string& filePath) {
    std::ifstream in(filePath, std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot open file " + filePath);
    // Read in blocks: an istreambuf_iterator copies one character per call.
    std::string bytes;
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        bytes.append(block, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw std::runtime_error("Cannot read file " + filePath);
    return splitLines(bytes);
}

std::string joinLinesCrLf(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 2;
    std::string out;
    out.reserve(size);
    for (const std::string& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::string titleFromLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        const std::size_t open = findIgnoreCase(line, "<title>");
        if (open == std::string::npos)
            continue;
        std::string_view title = std::string_view(line).substr(open + 7);
        const std::size_t close = findIgnoreCase(title, "</title>");
        if (close == std::string_view::npos)
            return {};
        std::string decoded(title.substr(0, close));
        static constexpr std::pair<std::string_view, std::string_view> entities[] = {
            {"&auml;", "\xE4"}, {"&Auml;", "\xC4"}, {"&ouml;", "\xF6"},  {"&Ouml;", "\xD6"},
            {"&uuml;", "\xFC"}, {"&Uuml;", "\xDC"}, {"&szlig;", "\xDF"}, {"&quot;", "\""},
        };
        for (const auto& [entity, character] : entities)
            decoded = replaceAll(decoded, entity, character);
        return decoded;
    }
    return {};
}

std::string pageTitle(const std::string& filePath) {
    if (!isPageFile(filePath))
        return {};
    std::error_code error;
    if (!std::filesystem::is_regular_file(filePath, error))
        return {};
    return titleFromLines(readLines(filePath));
}

std::string injectSiteLogScript(const AppState& state, std::string_view line) {
    const std::size_t close = findIgnoreCase(line, "</title>");
    if (close == std::string_view::npos)
        return std::string(line);
    const std::size_t split = close + 8;
    return std::string(line.substr(0, split)) + "<script language=\"javascript\">" +
           siteLogPopupScript(state) + "</script>" + std::string(line.substr(split));
}

std::string siteLogPopupScript(const AppState& state) {
    const long long h = popupOffset(state, "SiteLogHorizontal", 10);
    const long long v = popupOffset(state, "SiteLogVertical", 58);
    return "var PLSiteLog = window.open(\"/$int/SiteLog.html\",\"PLSiteLog\",\"width=200,"
           "height=268,left=\"+String(screen.width - " +
           std::to_string(h + 200) + ")+\",top=\"+String(screen.height - " +
           std::to_string(v + 268) +
           ")+\",menubar=no,status=no,resizable=no\");\rPLSiteLog.focus();";
}

std::string popSiteListBlock(const AppState& state) {
    return "<script language=\"javascript\">function PopSiteList(){" + siteLogPopupScript(state) +
           "}</script>";
}

std::string varListPopupScript(const AppState& state) {
    const long long h = popupOffset(state, "SiteLogHorizontal", 10);
    const long long v = popupOffset(state, "SiteLogVertical", 58);
    return "<script language=\"javascript\">\rfunction PopVarList()\r{\rvar PLVarList = "
           "window.open(\"/$int/VarList.html\",\"PLVarList\",\"width=350,height=320,left=\"+"
           "String(screen.width - " +
           std::to_string(h + 350) + ")+\",top=\"+String(screen.height - 320 - " +
           std::to_string(2 * v + 268) +
           ")+\",menubar=no,status=no,resizable=yes\");\rPLVarList.focus();\r}\r</script>\r";
}

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

std::string fileInfoText(const AppState& state, const std::string& filePath) {
    std::string date = loadUiText(state, 55);
    std::string size = loadUiText(state, 56);

    std::error_code error;
    const bool regular = std::filesystem::is_regular_file(filePath, error);
    std::ifstream probe;
    if (regular)
        probe.open(filePath, std::ios::binary);
    if (regular && probe) {
        struct stat info {};
        if (::stat(filePath.c_str(), &info) == 0) {
            const std::time_t seconds = info.st_mtime;
            std::tm local{};
            localtime_r(&seconds, &local);
            date = replaceAll(formatDateTime(loadUiText(state, 57), local), " ",
                              loadUiText(state, 58));
            size = std::to_string(static_cast<unsigned long long>(info.st_size)) +
                   loadUiText(state, 59);
        }
    }
    return loadUiText(state, 60) + date + loadUiText(state, 61) + size;
}

} // namespace pelotest
