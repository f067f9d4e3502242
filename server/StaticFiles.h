#pragma once
// The file side of static delivery: which file a request may be given (confinement to the static
// folder), its content type, its validators, and the answers to conditional and range requests.
// Everything here is free of the shared state so that it can be tested on its own.

#include "server/RequestContext.h"
#include "state/FileIdentity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

// The extension of a path's file-name part, from its last '.' on (the dot included); "" when the
// name has no dot. "/a.b/c" has none; "/x/.htm" has ".htm".
std::string_view fileExtension(std::string_view path);

// The content type of a file by its extension (ignoring case): what a current browser needs to
// apply a style sheet in a standards-mode page, run a module script, show an SVG or play media.
// Unknown extensions give "application/octet-stream"; pages stay "text/html" without a charset,
// their bytes being passed through as they are.
std::string_view contentTypeFor(std::string_view path);

// Whether inner lies strictly below outer; both are canonical (absolute, no links, no dot
// segments). An empty last element of outer (a trailing separator) is ignored.
bool liesBelow(const std::filesystem::path& outer, const std::filesystem::path& inner);

// Where file is when it is a regular file (after following links) that lies inside the real
// location of folder: the path as written when no link or dot segment lies below the folder,
// otherwise the file's real location. Anything else, a path that leaves the folder through "..", a
// link that points outside it, a NUL byte, a folder, a missing file or an empty folder (none set),
// gives nullopt: it counts as not existing. Static files and templates are confined by it.
// identity, when given, receives the identity of the file found.
std::optional<std::string> resolveFileInside(std::string_view folder, std::string_view file,
                                             FileIdentity* identity = nullptr);

// resolveFileInside for FilePath in StaticRoot.
std::optional<std::string> resolveServableFile(const RequestPaths& paths,
                                               FileIdentity* identity = nullptr);

// What the validators of a file are made of.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0; // Unix time of the last change
    std::int64_t modifiedNanos = 0;   // its fraction, 0..999999999
};
// Size and modification time of a file; nullopt when it cannot be examined.
std::optional<FileStamp> stampOf(const std::string& file);
// The same, from a file's identity.
FileStamp stampOf(const FileIdentity& identity);

// A strong entity tag (quotes included) that changes with the size or the modification time.
std::string entityTag(const FileStamp& stamp);
// IMF-fixdate, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string httpDate(std::int64_t unixSeconds);
// Any of the three HTTP date forms (IMF-fixdate, RFC 850, asctime); nullopt when malformed.
std::optional<std::int64_t> parseHttpDate(std::string_view text);

// The request headers that decide between 200, 206, 304 and 416.
struct ConditionalHeaders {
    std::optional<std::string> ifNoneMatch;
    std::optional<std::string> ifModifiedSince;
    std::optional<std::string> range;
    std::optional<std::string> ifRange;
};
ConditionalHeaders conditionalHeadersOf(const HttpRequest& request);

// Whether a GET or HEAD may be answered 304: If-None-Match (weak comparison, "*" matches) when
// present, otherwise If-Modified-Since not older than the modification time.
bool isNotModified(const ConditionalHeaders& headers, const std::string& etag,
                   std::int64_t modifiedSeconds);

// The answer to a Range header on a file of a given size. Only one range "bytes=a-b", "bytes=a-"
// or "bytes=-n" is served; a malformed header, another unit, several ranges or an If-Range that
// no longer matches give the whole file.
struct RangeDecision {
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const RangeDecision&) const = default;
};
RangeDecision evaluateRange(const ConditionalHeaders& headers, std::uint64_t size,
                            const std::string& etag, std::int64_t modifiedSeconds);

struct FolderEntry {
    std::string name;
    bool isFolder = false; // a folder, or a link to one
};
// The entries of a folder, hidden ones included, in case-insensitive order (names that differ
// only in case in byte order); nullopt when the folder cannot be opened. A listing that fails
// halfway gives what was read until then. Of a folder with more than most entries only the first
// most in that order are given, and leftOut (when not null) receives how many were not.
std::optional<std::vector<FolderEntry>> sortedFolderEntries(const std::filesystem::path& folder,
                                                            std::size_t most = SIZE_MAX,
                                                            std::size_t* leftOut = nullptr);
// The names of the entries of a folder that are not folders (links followed), in that order;
// none when the folder cannot be opened.
std::vector<std::string> sortedFileNames(const std::filesystem::path& folder);

// The start-page choices of the welcome page: the names of the entries of a folder that are not
// folders (links followed), hidden ones included, in case-insensitive order. Empty when the
// folder is empty, missing or not set.
std::vector<std::string> startPageChoices(const std::string& folder);

} // namespace pelotest
