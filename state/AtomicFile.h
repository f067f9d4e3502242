#pragma once
// Replacing a file as a whole: every file the program writes (the settings file, the editor's
// saves, language exports and downloads). Readers see the old file or the new one, never a part
// of it; a crash or a full disk leaves the old file complete. Only a regular file is ever
// replaced: a link, a folder, a FIFO or a device at the name is refused, never followed.

#include "platform/Files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// Replaces the file `name` of the open folder with bytes: writes a new file beside
// it (".<name>.pelotest-<digits>"), syncs it to disk, renames it over the old one and syncs the
// folder, all relative to the open folder, so a link swapped into the folder's path meanwhile
// cannot send the write elsewhere. Anything but a regular file at name (a link, a folder, a FIFO,
// a device) is refused with a reason and left as it is. An existing file keeps its permissions; a
// new one gets 0666 less the umask. Temporary files that a killed save left behind are removed
// first; the temporary file of a running save is never taken or removed by another, so two
// saves of one file at once (threads or programs) each end whole, and the one that renames last
// wins. Returns the reason of a failure (the old file is then as it was and no temporary file
// stays), nullopt on success.
std::optional<std::string> replaceFileAt(const OpenFile& folder, const std::string& name,
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
    std::error_code error_; // declared first: opening the folder sets it
    OpenFile folder_;
};

// The same for a path: its folder is opened (following links there, as any path does), and the
// last component is replaced as replaceFileAt does.
std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes);

} // namespace pelotest
