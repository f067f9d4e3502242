#pragma once
// The editor form of a path, in which the site log and the file list hand a file to the editor,
// and the confinement of the editor to the static and template folders.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// Every '/' replaced by '?', then UrlEncode (which writes "?" as %3F): a path of the site log or
// the file list in a form that survives a link's query unchanged.
std::string editorFormOfPath(std::string_view path);

// The editor's reading of the "site" value (already decoded once by the server): UrlDecodePath,
// then every '?' back to '/'. So a '+' in a file name becomes a blank, as it always has.
std::string pathFromEditorForm(std::string_view site);

// The file that path names, with ".." and links resolved, when it lies strictly inside the
// static root or the template folder (each likewise resolved; an empty root confines nothing
// into it); nullopt otherwise, also for an empty or relative path. The file need not exist.
std::optional<std::filesystem::path> confinedEditorFile(std::string_view path,
                                                        std::string_view staticRoot,
                                                        std::string_view templateFolder);

} // namespace pelotest
