#include "platform/Programs.h"

#include "platform/TextCodecs.h"

#include <cstdlib>
#include <string>
#include <windows.h>

#include <shellapi.h> // needs windows.h first

namespace pelotest {

namespace {

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string message(reinterpret_cast<const char16_t*>(text ? text : L""), length);
    ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == u'\n' || message.back() == u'\r' || message.back() == u'.'))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code) : utf8FromUtf16(message);
}

// One argument quoted as the C runtime's parser reads it back.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::wstring wide(const std::string& utf8) {
    const std::u16string text = utf16FromSiteBytes(utf8);
    return std::wstring(text.begin(), text.end());
}

} // namespace

std::optional<std::string> openWithDesktop(const std::string& target) {
    const std::wstring wideTarget = wide(target);
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", wideTarget.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32)
        return systemMessage(static_cast<DWORD>(::GetLastError()));
    return std::nullopt;
}

void openWithDesktopReporting(const std::string& target,
                              std::function<void(const std::optional<std::string>&)> reported) {
    reported(openWithDesktop(target));
}

bool runsAsSuperuser() {
    return false;
}

std::string replaceProcessWith(const std::filesystem::path& program, int argc, char** argv) {
    std::wstring command = quoted(program.wstring());
    for (int i = 1; i < argc; ++i)
        command += L" " + quoted(wide(argv[i]));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process))
        return systemMessage(::GetLastError());
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::exit(static_cast<int>(code));
}

} // namespace pelotest
