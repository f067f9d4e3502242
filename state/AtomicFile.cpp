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

// Whether the name still stands for the open file (the same device and file number).
bool namesFile(const OpenFile& folder, const std::string& name, const OpenFile& file) {
    std::error_code error;
    const auto opened = file.status(error);
    const FileStatus named = statusInFolder(folder, name, Links::DoNotFollowLast, error);
    return opened && named.kind == FileKind::Regular &&
           named.identity.device == opened->identity.device &&
           named.identity.inode == opened->identity.inode;
}

// A save that was killed leaves its temporary file behind. Each running save holds a lock on its
// own (the system drops it when the process dies), so a temporary file of this name that can be
// locked belongs to no running save. It is removed while the lock is held, so that the save that
// made it, should it be one that has not yet locked it, sees its file gone (createTemporary).
void removeStaleTemporaries(const OpenFile& folder, const std::string& prefix) {
    for (const std::string& entry : namesInFolder(folder)) {
        if (!isTemporaryOf(entry, prefix))
            continue;
        std::error_code error;
        const OpenFile file = openInFolder(folder, entry, error);
        if (!file.isOpen())
            continue;
        const auto status = file.status(error);
        // Removed only when the name still stands for the file that was locked.
        if (status && status->kind == FileKind::Regular && file.markInUse() &&
            namesFile(folder, entry, file))
            removeInFolder(folder, entry);
    }
}

// A new temporary file of a save, open for writing under a name of its own and locked, which no
// other save can take or remove: creating never opens a file that exists, and a clean-up of
// another save (removeStaleTemporaries) that came between the creation and the lock holds the
// lock itself or has removed the name, so the file is given up and another name tried. Created
// with 0666 so that the umask applies as it would to a file written in place.
OpenFile createTemporary(const OpenFile& folder, const std::string& prefix, std::string& temp,
                         std::error_code& error) {
    std::random_device random;
    error = std::make_error_code(std::errc::file_exists);
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = prefix + std::to_string(random());
        OpenFile file = createInFolder(folder, temp, error);
        if (!file.isOpen() && !alreadyExists(error))
            return {};
        if (!file.isOpen())
            continue;
        if (file.markInUse() && namesFile(folder, temp, file))
            return file;
        // Taken for stale: the clean-up that locked it removes it.
    }
    error = std::make_error_code(std::errc::file_exists);
    return {};
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

    std::string temp;
    OpenFile file = createTemporary(folder, prefix, temp, error);
    if (!file.isOpen())
        return systemError(error);

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
