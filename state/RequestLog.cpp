#include "state/RequestLog.h"

#include <utility>

namespace pelotest {

void RequestLog::add(LogEntry entry, int maxLog) {
    rows_.push_front(std::move(entry));
    ++insertions_;
    // At most one row goes per insertion: a lowered limit stops the log from growing but does
    // not shorten it.
    if (rows_.size() > static_cast<std::size_t>(maxLog < 0 ? 0 : maxLog))
        rows_.pop_back();
}

void RequestLog::appendLoaded(LogEntry entry, int maxLog) {
    // Restored rows beyond the limit are dropped; the newest rows come first in the file.
    if (rows_.size() < static_cast<std::size_t>(maxLog < 0 ? 0 : maxLog))
        rows_.push_back(std::move(entry));
}

void RequestLog::remove(std::size_t index) {
    if (index < rows_.size())
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
}

} // namespace pelotest
