#include "state/RegularFile.h"

namespace pelotest {

RegularFile::RegularFile(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return; // the system would read a shorter name
    std::error_code error;
    file_ = openForReading(path, Links::Follow, error);
    if (!file_.isOpen()) {
        const bool gone = missing(error) || error == std::errc::filename_too_long ||
                          error == std::errc::too_many_symbolic_link_levels;
        std::error_code statusError;
        const FileStatus there = gone ? FileStatus{} : statusOf(path, Links::Follow, statusError);
        if (there.kind == FileKind::Missing)
            status_ = Status::Missing;
        else
            status_ = there.kind == FileKind::Regular ? Status::Unreadable : Status::NotRegular;
        return;
    }
    const auto status = file_.status(error);
    if (!status || status->kind != FileKind::Regular) {
        status_ = Status::NotRegular;
        file_.close();
        return;
    }
    status_ = Status::Open;
    identity_ = status->identity;
}

RegularFile::~RegularFile() = default;

std::optional<std::string> RegularFile::readAll(std::uint64_t largest) const {
    if (!file_.isOpen() || identity_.size > largest)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(identity_.size), '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > largest)
                return std::nullopt;
            bytes.resize(got + 64 * 1024); // the file grew since it was opened: read to its end
        }
        std::error_code error;
        const auto n = file_.readAt(got, bytes.data() + got, bytes.size() - got, error);
        if (!n)
            return std::nullopt;
        if (*n == 0)
            break;
        got += *n;
    }
    if (got > largest)
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

FileRead readRegularFile(const std::filesystem::path& path) {
    FileRead read;
    // Without waiting, so that a FIFO does not wait for a writer; no link in the last place.
    std::error_code error;
    const OpenFile file = openForReading(path, Links::DoNotFollowLast, error);
    if (!file.isOpen()) {
        if (missing(error)) { // nothing there (or no folder on the way)
            read.outcome = FileRead::Outcome::Missing;
        } else {
            read.outcome = FileRead::Outcome::Refused;
            // Opening a link without following it fails: say so in plain words.
            std::error_code statusError;
            const FileStatus there = statusOf(path, Links::DoNotFollowLast, statusError);
            const auto refusal = there.kind != FileKind::Missing ? notARegularFile(there.kind)
                                                                 : std::optional<std::string>();
            read.reason = refusal ? *refusal : errorText(error);
        }
        return read;
    }
    const auto status = file.status(error);
    const auto refusal = status ? notARegularFile(status->kind) : errorText(error);
    if (refusal) {
        read.outcome = FileRead::Outcome::Refused;
        read.reason = *refusal;
        return read;
    }
    read.bytes.reserve(static_cast<std::size_t>(status->identity.size));
    char block[65536];
    for (;;) {
        const auto n = file.read(block, sizeof block, error);
        if (!n) {
            read.outcome = FileRead::Outcome::Refused;
            read.reason = errorText(error);
            read.bytes.clear();
            break;
        }
        if (*n == 0)
            break;
        read.bytes.append(block, *n);
    }
    return read;
}

} // namespace pelotest
