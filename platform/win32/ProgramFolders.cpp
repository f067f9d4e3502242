#include "platform/ProgramFolders.h"

#include <string>
#include <windows.h>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

fs::path applicationData() {
    // %APPDATA% as the environment names it (a user may move it); the profile's folder else.
    wchar_t value[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", value, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        return fs::path(std::wstring(value, length));
    const DWORD profile = ::GetEnvironmentVariableW(L"USERPROFILE", value, MAX_PATH + 1);
    if (profile > 0 && profile <= MAX_PATH)
        return fs::path(std::wstring(value, profile)) / L"AppData" / L"Roaming";
    return fs::current_path();
}

} // namespace

fs::path runningExecutable() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return fs::path(buffer);
        }
        buffer.resize(buffer.size() * 2); // cut short: try a longer buffer
    }
}

bool folderIsWritable(const fs::path& folder) {
    // The access rights of a folder on Windows are an ACL that no mode bit shows: a file created
    // and removed at once is the only sure answer.
    const fs::path probe =
        folder / (L".pelotest-probe-" + std::to_wstring(::GetCurrentProcessId()));
    const HANDLE file =
        ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

fs::path userSettingsFolder() {
    return applicationData() / L"PeloTest";
}

fs::path userDataFolder() {
    return applicationData() / L"PeloTest";
}

fs::path settingsFileNameBeside(const fs::path& executable) {
    fs::path name = executable.stem();
    if (name.empty())
        name = L"pelotest";
    name += L".ini";
    return name;
}

} // namespace pelotest
