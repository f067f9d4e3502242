#pragma once
// Variable references ("/(Kunde)" with the markers VarBefore and VarAfter) filled in from the
// variables list: the one expansion that template lines, the templates folder of a request and
// the folder the desktop asks about all use, each with its own policy.

#include "state/AppState.h"
#include "state/Host.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// What differs between the places that expand references.
struct ReferencePolicy {
    // A name the variables list does not hold becomes a new row with an empty value (while the
    // list has room; a full list takes no more names and the reference still renders empty).
    bool createUnknown = false;
    // With auto-sort on, a Plain row that a reference finds, and a row created for one, are
    // marked Used and placed markBelowPassed rows below the block of Passed rows.
    bool markRows = false;
    std::size_t markBelowPassed = 0;
    // Asked for each reference with the name and the value found (empty for an unknown name);
    // an answer replaces the value for this expansion only, the variable keeps its own.
    std::function<std::optional<std::string>(const std::string& name, const std::string& value)>
        ask{};
};

struct ExpandedReferences {
    std::string text;
    bool found = false; // the text held at least one reference
};

// Replaces the references of text, one name per pass and every reference of that name at once,
// by the row's value without its own references (an unknown name by nothing). A row change sets
// state.variablesChanged and is told to host (when not null): before the user is asked and once
// at the end. Without both markers nothing is a reference.
//
// A value can form a new reference together with the text after it ("x/(A" before a ")"), and
// an answer can hold references of its own, so the expansion could run (and grow) for ever. Each
// pass removes at least one opening marker that the text held at the start, so the text gets as
// many passes as it held opening markers; beyond that, a pass runs only while there were fewer
// than 100 passes in all and the text is no longer than 64 KiB. What is left then stays as it
// stands. Lines and folders of any length and with any number of references written into them
// therefore expand in full; only references that values keep forming again are cut off.
ExpandedReferences expandVariableReferences(AppState& state, Host* host, std::string_view text,
                                            const ReferencePolicy& policy) REQUIRES(state.mutex);

} // namespace pelotest
