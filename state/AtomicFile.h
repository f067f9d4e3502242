#pragma once
// Replacing a file as a whole: every file the program writes (the settings file, the editor's
// saves, language exports and downloads). Readers see the old file or the new one, never a part
// of it; a crash or a full disk leaves the old file complete. Only a regular file is ever
// replaced: a link, a folder, a FIFO or a device at the name is refused, never followed.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace pelotest {

// Replaces the file `name` of the folder open as folderFd with bytes: writes a new file beside
// it (".<name>.pelotest-<digits>"), syncs it to disk, renames it over the old one and syncs the
// folder, all relative to the descriptor, so a link swapped into the folder's path meanwhile
// cannot send the write elsewhere. Anything but a regular file at name (a link, a folder, a FIFO,
// a device) is refused with a reason and left as it is. An existing file keeps its permissions; a
// new one gets 0666 less the umask. Temporary files that a killed save left behind are removed
// first. Returns the reason of a failure (the old file is then as it was and no temporary file
// stays), nullopt on success.
std::optional<std::string> replaceFileAt(int folderFd, const std::string& name,
                                         std::string_view bytes);

// A folder opened once, so that several files are replaced in the same folder even when its path
// is changed meanwhile (a link swapped in for one of its folders).
class FolderHandle {
  public:
    explicit FolderHandle(const std::filesystem::path& folder);
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle();
    // replaceFileAt in this folder; the reason the folder could not be opened, if it could not.
    std::optional<std::string> replace(const std::string& name, std::string_view bytes) const;

  private:
    int fd_;
    int error_;
};

// The same for a path: its folder is opened (following links there, as any path does), and the
// last component is replaced as replaceFileAt does.
std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes);

// Why a file of this status is no regular file ("it is a link", ...); nullopt for a regular file.
std::optional<std::string> notARegularFile(const struct stat& info);

} // namespace pelotest
