#pragma once
// The server tests' host: a FakeHost whose variables-changed notification can be made slow or
// made to throw, recording when each call ran.

#include "state/AppState.h"
#include "support/FakeHost.h"

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelotest::test {

class TestHost : public FakeHost {
  public:
    using Clock = std::chrono::steady_clock;

    void variablesChanged() override {
        const auto start = Clock::now();
        FakeHost::variablesChanged(); // counts the notifications begun
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
    std::string throwMessage;

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> calls_;
};

// The variables as "Name=Value" (mark letter P/U after a '|' when not Plain), in list order.
inline std::vector<std::string> describeVariables(const VariableTable& table) {
    std::vector<std::string> out;
    for (const auto& row : table.rows()) {
        std::string text = row.name + "=" + row.value;
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
