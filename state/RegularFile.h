#pragma once
// The two ways the program reads a file as a whole, both without waiting, so that a FIFO or a
// device put in a file's place cannot block the reader (and every request waiting for the state
// lock it holds), and only when the descriptor turns out to be a regular file, so that what is
// read is what was checked: RegularFile for the site's files (templates, pages, language
// libraries), whose links are followed; readRegularFile for the program's own files (the
// settings file), which are never read through a link, as they are never written through one.

#include "state/FileIdentity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pelotest {

class RegularFile {
  public:
    enum class Status {
        Open,       // a regular file, ready to read
        Missing,    // nothing there (or a path through something that is no folder)
        NotRegular, // a folder, FIFO, device or socket
        Unreadable, // a regular file that cannot be opened (permissions, say)
    };

    // Opens path for reading, links followed.
    explicit RegularFile(const std::string& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    Status status() const { return status_; }
    bool isOpen() const { return status_ == Status::Open; }
    // Of the open file (zeros otherwise).
    const FileIdentity& identity() const { return identity_; }

    // The file's bytes from the start to its end (also when it grew since it was opened);
    // nullopt when it is not open, holds more than largest bytes, or a read fails.
    std::optional<std::string> readAll(std::uint64_t largest = UINT64_MAX) const;

  private:
    OpenFile file_;
    Status status_ = Status::Missing;
    FileIdentity identity_;
};

// A whole file read without waiting and without following a link in the last place: a FIFO, a
// device, a folder or a link there is refused at once (fstat of the opened file).
struct FileRead {
    enum class Outcome { Read, Missing, Refused };
    Outcome outcome = Outcome::Read;
    std::string bytes;
    std::string reason; // why it was refused
};
FileRead readRegularFile(const std::filesystem::path& path);

} // namespace pelotest
