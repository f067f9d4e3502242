#include "platform/Files.h"

#include "platform/TextCodecs.h"

#include <utility>
#include <windows.h>

namespace fs = std::filesystem;

// Windows opens files by path only (no openat): a folder opened here remembers the path the
// system resolved it to when it was opened, and files in it are opened by that path, never by
// the one the caller gave. A reparse point (link, junction) in the last place is opened as
// itself, not followed, where the caller says so.

namespace pelotest {

struct OpenFileAccess {
    static OpenFile make(HANDLE handle, fs::path folderPath = {}) {
        OpenFile file;
        file.handle_ = reinterpret_cast<std::intptr_t>(handle);
        file.folderPath_ = std::move(folderPath);
        return file;
    }
    static const fs::path& folderPath(const OpenFile& file) { return file.folderPath_; }
    static void setFolderPath(OpenFile& file, fs::path path) { file.folderPath_ = std::move(path); }
};

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// From 1601-01-01 (Windows' file times) to 1970-01-01, in 100 ns ticks.
constexpr std::int64_t kEpochTicks = 116'444'736'000'000'000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::error_code lastError() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

HANDLE handleOf(const OpenFile& file) {
    return reinterpret_cast<HANDLE>(file.native());
}

std::int64_t nanosOf(const FILETIME& time) {
    const std::int64_t ticks =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - kEpochTicks) * 100;
}

fs::path pathIn(const OpenFile& folder, const std::string& name) {
    const std::u16string wide = utf16FromSiteBytes(name);
    return OpenFileAccess::folderPath(folder) / fs::path(std::wstring(wide.begin(), wide.end()));
}

std::optional<FileStatus> statusOfHandle(HANDLE handle, std::error_code& error) {
    FileStatus status;
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_CHAR) {
        status.kind = FileKind::Device;
        return status;
    }
    if (type == FILE_TYPE_PIPE) {
        status.kind = FileKind::Fifo;
        return status;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        error = lastError();
        return std::nullopt;
    }
    FILE_BASIC_INFO basic{};
    std::int64_t changed = nanosOf(info.ftLastWriteTime);
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        changed = (basic.ChangeTime.QuadPart - kEpochTicks) * 100;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        status.kind = FileKind::Link;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        status.kind = FileKind::Folder;
    else
        status.kind = FileKind::Regular;
    status.identity =
        FileIdentity{info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                     (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                     nanosOf(info.ftLastWriteTime), changed};
    status.permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return status;
}

OpenFile openPath(const fs::path& path, DWORD access, DWORD disposition, DWORD flags,
                  std::error_code& error) {
    const HANDLE handle =
        ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return {};
    }
    error.clear();
    return OpenFileAccess::make(handle);
}

FileStatus statusOfPath(const fs::path& path, Links links, std::error_code& error) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (links == Links::DoNotFollowLast)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    const OpenFile file = openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags, error);
    if (!file.isOpen())
        return {};
    const auto status = statusOfHandle(handleOf(file), error);
    return status ? *status : FileStatus{};
}

} // namespace

bool FileIdentity::settled() const {
    return fileClockNanos() - std::max(modifiedNanos, changedNanos) >= kNanosPerSecond;
}

bool missing(const std::error_code& error) {
    if (error.category() != std::system_category())
        return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    switch (error.value()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
        return true;
    default:
        return false;
    }
}

bool alreadyExists(const std::error_code& error) {
    if (error.category() != std::system_category())
        return error == std::errc::file_exists;
    return error.value() == ERROR_FILE_EXISTS || error.value() == ERROR_ALREADY_EXISTS;
}

OpenFile::OpenFile(OpenFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), folderPath_(std::move(other.folderPath_)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, -1);
        folderPath_ = std::move(other.folderPath_);
    }
    return *this;
}

OpenFile::~OpenFile() {
    close();
}

bool OpenFile::isOpen() const {
    return handle_ != -1;
}

void OpenFile::close() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)));
}

std::optional<FileStatus> OpenFile::status(std::error_code& error) const {
    return statusOfHandle(handleOf(*this), error);
}

std::optional<std::size_t> OpenFile::read(char* data, std::size_t size,
                                          std::error_code& error) const {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(handleOf(*this), data, want, &got, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        error = lastError();
        return std::nullopt;
    }
    return got;
}

std::optional<std::size_t> OpenFile::readAt(std::uint64_t offset, char* data, std::size_t size,
                                            std::error_code& error) const {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(handleOf(*this), data, want, &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        error = lastError();
        return std::nullopt;
    }
    return got;
}

bool OpenFile::writeAll(std::string_view bytes, std::error_code& error) const {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(handleOf(*this), bytes.data(), want, &written, nullptr) || written == 0) {
            error = lastError();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool OpenFile::syncToDisk(std::error_code& error) const {
    // A folder's names are made durable by the file system itself (NTFS logs them); Windows
    // has no call for it.
    if (!folderPath_.empty())
        return true;
    if (::FlushFileBuffers(handleOf(*this)))
        return true;
    error = lastError();
    return false;
}

bool OpenFile::markInUse() const {
    OVERLAPPED at{};
    return ::LockFileEx(handleOf(*this), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                        0, &at) != 0;
}

bool OpenFile::setPermissions(unsigned permissions, std::error_code& error) const {
    // Windows keeps one bit of them: read-only.
    if ((permissions & 0222) != 0)
        return true;
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handleOf(*this), FileBasicInfo, &basic, sizeof basic)) {
        error = lastError();
        return false;
    }
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (::SetFileInformationByHandle(handleOf(*this), FileBasicInfo, &basic, sizeof basic))
        return true;
    error = lastError();
    return false;
}

OpenFile openForReading(const fs::path& path, Links links, std::error_code& error) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (links == Links::DoNotFollowLast)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return openPath(path, GENERIC_READ, OPEN_EXISTING, flags, error);
}

OpenFile openFolder(const fs::path& path, std::error_code& error) {
    OpenFile folder = openPath(path.empty() ? fs::path(L".") : path, FILE_LIST_DIRECTORY,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, error);
    if (!folder.isOpen())
        return folder;
    const auto where = pathOfOpenFolder(folder);
    std::error_code statusError;
    const auto status = folder.status(statusError);
    if (!where || !status || status->kind != FileKind::Folder) {
        error = std::make_error_code(std::errc::not_a_directory);
        return {};
    }
    OpenFileAccess::setFolderPath(folder, *where);
    return folder;
}

OpenFile openInFolder(const OpenFile& folder, const std::string& name, std::error_code& error) {
    return openPath(pathIn(folder, name), GENERIC_READ, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, error);
}

OpenFile createInFolder(const OpenFile& folder, const std::string& name, std::error_code& error) {
    return openPath(pathIn(folder, name), GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, error);
}

FileStatus statusInFolder(const OpenFile& folder, const std::string& name, Links links,
                          std::error_code& error) {
    return statusOfPath(pathIn(folder, name), links, error);
}

FileStatus statusOf(const fs::path& path, Links links, std::error_code& error) {
    return statusOfPath(path, links, error);
}

bool renameInFolder(const OpenFile& folder, const std::string& from, const std::string& to,
                    std::error_code& error) {
    if (::MoveFileExW(pathIn(folder, from).c_str(), pathIn(folder, to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = lastError();
    return false;
}

void removeInFolder(const OpenFile& folder, const std::string& name) {
    ::DeleteFileW(pathIn(folder, name).c_str());
}

std::vector<std::string> namesInFolder(const OpenFile& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry{};
    const fs::path pattern = OpenFileAccess::folderPath(folder) / L"*";
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(utf8FromUtf16(std::u16string(name.begin(), name.end())));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

std::optional<fs::path> pathOfOpenFolder(const OpenFile& folder) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handleOf(folder), buffer.data(),
                                        static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(length + 1);
    }
    // "\\?\C:\..." as the plain "C:\..." that the program compares with its folders.
    if (buffer.starts_with(L"\\\\?\\UNC\\"))
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.starts_with(L"\\\\?\\"))
        buffer = buffer.substr(4);
    return fs::path(buffer);
}

std::optional<std::string> linkTarget(const fs::path&) {
    return std::nullopt;
}

bool mayWrite(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        const fs::path probe =
            path / (L".pelotest-probe-" + std::to_wstring(::GetCurrentProcessId()));
        const HANDLE file =
            ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        ::CloseHandle(file);
        return true;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return false;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::int64_t fileClockNanos() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return nanosOf(now);
}

std::string errorText(const std::error_code& error) {
    if (error.category() != std::system_category())
        return error.message();
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    std::u16string message(reinterpret_cast<const char16_t*>(text ? text : L""), length);
    ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == u'\n' || message.back() == u'\r' || message.back() == u'.'))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(error.value())
                           : utf8FromUtf16(message);
}

} // namespace pelotest
