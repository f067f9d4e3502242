#pragma once
// The host of the headless server: the classic Windows colours, built-in message icons, the
// window title as caption, a fixed column width, no one to ask, and a window placement kept as it
// was read.

#include "state/AppState.h"
#include "state/Host.h"

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace pelotest {

class HeadlessHost : public ProgramHost {
  public:
    // state gives the caption its language; it is read with the state lock held by the caller.
    // Live reload's notices go to notices.
    explicit HeadlessHost(const AppState& state, std::ostream& notices = std::cerr)
        : state_(state), notices_(notices) {}

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

    // One line for each folder live reload stops watching, and one when it watches it again.
    void liveFoldersUnwatched(const std::vector<std::string>& folders) override;

  private:
    const AppState& state_;
    WindowPlacement placement_;
    std::ostream& notices_;
    std::mutex unwatchedMutex_; // guards unwatched_
    std::vector<std::string> unwatched_;
};

} // namespace pelotest
