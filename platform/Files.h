#pragma once
// Files and folders as the program uses them: opened without waiting (a FIFO or a device put in
// a file's place cannot block the reader), without following a link where the caller says so,
// files opened relative to a folder that was opened once (so a link swapped into the folder's
// path afterwards cannot send a read or a write elsewhere), read at an offset, written, synced,
// renamed over another file. Errors are std::error_code: errno's values on Linux, Windows' own
// codes on Windows; missing() tells a missing file on both.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pelotest {

// What tells one file from another, and a file from its earlier self: a replacement (even by
// rename) changes the file number (inode; on Windows the volume serial and file ID), an edit in
// place the size or the times. The caches of pages, templates, language libraries and settings
// values remember what they read by it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNanos = 0; // since the epoch
    std::int64_t changedNanos = 0;
    bool operator==(const FileIdentity&) const = default;

    // Whether the file is old enough to be remembered by its identity: file times come from a
    // clock that advances in ticks of a few milliseconds, so a file changed within the last
    // second could change again without a visible difference.
    bool settled() const;
};

enum class FileKind { Missing, Regular, Folder, Link, Fifo, Device, Other };

struct FileStatus {
    FileKind kind = FileKind::Missing;
    FileIdentity identity;
    // The permission bits (07777); on Windows 0666, or 0444 for a read-only file.
    unsigned permissions = 0;
};

// Whether error says that nothing is there (or a folder on the way is missing or no folder).
bool missing(const std::error_code& error);

// Whether error says that a file of that name exists already.
bool alreadyExists(const std::error_code& error);

// Why a file of this kind is no regular file ("it is a link", ...); nullopt for a regular file.
std::optional<std::string> notARegularFile(FileKind kind);

enum class Links { Follow, DoNotFollowLast };

// An open file or folder; closed when destroyed.
class OpenFile {
  public:
    OpenFile() = default;
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();

    bool isOpen() const;
    void close();

    // What it is now, or nullopt with error set.
    std::optional<FileStatus> status(std::error_code& error) const;
    // Reads up to size bytes at the current position (or at offset); 0 at the end.
    std::optional<std::size_t> read(char* data, std::size_t size, std::error_code& error) const;
    std::optional<std::size_t> readAt(std::uint64_t offset, char* data, std::size_t size,
                                      std::error_code& error) const;
    // Writes every byte, or fails.
    bool writeAll(std::string_view bytes, std::error_code& error) const;
    // Makes what was written durable (for a folder: the names changed in it).
    bool syncToDisk(std::error_code& error) const;
    // Marks the file as in use by this process until it is closed or the process ends; false
    // when another holds the mark.
    bool markInUse() const;
    bool setPermissions(unsigned permissions, std::error_code& error) const;

    // The system's handle: a descriptor on Linux, a HANDLE on Windows.
    std::intptr_t native() const { return handle_; }

  private:
    friend struct OpenFileAccess;
    std::intptr_t handle_ = -1;
    std::filesystem::path folderPath_; // a folder's path, where the system opens by path only
};

// Opens a file for reading; a folder is opened too (status() tells).
OpenFile openForReading(const std::filesystem::path& path, Links links, std::error_code& error);
// Opens a folder, to open, rename and remove files in it.
OpenFile openFolder(const std::filesystem::path& path, std::error_code& error);
// Opens name in folder for reading, without following a link there.
OpenFile openInFolder(const OpenFile& folder, const std::string& name, std::error_code& error);
// Creates name in folder for writing; fails when anything is there. New files get 0666 less
// the umask.
OpenFile createInFolder(const OpenFile& folder, const std::string& name, std::error_code& error);

// The status of name in folder, or of a path; kind Missing when nothing is there.
FileStatus statusInFolder(const OpenFile& folder, const std::string& name, Links links,
                          std::error_code& error);
FileStatus statusOf(const std::filesystem::path& path, Links links, std::error_code& error);

// Renames from over to (replacing a file there) within folder.
bool renameInFolder(const OpenFile& folder, const std::string& from, const std::string& to,
                    std::error_code& error);
void removeInFolder(const OpenFile& folder, const std::string& name);
// The names in folder, without "." and "..".
std::vector<std::string> namesInFolder(const OpenFile& folder);
// The path of an open folder as the system sees it now.
std::optional<std::filesystem::path> pathOfOpenFolder(const OpenFile& folder);

// What the link at path leads to, as written in the link; nullopt when path is no link (on
// Windows: links are not read yet, so a path through one is refused by its callers).
std::optional<std::string> linkTarget(const std::filesystem::path& link);

// Whether this user may write to path (a file or folder), as the system would check it.
bool mayWrite(const std::filesystem::path& path);

// The clock of file times, in nanoseconds since the epoch.
std::int64_t fileClockNanos();

// The system's text for an error code, in the words the program shows.
std::string errorText(const std::error_code& error);

} // namespace pelotest
