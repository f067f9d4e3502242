#include "platform/StopRequests.h"

#include <windows.h>

namespace pelotest {

namespace {

// The console handler runs on a thread of the system's; these events join it to the program.
// They are process-wide because the handler gets no context pointer.
HANDLE requested = nullptr;
HANDLE done = nullptr;

// Windows gives a handler 5 s after a closed console and 20 s at logoff or shutdown; it ends the
// process when the handler returns. Waiting a little less than the shorter limit leaves the save
// its time without being cut by the system.
constexpr DWORD kSaveWaitMillis = 4500;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        ::SetEvent(requested);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ::SetEvent(requested);
        ::WaitForSingleObject(done, kSaveWaitMillis);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

StopRequests::StopRequests() {
    requested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

void StopRequests::wait() {
    ::WaitForSingleObject(requested, INFINITE);
    ::ResetEvent(requested);
}

void StopRequests::finished() {
    ::SetEvent(done);
}

} // namespace pelotest
