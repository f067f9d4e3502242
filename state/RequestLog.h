#pragma once
// The request log: newest row first, bounded by MaxLog one row per insertion.

#include <cstddef>
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
    bool operator==(const LogEntry&) const = default;
};

class RequestLog {
  public:
    // Inserts at position 0, then removes the oldest row when more than maxLog.
    void add(LogEntry entry, int maxLog);
    // Appends an old row at the end (loading), keeping at most maxLog rows.
    void appendLoaded(LogEntry entry, int maxLog);
    void remove(std::size_t index);
    void clear() { rows_.clear(); }

    const std::deque<LogEntry>& rows() const { return rows_; }
    std::size_t size() const { return rows_.size(); }

  private:
    std::deque<LogEntry> rows_;
};

} // namespace pelotest
