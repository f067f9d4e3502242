#pragma once
// The host of the headless server: the classic Windows colours, built-in message icons, the
// window title as caption, a fixed column width, no one to ask, and a window placement kept as it
// was read.

#include "state/AppState.h"
#include "state/Host.h"

namespace pelotest {

class HeadlessHost : public ProgramHost {
  public:
    // state gives the caption its language; it is read with the state lock held by the caller.
    explicit HeadlessHost(const AppState& state) : state_(state) {}

    Rgb color(ColorRole role) const override;
    // Built-in 32x32 pictures, embedded with the other built-in pictures.
    IconPixels messageIcon(MessageIcon icon) const override;
    std::string caption() const override REQUIRES(state_.mutex);
    int variableColumnWidth() const override { return 150; }

    void applyPlacement(const WindowPlacement& stored) override { placement_ = stored; }
    WindowPlacement placement() const override { return placement_; }

    // Nobody can answer: the preset value stands.
    std::optional<std::string> askValue(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }

  private:
    const AppState& state_;
    WindowPlacement placement_;
};

} // namespace pelotest
