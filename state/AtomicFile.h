#pragma once
// Replacing a file as a whole: the settings file and the editor's saves. Readers see the old
// file or the new one, never a part of it; a crash or a full disk leaves the old file complete.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// Replaces the file `name` of the folder open as folderFd with bytes: writes a new file beside
// it (".<name>.pelotest-<digits>"), syncs it to disk, renames it over the old one and syncs the
// folder, all relative to the descriptor, so a link swapped into the folder's path meanwhile
// cannot send the write elsewhere. A link in the place of name is replaced, not followed. An
// existing file keeps its permissions; a new one gets 0666 less the umask. Temporary files that
// a killed save left behind are removed first. Returns the reason of a failure (the old file is
// then as it was and no temporary file stays), nullopt on success.
std::optional<std::string> replaceFileAt(int folderFd, const std::string& name,
                                         std::string_view bytes);

// The same for a path: a link at path stays a link, and the file it leads to gets the bytes.
std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes);

} // namespace pelotest
