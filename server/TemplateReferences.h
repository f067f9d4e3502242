#pragma once
// The variable references of a template line, filled in with the policy of template lines (the
// expansion itself is state/VariableReferences).

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
