#pragma once
// Variable references in template lines and folder names.

#include "state/AppState.h"
#include "state/Host.h"

#include <string>
#include <string_view>

namespace pelotest {

// ExpandReferences on one template line: unknown names are created (empty value), referenced
// Plain rows marked Used at LeadingPassedCount while auto-sort is on. Sets variablesChanged
// (and notifies host) when rows change.
std::string expandReferences(AppState& state, Host& host, std::string_view line)
    REQUIRES(state.mutex);

} // namespace pelotest
