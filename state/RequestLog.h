#pragma once
// The request log: newest row first, bounded by MaxLog one row per insertion.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace pelotest {

namespace LogKind {
inline constexpr int Unassigned = 2; // unassigned-event page
inline constexpr int Template = 3;   // rendered template
inline constexpr int StaticPage = 8; // static .htm/.html/.js/.css
inline constexpr int Assigned = 9;   // template assigned through SetTemplate.html
inline constexpr int StartSite = 10; // start page set through SetStartSite.html
inline constexpr int NotFound = 11;  // not-found page
} // namespace LogKind

struct LogEntry {
    int kind = -1;
    std::string fileName;
    std::string event;
    std::string title;
    std::string filePath;
    // The request behind the row, so that identical rows can be told apart and the page asked
    // for again: when it came (milliseconds since 1970, UTC), its path as decoded and its query
    // as sent (without '?'). The settings file keeps none of them: a loaded row has 0 and empty.
    std::int64_t loggedAt = 0;
    std::string document{};
    std::string query{};
    // Rows compare by what they say about the file and the event, not by when or how they were
    // asked for (the settings file keeps only that, and a row reads the same when loaded).
    bool operator==(const LogEntry& other) const {
        return kind == other.kind && fileName == other.fileName && event == other.event &&
               title == other.title && filePath == other.filePath;
    }
};

class RequestLog {
  public:
    // Inserts at position 0, then removes the oldest row when more than maxLog.
    void add(LogEntry entry, int maxLog);
    // Appends an old row at the end (loading), keeping at most maxLog rows.
    void appendLoaded(LogEntry entry, int maxLog);
    void remove(std::size_t index);
    void clear() { rows_.clear(); }
    // Takes other's rows (a log read from the settings file) and gives it these; the count of
    // insertions stays this log's, so views that follow it see a replacement, not new rows.
    void replaceRows(RequestLog& other) { rows_.swap(other.rows_); }

    const std::deque<LogEntry>& rows() const { return rows_; }
    std::size_t size() const { return rows_.size(); }
    // How many rows add() has inserted since the log was made: a view that remembers the count
    // knows how many rows came in at the top since it last looked, even when the limit removed
    // as many at the bottom.
    std::uint64_t insertions() const { return insertions_; }

  private:
    std::deque<LogEntry> rows_;
    std::uint64_t insertions_ = 0;
};

} // namespace pelotest
