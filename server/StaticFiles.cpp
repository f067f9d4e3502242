#include "server/StaticFiles.h"
#include "platform/Calendar.h"

#include "server/FileCache.h"
#include "server/WindowsNames.h"
#include "state/PathText.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>

namespace pelotest {
namespace fs = std::filesystem;

std::string_view fileExtension(std::string_view path) {
    const std::string_view name = fileNamePart(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

namespace {

struct TypeByExtension {
    std::string_view extension;
    std::string_view type;
};

constexpr std::array kContentTypes{
    // Pages, styles, scripts and data
    TypeByExtension{".htm", "text/html"},
    TypeByExtension{".html", "text/html"},
    TypeByExtension{".shtml", "text/html"},
    TypeByExtension{".xhtml", "application/xhtml+xml"},
    TypeByExtension{".css", "text/css"},
    TypeByExtension{".js", "text/javascript"},
    TypeByExtension{".mjs", "text/javascript"},
    TypeByExtension{".json", "application/json"},
    TypeByExtension{".map", "application/json"},
    TypeByExtension{".webmanifest", "application/manifest+json"},
    TypeByExtension{".xml", "application/xml"},
    TypeByExtension{".xsl", "application/xml"},
    TypeByExtension{".txt", "text/plain"},
    TypeByExtension{".csv", "text/csv"},
    TypeByExtension{".md", "text/markdown"},
    TypeByExtension{".wasm", "application/wasm"},
    TypeByExtension{".pdf", "application/pdf"},
    TypeByExtension{".zip", "application/zip"},
    // Pictures
    TypeByExtension{".png", "image/png"},
    TypeByExtension{".gif", "image/gif"},
    TypeByExtension{".jpg", "image/jpeg"},
    TypeByExtension{".jpeg", "image/jpeg"},
    TypeByExtension{".svg", "image/svg+xml"},
    TypeByExtension{".ico", "image/x-icon"},
    TypeByExtension{".webp", "image/webp"},
    TypeByExtension{".avif", "image/avif"},
    TypeByExtension{".bmp", "image/bmp"},
    // Fonts
    TypeByExtension{".woff", "font/woff"},
    TypeByExtension{".woff2", "font/woff2"},
    TypeByExtension{".ttf", "font/ttf"},
    TypeByExtension{".otf", "font/otf"},
    // Audio and video
    TypeByExtension{".mp4", "video/mp4"},
    TypeByExtension{".m4v", "video/mp4"},
    TypeByExtension{".webm", "video/webm"},
    TypeByExtension{".ogv", "video/ogg"},
    TypeByExtension{".mp3", "audio/mpeg"},
    TypeByExtension{".m4a", "audio/mp4"},
    TypeByExtension{".ogg", "audio/ogg"},
    TypeByExtension{".oga", "audio/ogg"},
    TypeByExtension{".opus", "audio/ogg"},
    TypeByExtension{".wav", "audio/wav"},
    TypeByExtension{".flac", "audio/flac"},
    TypeByExtension{".vtt", "text/vtt"},
};

} // namespace

std::string_view contentTypeFor(std::string_view path) {
    // Lowercased once, then compared exactly: this runs for every file answer.
    const std::string_view ext = fileExtension(path);
    std::array<char, 16> lower{};
    if (ext.size() <= lower.size()) {
        for (std::size_t i = 0; i < ext.size(); ++i) {
            const char c = ext[i];
            lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        // Built once from the table above; a look-up is one hash instead of a walk over it.
        static const std::unordered_map<std::string_view, std::string_view> types = [] {
            std::unordered_map<std::string_view, std::string_view> byExtension;
            for (const TypeByExtension& entry : kContentTypes)
                byExtension.emplace(entry.extension, entry.type);
            return byExtension;
        }();
        if (const auto found = types.find(std::string_view(lower.data(), ext.size()));
            found != types.end())
            return found->second;
    }
    return "application/octet-stream";
}

bool liesBelow(const fs::path& outer, const fs::path& inner) {
    // Windows finds a name in any case, so a folder named in another case is the same folder.
    const auto sameName = [](const fs::path& a, const fs::path& b) {
        if constexpr (kWindowsNameRules)
            return a == b || equalsIgnoreCase(a.string(), b.string());
        return a == b;
    };
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty()) // the empty last element of a path that ends in a separator
            continue;
        if (i == inner.end() || !sameName(*o, *i))
            return false;
    }
    return i != inner.end();
}

namespace {

// Resolving a path in full walks it component by component, a system call for each, and does it
// twice (folder and file). Most requests need less: a file below the folder whose every component
// below the folder is a plain directory or, the last one, a regular file (none a link, none "."
// or "..") lies inside wherever the folder leads now, so one lstat per component below the folder
// shows it, and a component replaced by a link, a renamed folder or a deleted file is seen at the
// next request. The folder itself needs no look of its own: the walk goes through it as it is now,
// so a folder that became a link leads the walk where resolving it would. Its answer is the path
// as written, which names the same file as the real location.
enum class Walk { Inside, Missing, NeedsResolving };

// The components of relative below a plain folder (prefix, ending in '/'), looked at with lstat.
// info receives the last one's status.
Walk walkPlainComponents(std::string& path, std::string_view relative, FileStatus& info) {
    for (;;) {
        const std::size_t slash = relative.find('/');
        const std::string_view name = relative.substr(0, slash);
        if (name.empty() || name == "." || name == "..")
            return Walk::NeedsResolving;
        path.append(name);
        std::error_code error;
        info = statusOf(path, Links::DoNotFollowLast, error);
        if (info.kind == FileKind::Missing)
            return missing(error) ? Walk::Missing : Walk::NeedsResolving;
        if (info.kind == FileKind::Link)
            return Walk::NeedsResolving;
        if (slash == std::string_view::npos)
            return info.kind == FileKind::Regular ? Walk::Inside : Walk::Missing;
        if (info.kind != FileKind::Folder)
            return Walk::Missing;
        path.append(1, '/');
        relative.remove_prefix(slash + 1);
    }
}

// The part of file below folder, or file without its drive ("c:") when it lies elsewhere: the
// part whose names come from the request.
[[maybe_unused]] std::string_view belowFolder(std::string_view folder, std::string_view file) {
    if (file.size() > folder.size() && startsWithIgnoreCase(file, folder))
        return file.substr(folder.size());
    if (file.size() >= 2 && file[1] == ':')
        return file.substr(2);
    return file;
}

} // namespace

std::optional<std::string> resolveFileInside(std::string_view folder, std::string_view file,
                                             FileIdentity* identity) {
    // A NUL would cut the path short where the system reads it, so such a name never exists.
    if (folder.empty() || folder.find('\0') != std::string_view::npos ||
        file.find('\0') != std::string_view::npos)
        return std::nullopt;
    if constexpr (kWindowsNameRules)
        if (holdsWindowsSpecialName(belowFolder(folder, file)))
            return std::nullopt;
    FileStatus info;
    if (file.size() > folder.size() + 1 && file.substr(0, folder.size()) == folder &&
        file[folder.size()] == '/' && folder.back() != '/') {
        std::string path(folder);
        path += '/';
        switch (walkPlainComponents(path, file.substr(folder.size() + 1), info)) {
        case Walk::Inside:
            if (identity)
                *identity = info.identity;
            return path;
        case Walk::Missing:
            return std::nullopt;
        case Walk::NeedsResolving:
            break;
        }
    }
    // Most misses name no file at all (a template request asks for a page that exists only as a
    // template): one stat, which follows links as resolving them would, settles those without
    // resolving every component.
    std::error_code error;
    info = statusOf(std::string(file), Links::Follow, error);
    if (info.kind != FileKind::Regular)
        return std::nullopt;
    std::error_code ec;
    const fs::path realFolder = fs::canonical(fs::path(folder), ec);
    if (ec)
        return std::nullopt;
    fs::path realFile = fs::canonical(fs::path(file), ec);
    if (ec || !fs::is_regular_file(realFile, ec) || !liesBelow(realFolder, realFile))
        return std::nullopt;
    if (identity)
        *identity = info.identity;
    return std::move(realFile).string();
}

std::optional<std::string> resolveServableFile(const RequestPaths& paths, FileIdentity* identity) {
    return resolveFileInside(paths.staticRoot, paths.filePath, identity);
}

FileStamp stampOf(const FileIdentity& identity) {
    constexpr std::int64_t kNanos = 1'000'000'000;
    const std::int64_t modified = identity.modifiedNanos;
    const std::int64_t below = ((modified % kNanos) + kNanos) % kNanos; // before 1970 too
    return FileStamp{identity.size, (modified - below) / kNanos, below};
}

std::optional<FileStamp> stampOf(const std::string& file) {
    std::error_code error;
    const FileStatus info = statusOf(file, Links::Follow, error);
    if (info.kind == FileKind::Missing)
        return std::nullopt;
    return stampOf(info.identity);
}

namespace {

void appendHex(std::string& out, std::uint64_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    out.append(digits, end);
}

void appendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

} // namespace

// Formatted by hand: both are built for every file answer.
std::string entityTag(const FileStamp& stamp) {
    std::string tag;
    tag.reserve(40);
    tag += '"';
    appendHex(tag, stamp.size);
    tag += '-';
    appendHex(tag, static_cast<std::uint64_t>(stamp.modifiedSeconds));
    tag += '-';
    appendHex(tag, static_cast<std::uint64_t>(static_cast<unsigned long>(stamp.modifiedNanos)));
    tag += '"';
    return tag;
}

namespace {

constexpr std::array<std::string_view, 7> kDayNames{"Sun", "Mon", "Tue", "Wed",
                                                    "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::string httpDate(std::int64_t unixSeconds) {
    const std::time_t time = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    if (!utcCalendarTime(time, utc))
        return {};
    std::string text;
    text.reserve(32);
    text.append(kDayNames[static_cast<std::size_t>(utc.tm_wday)]).append(", ");
    appendTwoDigits(text, utc.tm_mday);
    text += ' ';
    text.append(kMonthNames[static_cast<std::size_t>(utc.tm_mon)]);
    text += ' ';
    const int year = utc.tm_year + 1900;
    if (year < 0 || year > 9999) { // what the four-digit field printed for such a year
        char digits[16];
        const int n = std::snprintf(digits, sizeof digits, "%04d", year);
        text.append(digits, static_cast<std::size_t>(n));
    } else {
        appendTwoDigits(text, year / 100);
        appendTwoDigits(text, year % 100);
    }
    text += ' ';
    appendTwoDigits(text, utc.tm_hour);
    text += ':';
    appendTwoDigits(text, utc.tm_min);
    text += ':';
    appendTwoDigits(text, utc.tm_sec);
    text.append(" GMT");
    return text;
}

namespace {

// A small cursor over header text; every reader returns false and leaves the result unset on a
// mismatch. Dates are parsed by hand because the C library's parser follows the process locale.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool literal(std::string_view expected) {
        if (text_.substr(pos_, expected.size()) != expected)
            return false;
        pos_ += expected.size();
        return true;
    }
    bool number(int digits, int& value) {
        value = 0;
        for (int k = 0; k < digits; ++k) {
            if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_])))
                return false;
            value = value * 10 + (text_[pos_++] - '0');
        }
        return true;
    }
    bool name(std::span<const std::string_view> names, int& index) {
        for (std::size_t k = 0; k < names.size(); ++k)
            if (literal(names[k])) {
                index = static_cast<int>(k);
                return true;
            }
        return false;
    }
    // A full day name such as "Sunday" (RFC 850 form).
    bool longDayName() {
        static constexpr std::array<std::string_view, 7> longNames{
            "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
        int index = 0;
        return name(longNames, index);
    }
    bool time(std::tm& tm) {
        return number(2, tm.tm_hour) && literal(":") && number(2, tm.tm_min) && literal(":") &&
               number(2, tm.tm_sec);
    }
    bool atEnd() const { return pos_ == text_.size(); }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool validTime(const std::tm& tm) {
    return tm.tm_mday >= 1 && tm.tm_mday <= 31 && tm.tm_hour <= 23 && tm.tm_min <= 59 &&
           tm.tm_sec <= 60;
}

} // namespace

std::optional<std::int64_t> parseHttpDate(std::string_view text) {
    text = trimBlanks(text);
    std::tm tm{};
    int index = 0;
    bool ok = false;
    { // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
        Scanner s(text);
        int year = 0;
        ok = s.name(kDayNames, index) && s.literal(", ") && s.number(2, tm.tm_mday) &&
             s.literal(" ") && s.name(kMonthNames, tm.tm_mon) && s.literal(" ") &&
             s.number(4, year) && s.literal(" ") && s.time(tm) && s.literal(" GMT") && s.atEnd();
        tm.tm_year = year - 1900;
    }
    if (!ok) { // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
        Scanner s(text);
        int year = 0;
        ok = s.longDayName() && s.literal(", ") && s.number(2, tm.tm_mday) && s.literal("-") &&
             s.name(kMonthNames, tm.tm_mon) && s.literal("-") && s.number(2, year) &&
             s.literal(" ") && s.time(tm) && s.literal(" GMT") && s.atEnd();
        tm.tm_year = year < 70 ? year + 100 : year;
    }
    if (!ok) { // asctime: "Sun Nov  6 08:49:37 1994"
        Scanner s(text);
        int year = 0;
        ok = s.name(kDayNames, index) && s.literal(" ") && s.name(kMonthNames, tm.tm_mon) &&
             s.literal(" ") &&
             (s.literal(" ") ? s.number(1, tm.tm_mday) : s.number(2, tm.tm_mday)) &&
             s.literal(" ") && s.time(tm) && s.literal(" ") && s.number(4, year) && s.atEnd();
        tm.tm_year = year - 1900;
    }
    if (!ok || !validTime(tm))
        return std::nullopt;
    return static_cast<std::int64_t>(timeOfUtcCalendar(tm));
}

ConditionalHeaders conditionalHeadersOf(const HttpRequest& request) {
    ConditionalHeaders headers;
    for (const auto& header : request.headers) {
        // A repeated header keeps its first value; these fields are not meant to be repeated.
        auto take = [&header](std::string_view wanted, std::optional<std::string>& slot) {
            if (!slot && equalsIgnoreCase(header.first, wanted))
                slot = header.second;
        };
        take("If-None-Match", headers.ifNoneMatch);
        take("If-Modified-Since", headers.ifModifiedSince);
        take("Range", headers.range);
        take("If-Range", headers.ifRange);
    }
    return headers;
}

namespace {

// Whether a list of entity tags ("*" or tags separated by commas, each possibly weak) holds etag
// under the weak comparison; malformed members are skipped.
bool entityTagListMatches(std::string_view list, std::string_view etag) {
    if (trimBlanks(list) == "*")
        return true;
    std::size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t' || list[pos] == ','))
            ++pos;
        if (list.substr(pos, 2) == "W/")
            pos += 2;
        if (pos < list.size() && list[pos] == '"') {
            const std::size_t close = list.find('"', pos + 1);
            if (close == std::string_view::npos)
                return false;
            if (list.substr(pos, close + 1 - pos) == etag)
                return true;
            pos = close + 1;
        } else {
            const std::size_t comma = list.find(',', pos);
            pos = comma == std::string_view::npos ? list.size() : comma + 1;
        }
    }
    return false;
}

constexpr std::uint64_t kNoNumber = std::numeric_limits<std::uint64_t>::max();

// Decimal digits as a number, saturating at kNoNumber - 1; kNoNumber when not all digits or empty.
std::uint64_t decimal(std::string_view digits) {
    if (digits.empty())
        return kNoNumber;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return kNoNumber;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kNoNumber - 1 - digit) / 10 ? kNoNumber - 1 : value * 10 + digit;
    }
    return value;
}

// If-Range holds when its entity tag equals ours under the strong comparison, or its date is
// exactly our modification time.
bool ifRangeHolds(std::string_view ifRange, const std::string& etag, std::int64_t modified) {
    ifRange = trimBlanks(ifRange);
    if (ifRange.starts_with("W/"))
        return false;
    if (ifRange.starts_with("\""))
        return ifRange == etag;
    const auto date = parseHttpDate(ifRange);
    return date && *date == modified;
}

} // namespace

bool isNotModified(const ConditionalHeaders& headers, const std::string& etag,
                   std::int64_t modifiedSeconds) {
    if (headers.ifNoneMatch)
        return entityTagListMatches(*headers.ifNoneMatch, etag);
    if (headers.ifModifiedSince) {
        const auto since = parseHttpDate(*headers.ifModifiedSince);
        return since && modifiedSeconds <= *since;
    }
    return false;
}

RangeDecision evaluateRange(const ConditionalHeaders& headers, std::uint64_t size,
                            const std::string& etag, std::int64_t modifiedSeconds) {
    using Kind = RangeDecision::Kind;
    const RangeDecision whole{Kind::Whole, 0, size};
    if (!headers.range)
        return whole;
    if (headers.ifRange && !ifRangeHolds(*headers.ifRange, etag, modifiedSeconds))
        return whole;
    std::string_view rangeText = trimBlanks(*headers.range);
    if (rangeText.size() < 6 || !equalsIgnoreCase(rangeText.substr(0, 6), "bytes="))
        return whole;
    rangeText = trimBlanks(rangeText.substr(6));
    const std::size_t dash = rangeText.find('-');
    if (dash == std::string_view::npos || rangeText.find(',') != std::string_view::npos)
        return whole;
    const std::string_view firstText = trimBlanks(rangeText.substr(0, dash));
    const std::string_view lastText = trimBlanks(rangeText.substr(dash + 1));
    const RangeDecision unsatisfiable{Kind::Unsatisfiable, 0, 0};

    if (firstText.empty()) { // "-n": the last n bytes
        const std::uint64_t suffix = decimal(lastText);
        if (suffix == kNoNumber)
            return whole;
        if (suffix == 0 || size == 0)
            return unsatisfiable;
        const std::uint64_t length = std::min(suffix, size);
        return {Kind::Partial, size - length, length};
    }
    const std::uint64_t first = decimal(firstText);
    if (first == kNoNumber)
        return whole;
    std::uint64_t last = size == 0 ? 0 : size - 1;
    if (!lastText.empty()) {
        const std::uint64_t given = decimal(lastText);
        if (given == kNoNumber)
            return whole;
        if (given < first)
            return unsatisfiable;
        last = std::min(last, given);
    }
    if (first >= size)
        return unsatisfiable;
    return {Kind::Partial, first, last - first + 1};
}

std::optional<std::vector<FolderEntry>>
sortedFolderEntries(const fs::path& folder, std::size_t most, std::size_t* leftOut) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        return std::nullopt;
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        const bool isFolder = it->is_directory(typeError);
        entries.push_back({it->path().filename().string(), isFolder && !typeError});
    }
    const auto inOrder = [](const FolderEntry& a, const FolderEntry& b) {
        const int order = compareIgnoreCase(a.name, b.name);
        return order != 0 ? order < 0 : a.name < b.name;
    };
    const std::size_t kept = std::min(most, entries.size());
    std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(kept),
                      entries.end(), inOrder);
    if (leftOut)
        *leftOut = entries.size() - kept;
    entries.resize(kept);
    return entries;
}

std::vector<std::string> sortedFileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (FolderEntry& entry : sortedFolderEntries(folder).value_or(std::vector<FolderEntry>{}))
        if (!entry.isFolder)
            names.push_back(std::move(entry.name));
    return names;
}

std::vector<std::string> startPageChoices(const std::string& staticPath) {
    // Settings written on Windows may use backslashes; a trailing separator is harmless.
    std::string folder = replaceAll(staticPath, "\\", "/");
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return {};
    return sortedFileNames(folder);
}

} // namespace pelotest
