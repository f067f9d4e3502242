#include "server/RequestLogging.h"

#include <algorithm>
#include <utility>

namespace pelotest {

namespace {
// The log limit as the settings field allows it; a hand-edited file may hold anything.
constexpr int kMinLog = 2;
constexpr int kMaxLog = 9999;
} // namespace

void addLogEntry(AppState& state, Host& host, LogEntry entry) {
    state.log.add(std::move(entry), std::clamp(state.settings.MaxLog, kMinLog, kMaxLog));
    state.LogChanged = true;
    host.logChanged();
}

} // namespace pelotest
