#include "state/AtomicFile.h"

#include <algorithm>
#include <random>
#include <vector>

namespace pelotest {

namespace {

std::string systemError(const std::error_code& error) {
    return errorText(error);
}

std::string systemError(std::errc error) {
    return errorText(std::make_error_code(error));
}

// A temporary file of a save: "." + the file's name (cut, so that the temporary name stays
// within the limit of a name) + ".pelotest-" + digits.
constexpr std::string_view kTemporaryMark = ".pelotest-";
constexpr std::size_t kMaxNameInTemporary = 100;

std::string temporaryPrefix(const std::string& name) {
    return "." + name.substr(0, kMaxNameInTemporary) + std::string(kTemporaryMark);
}

bool isTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix)
        return false;
    return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A save that was killed leaves its temporary file behind. Each running save holds a lock on its
// own (the kernel drops it when the process dies), so a temporary file of this name that can be
// locked belongs to no running save and is removed.
void removeStaleTemporaries(const OpenFile& folder, const std::string& prefix) {
    std::vector<std::string> stale;
    for (const std::string& entry : namesInFolder(folder)) {
        if (!isTemporaryOf(entry, prefix))
            continue;
        std::error_code error;
        const OpenFile file = openInFolder(folder, entry, error);
        if (!file.isOpen())
            continue;
        const auto status = file.status(error);
        if (status && status->kind == FileKind::Regular && file.markInUse())
            stale.push_back(entry);
    }
    for (const std::string& entry : stale)
        removeInFolder(folder, entry);
}

} // namespace

std::optional<std::string> replaceFileAt(const OpenFile& folder, const std::string& name,
                                         std::string_view bytes) {
    std::error_code error;
    const FileStatus old = statusInFolder(folder, name, Links::DoNotFollowLast, error);
    const bool exists = old.kind != FileKind::Missing;
    if (!exists && error && !missing(error))
        return systemError(error);
    // What stands at the name is replaced only when it is a regular file: a link there may lead
    // to a file of somebody else's, a FIFO or device was put there on purpose.
    if (exists)
        if (auto refusal = notARegularFile(old.kind))
            return refusal;
    const bool keepMode = exists;
    const std::string prefix = temporaryPrefix(name);
    removeStaleTemporaries(folder, prefix);

    // A new name each try; creating never reuses a file that exists. Created with 0666 so that
    // the umask applies as it would to a file written in place.
    std::random_device random;
    std::string temp;
    OpenFile file;
    for (int attempt = 0; attempt < 16 && !file.isOpen(); ++attempt) {
        temp = prefix + std::to_string(random());
        file = createInFolder(folder, temp, error);
        if (!file.isOpen() && !alreadyExists(error))
            return systemError(error);
    }
    if (!file.isOpen())
        return systemError(std::errc::file_exists);
    // Marks the temporary file as in use until the rename (see removeStaleTemporaries).
    file.markInUse();

    bool ok = !keepMode || file.setPermissions(old.permissions, error);
    ok = ok && file.writeAll(bytes, error);
    ok = ok && file.syncToDisk(error);
    ok = ok && renameInFolder(folder, temp, name, error);
    if (!ok)
        removeInFolder(folder, temp);
    // The data reached the disk before the rename, so closing cannot lose it any more.
    file.close();
    if (ok) {
        std::error_code ignored;
        (void)folder.syncToDisk(ignored); // makes the rename itself durable
    }
    return ok ? std::nullopt : std::optional<std::string>(systemError(error));
}

FolderHandle::FolderHandle(const std::filesystem::path& folder)
    : folder_(openFolder(folder, error_)) {}

FolderHandle::~FolderHandle() = default;

std::optional<std::string> FolderHandle::replace(const std::string& name,
                                                 std::string_view bytes) const {
    if (!folder_.isOpen())
        return systemError(error_);
    return replaceFileAt(folder_, name, bytes);
}

std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes) {
    if (!path.has_filename())
        return systemError(std::errc::is_a_directory);
    return FolderHandle(path.parent_path()).replace(path.filename().string(), bytes);
}

} // namespace pelotest
