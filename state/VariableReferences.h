#pragma once
// Variable references ("/(Kunde)" with the markers VarBefore and VarAfter) filled in from the
// variables list: the one expansion that template lines, the templates folder of a request and
// the folder the desktop asks about all use, each with its own policy.

#include "state/AppState.h"
#include "state/Host.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The references of a text found once, for text that is expanded again and again with the same
// markers (the lines of a template).
struct TextReferences {
    enum class Kind {
        // Expansion leaves the text as it is and changes nothing: it holds no opening marker, or
        // no closing marker follows its first one.
        Literal,
        // References that appendPlannedExpansion can fill in from the pieces below.
        Planned,
        // Anything else (an opening marker inside a name or after the last reference, ...): only
        // expandVariableReferences itself expands it.
        General,
    };
    struct Piece {
        std::uint32_t at = 0, size = 0; // within text
    };
    struct Reference {
        std::uint32_t name = 0; // index into names
        // Whether an empty value here still leaves the text around it unable to form an opening
        // marker: a byte next to it, in the text itself, belongs to no opening marker.
        bool emptyIsInert = false;
    };
    Kind kind = Kind::Literal;
    std::string text;
    // Planned texts: literals[0] references[0] literals[1] ... references[n-1] literals[n], and
    // the names the references spell, each spelling once, in the order they first appear.
    std::vector<Piece> literals;
    std::vector<Reference> references;
    std::vector<Piece> names;
};
TextReferences findTextReferences(std::string_view text, std::string_view before,
                                  std::string_view after);

// What appendPlannedExpansion looks up once per name; kept by the caller between texts so that
// expanding a template allocates it once.
struct PlannedLookup {
    // The opening marker's bytes, for the test of every value's first and last byte.
    std::string markerBytesOf;
    std::bitset<256> markerBytes;
    struct Name {
        std::optional<std::size_t> row;
        std::string_view value; // the row's value without references (valid until rows change)
        std::string stripped;   // holds it when the row's value held a reference
    };
    std::vector<Name> names;
};

// The rows the names of one planned text were found in, kept with the text from one expansion to
// the next for as long as the variables list gives every name the same row
// (VariableTable::generation), so that expanding the same text again looks no name up.
struct RememberedRows {
    static constexpr std::size_t kUnknown = SIZE_MAX; // the list holds no row of that name
    std::uint64_t generation = 0;                     // 0: nothing remembered yet
    std::vector<std::size_t> rows;                    // one per name of the text
    // VariableTable::valuesGeneration when every value of these rows was last found to stand in
    // the text as it is (no reference in it, no marker byte at its ends); 0: not known.
    std::uint64_t plainValues = 0;
};

// Appends the template-line expansion of text (expandVariableReferences with createUnknown and
// markRows, no question) to out, when before and after are the markers text was planned for and
// the values at hand cannot form a marker with what surrounds them: a value that holds no opening
// marker and neither begins nor ends with one of its bytes, or an empty value where the text
// beside it cannot join into one. Every pass of the general expansion then finds the next name
// written in the text, so both give the same text and the same changes in the same order: rows
// marked Used (placed by the next VariableTable::placeUsedRows or change of the order), unknown
// names created, variablesChanged set and told to host once. Returns false, having appended and
// changed nothing, when a value does not allow it. With remembered (which belongs to this text
// and these markers), the rows found are kept there and taken from there while they hold.
bool appendPlannedExpansion(AppState& state, Host* host, const TextReferences& text,
                            std::string& out, PlannedLookup& lookup,
                            RememberedRows* remembered = nullptr) REQUIRES(state.mutex);

} // namespace pelotest
