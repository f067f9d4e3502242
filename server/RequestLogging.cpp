#include "server/RequestLogging.h"

#include <utility>

namespace pelotest {

void addLogEntry(AppState& state, Host& host, LogEntry entry) {
    state.log.add(std::move(entry), clampToField(state.settings.maxLog));
    state.logChanged = true;
    host.logChanged();
}

} // namespace pelotest
