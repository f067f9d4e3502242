#include "server/PageText.h"

#include "server/FileCache.h"
#include "server/StaticFiles.h"
#include "state/LineEnds.h"
#include "state/RegularFile.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <optional>
#include <stdexcept>
#include <utility>

namespace pelotest {

bool isPageFile(std::string_view filePath) {
    const std::string_view ext = fileExtension(filePath);
    return equalsIgnoreCase(ext, ".htm") || equalsIgnoreCase(ext, ".html") ||
           equalsIgnoreCase(ext, ".js") || equalsIgnoreCase(ext, ".css");
}

std::vector<std::string> splitLines(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const LineEnd end = findLineEnd(text, start);
        lines.emplace_back(text.substr(start, end.at - start));
        start = end.at + end.length;
    }
    return lines;
}

std::string withCrLfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t start = 0; start < text.size();) {
        const LineEnd end = findLineEnd(text, start);
        out.append(text.substr(start, end.at - start));
        out += "\r\n";
        start = end.at + end.length;
    }
    return out;
}

std::vector<std::string> readLines(const std::string& filePath) {
    const RegularFile file(filePath);
    if (!file.isOpen())
        throw std::runtime_error("Cannot open file " + filePath);
    const std::optional<std::string> bytes = file.readAll();
    if (!bytes)
        throw std::runtime_error("Cannot read file " + filePath);
    return splitLines(*bytes);
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

std::string titleOfText(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    for (std::size_t start = 0; start < text.size();) {
        const LineEnd end = findLineEnd(text, start);
        const std::string_view line = text.substr(start, end.at - start);
        start = end.at + end.length;
        const std::size_t open = findIgnoreCase(line, "<title>");
        if (open == std::string_view::npos)
            continue;
        std::string_view title = line.substr(open + 7);
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
    FileCache& cache = FileCache::shared();
    const std::optional<FileIdentity> identity = regularFileIdentity(filePath);
    if (!identity)
        return {};
    if (identity->size <= cache.largestKept()) {
        const std::shared_ptr<const CachedFile> file = cache.get(filePath, &*identity);
        return file ? file->title : std::string();
    }
    // Too large to be kept: read for its title alone, without a string for each of its lines.
    const RegularFile opened(filePath);
    if (opened.status() == RegularFile::Status::Unreadable)
        throw std::runtime_error("Cannot open file " + filePath);
    if (!opened.isOpen())
        return {};
    const std::optional<std::string> bytes = opened.readAll();
    if (!bytes)
        throw std::runtime_error("Cannot read file " + filePath);
    return titleOfText(*bytes);
}

} // namespace pelotest
