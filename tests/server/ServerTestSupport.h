#pragma once
// A host for the server tests: fixed colours, and a variables-changed notification that can be
// made slow or made to throw, recording when each call ran.

#include "state/AppState.h"
#include "state/Host.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelotest::test {

class TestHost : public Host {
  public:
    using Clock = std::chrono::steady_clock;

    Rgb color(ColorRole) const override { return {0xD4, 0xD0, 0xC8}; }
    IconPixels messageIcon(MessageIcon) const override { return {}; }
    std::string caption() const override { return "PeloTest"; }
    int variableColumnWidth() const override { return 150; }
    void applyPlacement(const WindowPlacement&) override {}
    WindowPlacement placement() const override { return {}; }
    std::optional<std::string> askValue(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }

    void variablesChanged() override {
        const auto start = Clock::now();
        ++started;
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        {
            std::lock_guard lock(mutex_);
            calls_.emplace_back(start, Clock::now());
        }
        if (!throwMessage.empty())
            throw std::runtime_error(throwMessage);
    }

    std::vector<std::pair<Clock::time_point, Clock::time_point>> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::chrono::milliseconds delay{0};
    std::atomic<int> started{0}; // notifications begun
    std::string throwMessage;

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> calls_;
};

// The variables as "Name=Value" (mark letter P/U after a '|' when not Plain), in list order.
inline std::vector<std::string> describeVariables(const VariableTable& table) {
    std::vector<std::string> out;
    for (const auto& row : table.rows()) {
        std::string text = row.Name + "=" + row.Value;
        if (row.mark == Mark::Passed)
            text += "|P";
        else if (row.mark == Mark::Used)
            text += "|U";
        out.push_back(text);
    }
    return out;
}

inline void addVariables(AppState& state,
                         std::initializer_list<std::pair<const char*, const char*>> rows) {
    for (const auto& [name, value] : rows)
        state.variables.add(name, value);
}

} // namespace pelotest::test
