#pragma once
// The variables list: an ordered list of rows (name, value, mark) with a lookup by name that
// ignores case and yields the first row in list order.

#include <boost/unordered/unordered_flat_map.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

enum class Mark { Plain, Passed, Used };

struct Variable {
    std::string name;
    std::string value;
    Mark mark = Mark::Plain;
};

// How large the list may grow through requests: rows, and bytes of all names and values.
// Loading a settings file is not bounded by them; requests that would pass them are refused.
struct VariableLimits {
    std::size_t maxRows = 1'000'000;
    std::size_t maxBytes = 64 * 1024 * 1024;
};

// One request parameter: the text before the first '=' and the text after it.
struct Parameter {
    std::string name;
    std::string value;
};

class VariableTable {
  public:
    // The index of the first row whose name equals name ignoring case.
    std::optional<std::size_t> find(std::string_view name) const;
    // When target < index of the last row, the row is re-inserted before the row
    // at target and removed from its old place; otherwise nothing moves.
    void move(std::size_t index, std::size_t target);
    // How many rows from the top are marked passed.
    std::size_t leadingPassedCount() const;
    // The row marks of auto-sort (callers check VariablesAutoSort).
    void resetMarks();
    // Whether any row is not Plain.
    bool anyMarked() const;
    void markPassed(std::size_t index);
    void markUsed(std::size_t index, std::size_t target);
    // Marks the row Used as markUsed(index, leadingPassedCount()) does, but leaves the move to
    // placeUsedRows: a request that marks many rows then moves the rows it marked once, instead
    // of shifting the rows above them once per mark. Until then every row keeps its place, so
    // the indexes that find gives stay valid. Any other change of the order places them first.
    void markUsedLater(std::size_t index);
    // Moves the rows marked by markUsedLater to where one markUsed per mark, in the same order,
    // would have put them: the row marked last just below the leading Passed rows.
    void placeUsedRows();
    // Appends a Plain row; returns its index.
    std::size_t add(std::string name, std::string value);
    // Makes room for rows in all, so that loading a large list does not grow it step by step.
    void reserve(std::size_t rows);
    // Replaces the list by these rows as Plain rows, in this order: what clear() and one add()
    // per row give, in one pass (a settings file of 100,000 variables is read on every start).
    void assignLoaded(std::vector<Variable> rows);

    void setValue(std::size_t index, std::string value);
    void setName(std::size_t index, std::string name);
    void remove(std::size_t index);
    void clear();
    // Replaces the whole order (used by sorting); rows must be a permutation of the current.
    void assign(std::vector<Variable> rows);
    // Puts the rows in this order: order[i] is the index of the row that goes to place i, and
    // order holds every index once. Names, values and marks move with their rows, so the lookup
    // by name needs no rebuilding (sorting 100,000 rows reorders them in one pass).
    void reorder(const std::vector<std::size_t>& order);

    // What a request's parameters would change, without changing anything: rows added and bytes
    // of names and values afterwards.
    struct Growth {
        std::size_t rows = 0;
        std::size_t bytes = 0;
    };
    Growth afterParameters(const std::vector<Parameter>& params) const;
    // Sets every parameter in order: the first row of its name (ignoring case) takes the value,
    // or a row is added. With autoSort, a found row is marked Passed and goes to the top, and an
    // added row is marked Used and goes just below the leading Passed rows, exactly as
    // markPassed / markUsed(add(...), leadingPassedCount()) one parameter after the other would
    // place them, but in O(n log n + rows that move) for n parameters.
    void applyParameters(std::vector<Parameter> params, bool autoSort);

    void setLimits(VariableLimits limits) { limits_ = limits; }
    const VariableLimits& limits() const { return limits_; }
    // Whether the list stays within its limits with this many rows and bytes in total.
    bool withinLimits(std::size_t rows, std::size_t bytes) const {
        return rows <= limits_.maxRows && bytes <= limits_.maxBytes;
    }
    // Bytes of all names and values.
    std::size_t bytes() const { return bytes_; }

    // Changes whenever find could give another answer for some name: a row added, removed,
    // renamed or moved, the list replaced. New values and marks leave it as it is. Every table
    // draws its numbers from one counter for the whole program, so a number seen with one table
    // never stands for a state of another (a copy starts with the number of the rows it copied).
    // Callers that looked names up may keep the rows while the number stays the same.
    std::uint64_t generation() const { return generation_.value; }
    // The same for the values: changes whenever setValue gives a row another value (applying
    // parameters included). Values at unchanged indexes are as they were while both numbers stay.
    std::uint64_t valuesGeneration() const { return valuesGeneration_.value; }

    const std::vector<Variable>& rows() const { return rows_; }
    const Variable& operator[](std::size_t index) const { return rows_[index]; }
    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }

  private:
    // A table's generation; the table a move leaves behind gets a new one, since its rows are gone.
    struct Generation {
        static std::uint64_t next();
        std::uint64_t value = next();
        Generation() = default;
        Generation(const Generation&) = default;
        Generation& operator=(const Generation&) = default;
        Generation(Generation&& other) noexcept : value(other.value) { other.value = next(); }
        Generation& operator=(Generation&& other) noexcept {
            value = other.value;
            other.value = next();
            return *this;
        }
        ~Generation() = default;
    };
    void rowsChanged() { generation_.value = Generation::next(); }
    void valuesChanged() { valuesGeneration_.value = Generation::next(); }

    void rotateRow(std::size_t from, std::size_t to);
    void renumber(std::size_t from, std::size_t to);
    std::uint32_t newId(std::size_t position);
    void indexName(const std::string& name, std::uint32_t id);
    void unindexName(const std::string& name, std::uint32_t id);

    std::vector<Variable> rows_;
    std::size_t bytes_ = 0;
    Generation generation_;
    Generation valuesGeneration_;
    VariableLimits limits_;
    // Lookup index beside the list: a stable id per row (ids_ in list order), the current
    // position of each id, ids free for reuse, and case-folded name -> ids of that name.
    std::vector<std::uint32_t> ids_;
    std::vector<std::size_t> position_;
    std::vector<std::uint32_t> freeIds_;
    // The ids of the rows of one name: nearly always one, held without an allocation of its own
    // (a list of 100,000 names would otherwise make 100,000 more at start-up).
    struct NameIds {
        std::uint32_t first = 0;
        std::vector<std::uint32_t> more;
    };
    // Keyed by the case-folded name; looked up by any spelling without making a folded copy.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    // Open addressing: the entries lie in one array, so 100,000 names cost no allocation each.
    boost::unordered_flat_map<std::string, NameIds, FoldedHash, FoldedEqual> index_;
    // Rows marked by markUsedLater and not yet placed (ids, in the order of marking), and the
    // count of leading Passed rows they are placed below (which no mark of a later row changes).
    std::vector<std::uint32_t> usedLater_;
    std::size_t usedLaterBelow_ = 0;
    // Room placeUsedRows works in, kept so that a request does not allocate it anew.
    std::vector<std::size_t> placeOrder_;
    std::vector<char> placeTaken_;
    std::vector<Variable> placeRows_;
    std::vector<std::uint32_t> placeIds_;
    // Ids of the rows marked since the last reset (each row once; an id may be stale after a
    // removal), so that resetting costs the marked rows, not the whole list.
    std::vector<std::uint32_t> markedIds_;
    void noteMarked(std::size_t index);
    std::optional<std::size_t> positionOfId(std::uint32_t id) const;
};

// StripVariableReferences: removes every reference before...after from value (never expands).
std::string stripVariableReferences(std::string_view value, std::string_view before,
                                    std::string_view after);

} // namespace pelotest
