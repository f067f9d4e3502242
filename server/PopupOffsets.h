#pragma once
// The pop-up offsets a page needs, as the settings file holds them at each request.

#include "state/AppState.h"

namespace pelotest {

// Where the pop-ups open: SiteLogHorizontal and SiteLogVertical of [Const] as the settings file
// on disk holds them (so a hand edit shows at the next page). The file is looked at the first use,
// once for both values, and kept for the object's lifetime: one request. The values read are
// kept beside the file's identity (device, inode, size, times): while the file stays the same
// file, later pages take them without reading it again. Only the settings file's path is taken
// from state (fixed before the server starts).
class PopupOffsets {
  public:
    explicit PopupOffsets(const AppState& state) : state_(state) {}

    long long horizontal() const {
        read();
        return horizontal_;
    }
    long long vertical() const {
        read();
        return vertical_;
    }

  private:
    void read() const;

    const AppState& state_;
    mutable bool read_ = false;
    mutable long long horizontal_ = 10;
    mutable long long vertical_ = 58;
};

} // namespace pelotest
