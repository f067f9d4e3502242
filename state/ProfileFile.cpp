#include "state/ProfileFile.h"

#include "state/AtomicFile.h"
#include "state/LineEnds.h"
#include "state/RegularFile.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pelotest {

namespace {

// Lines, keys and values are trimmed of blanks, tabs and vertical tabs, as the profile API does.
bool isTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view trim(std::string_view text) {
    return trimIf(text, isTrimmed);
}

// The caller's section and key names lose leading and trailing spaces only.
std::string_view trimSpaces(std::string_view text) {
    return trimIf(text, [](char c) { return c == ' '; });
}

// One outer pair of matching quotes around a value is removed.
std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

enum class Kind { Other, Header, Comment, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed, quotes kept
};

// Whether classify would call the line a section header, without taking the line apart: the
// sections of a large file are searched line by line.
bool isHeader(std::string_view line) {
    for (const char c : line)
        if (!isTrimmed(c))
            return c == '[';
    return false;
}

Parsed classify(std::string_view line) {
    const std::string_view t = trim(line);
    Parsed p;
    if (t.empty())
        return p;
    if (t.front() == '[') {
        p.kind = Kind::Header;
        const std::size_t close = t.find(']');
        p.name =
            trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return p;
    }
    if (t.front() == ';') {
        p.kind = Kind::Comment;
        return p;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return p;
    p.kind = Kind::Key;
    p.name = trim(t.substr(0, eq));
    p.value = trim(t.substr(eq + 1));
    return p;
}

// UTF-16LE text as Windows-1252 bytes; a character without one becomes '?'.
std::string fromUtf16Le(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8);
        out.push_back(windows1252FromUtf16Unit(unit).value_or('?'));
    }
    return out;
}

std::string toUtf16Le(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const char16_t unit = utf16FromWindows1252(c);
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

// Values and names are single lines: a line break would split them into new lines of the file.
std::string oneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

} // namespace

bool ProfileFile::load(const std::filesystem::path& path, std::string* refusal) {
    FileRead read = readRegularFile(path);
    if (read.outcome != FileRead::Outcome::Read) {
        parse({});
        if (refusal)
            *refusal = read.outcome == FileRead::Outcome::Refused ? read.reason : std::string();
        return false;
    }
    parseOwned(std::move(read.bytes));
    return true;
}

void ProfileFile::parse(std::string_view text) {
    parseOwned(std::string(text));
}

void ProfileFile::parseOwned(std::string text) {
    lines_.clear();
    encoding_ = Encoding::Bytes;
    std::size_t pos = 0;
    if (std::string_view(text).substr(0, 2) == kUtf16LeBom) {
        encoding_ = Encoding::Utf16Le;
        text = fromUtf16Le(std::string_view(text).substr(2));
    } else if (std::string_view(text).substr(0, 3) == kUtf8Bom) {
        // Windows would read the mark as three characters of the first line and so miss a
        // section header there; a file saved by an editor that adds the mark should just work.
        encoding_ = Encoding::Utf8Bom;
        pos = 3;
    }
    text_ = std::move(text);
    const std::string_view all = text_;
    const char* const data = all.data();
    // A large file (100,000 variables) would otherwise grow the list many times over. Counted by
    // memchr, which looks at many bytes at once: a loop over the bytes took a sixth of the
    // start-up.
    std::size_t lineCount = 1;
    for (const char* at = data; (at = static_cast<const char*>(std::memchr(
                                     at, '\n', all.size() - static_cast<std::size_t>(at - data))));
         ++at)
        ++lineCount;
    lines_.reserve(lineCount);
    while (pos < all.size()) {
        // Lines end at "\r\n", "\n" or "\r": the next '\n' is found a block at a time, and only
        // the stretch before it is searched for a lone '\r'.
        const void* lf = std::memchr(data + pos, '\n', all.size() - pos);
        const std::size_t lfAt =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : all.size();
        const void* cr = std::memchr(data + pos, '\r', lfAt - pos);
        LineEnd end{lfAt, lf ? 1u : 0u};
        if (cr) {
            const auto crAt = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
            end = {crAt, lf && crAt + 1 == lfAt ? 2u : 1u};
        }
        static constexpr std::string_view kEnds[] = {"", "\n", "\r", "\r\n"};
        const std::size_t endKind = end.length == 0       ? 0
                                    : end.length == 2     ? 3
                                    : all[end.at] == '\n' ? 1
                                                          : 2;
        lines_.push_back({pos, end.at - pos, kEnds[endKind]});
        pos = end.at + end.length;
    }
}

ProfileFile::Line ProfileFile::newLine(std::string_view text, std::string_view end) {
    const Line line{text_.size(), text.size(), end};
    text_ += text;
    return line;
}

void ProfileFile::compact() {
    std::size_t used = 0;
    for (const Line& line : lines_)
        used += line.size;
    if (text_.size() <= 2 * used + 4096)
        return;
    std::string kept;
    kept.reserve(used);
    for (Line& line : lines_) {
        const std::size_t at = kept.size();
        kept += textOf(line);
        line.at = at;
    }
    text_ = std::move(kept);
}

std::string ProfileFile::text() const {
    std::string out;
    for (const Line& line : lines_) {
        out += textOf(line);
        out += line.end;
    }
    switch (encoding_) {
    case Encoding::Utf8Bom:
        return std::string(kUtf8Bom) + out;
    case Encoding::Utf16Le:
        return std::string(kUtf16LeBom) + toUtf16Le(out);
    case Encoding::Bytes:
        break;
    }
    return out;
}

bool ProfileFile::save(const std::filesystem::path& path, std::string* failure) const {
    const std::optional<std::string> reason = replaceFile(path, text());
    if (reason && failure)
        *failure = *reason;
    return !reason;
}

std::optional<ProfileFile::Range> ProfileFile::findSection(std::string_view section,
                                                           std::size_t from) const {
    section = trimSpaces(section);
    for (std::size_t i = from; i < lines_.size(); ++i) {
        if (!isHeader(textOf(lines_[i])))
            continue;
        const Parsed p = classify(textOf(lines_[i]));
        if (!equalsIgnoreCase(p.name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !isHeader(textOf(lines_[end])))
            ++end;
        return Range{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> ProfileFile::findKey(const Range& range, std::string_view key) const {
    key = trimSpaces(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const Parsed p = classify(textOf(lines_[i]));
        if (p.kind == Kind::Key && equalsIgnoreCase(p.name, key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> ProfileFile::readString(std::string_view section,
                                                   std::string_view key) const {
    const auto range = findSection(section);
    if (!range)
        return std::nullopt;
    const auto line = findKey(*range, key);
    if (!line)
        return std::nullopt;
    return std::string(unquote(classify(textOf(lines_[*line])).value));
}

std::string ProfileFile::readString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
    if (auto value = readString(section, key))
        return std::move(*value);
    // Only trailing spaces leave the default.
    return std::string(fallback.substr(0, fallback.find_last_not_of(' ') + 1));
}

int ProfileFile::readInt(std::string_view section, std::string_view key, int fallback) const {
    const auto value = readString(section, key);
    // An empty value counts as absent (an empty number field is no number).
    if (!value || value->empty())
        return fallback;
    // The integer at the start of the value: blanks, an optional sign, decimal digits up to the
    // first other character, accumulated modulo 2^32. No digits at all give 0.
    std::size_t i = 0;
    while (i < value->size() && isTrimmed((*value)[i]))
        ++i;
    bool negative = false;
    if (i < value->size() && ((*value)[i] == '+' || (*value)[i] == '-'))
        negative = (*value)[i++] == '-';
    std::uint32_t result = 0;
    for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i)
        result = result * 10u + static_cast<std::uint32_t>((*value)[i] - '0');
    if (negative)
        result = 0u - result;
    return static_cast<int>(result);
}

std::vector<std::string> ProfileFile::keys(std::string_view section) const {
    std::vector<std::string> result;
    for (auto& entry : entries(section))
        result.push_back(std::move(entry.first));
    return result;
}

std::vector<std::pair<std::string, std::string>>
ProfileFile::entries(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> result;
    forEachEntry(section, [&](std::string_view key, std::string_view value) {
        result.emplace_back(std::string(key), std::string(value));
    });
    return result;
}

std::size_t ProfileFile::sectionLines(std::string_view section) const {
    const auto range = findSection(section);
    return range ? range->end - range->header - 1 : 0;
}

void ProfileFile::forEachEntry(
    std::string_view section,
    const std::function<void(std::string_view key, std::string_view value)>& visit) const {
    const auto range = findSection(section);
    if (!range)
        return;
    for (std::size_t i = range->header + 1; i < range->end; ++i) {
        const Parsed p = classify(textOf(lines_[i]));
        if (p.kind == Kind::Key)
            visit(p.name, unquote(p.value));
    }
}

bool ProfileFile::hasSection(std::string_view section) const {
    return findSection(section).has_value();
}

void ProfileFile::terminateLastLine() {
    if (!lines_.empty() && lines_.back().end.empty())
        lines_.back().end = "\r\n";
}

void ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) {
    const std::string sectionName = oneLine(trimSpaces(section));
    const std::string keyName = oneLine(trimSpaces(key));
    const std::string text = oneLine(value);
    const auto range = findSection(sectionName);
    if (!range) {
        terminateLastLine();
        lines_.push_back(newLine("[" + sectionName + "]"));
        lines_.push_back(newLine(keyName + "=" + text));
        return;
    }
    if (const auto line = findKey(*range, keyName)) {
        // The key keeps its spelling and the spacing before '='; the value is replaced.
        const std::string_view old = textOf(lines_[*line]);
        const std::string_view end = lines_[*line].end.empty() ? "\r\n" : lines_[*line].end;
        lines_[*line] = newLine(std::string(old.substr(0, old.find('=') + 1)) + text, end);
        compact();
        return;
    }
    // A new key goes right after the last key of the section (after the header when it has
    // none), so keys appear in the order written and comments below the last key stay below.
    std::size_t after = range->header;
    for (std::size_t i = range->header + 1; i < range->end; ++i)
        if (classify(textOf(lines_[i])).kind == Kind::Key)
            after = i;
    if (lines_[after].end.empty())
        lines_[after].end = "\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after) + 1,
                  newLine(keyName + "=" + text));
}

void ProfileFile::eraseKey(std::string_view section, std::string_view key) {
    const auto range = findSection(section);
    if (!range)
        return;
    if (const auto line = findKey(*range, key)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*line));
        compact();
    }
}

void ProfileFile::eraseSection(std::string_view section) {
    // Every section of the name goes: a hand-edited duplicate would otherwise become "the
    // first section" and be read in place of the erased one.
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    bool inside = false;
    const std::string_view name = trimSpaces(section);
    for (Line& line : lines_) {
        const Parsed p = classify(textOf(line));
        if (p.kind == Kind::Header)
            inside = equalsIgnoreCase(p.name, name);
        if (inside && (p.kind == Kind::Header || p.kind == Kind::Key))
            continue;
        kept.push_back(std::move(line));
    }
    lines_ = std::move(kept);
    compact();
}

void ProfileFile::writeSection(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
    eraseSection(section);
    if (entries.empty())
        return;
    terminateLastLine();
    lines_.reserve(lines_.size() + entries.size() + 1);
    lines_.push_back(newLine("[" + oneLine(trimSpaces(section)) + "]"));
    for (const auto& [key, value] : entries)
        lines_.push_back(newLine(oneLine(trimSpaces(key)) + "=" + oneLine(value)));
    compact();
}

std::optional<std::string> ProfileFile::readFromDisk(const std::filesystem::path& path,
                                                     std::string_view section,
                                                     std::string_view key) {
    ProfileFile file;
    if (!file.load(path))
        return std::nullopt;
    return file.readString(section, key);
}

} // namespace pelotest
