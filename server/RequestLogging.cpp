#include "server/RequestLogging.h"

#include <chrono>
#include <utility>

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) {
    state.log.add(std::move(entry), clampToField(state.settings.maxLog));
    state.logChanged = true;
    host.logChanged();
}

void addLogEntry(Exchange& ex, LogEntry entry) {
    using namespace std::chrono;
    entry.loggedAt = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    entry.document = ex.request.document;
    entry.query = ex.request.rawQuery;
    addLogEntry(ex.state, ex.host, std::move(entry));
}

} // namespace pelotest
