#pragma once
// A host without a window for the state tests: hands back the placement it was given, answers
// questions from a queue and records what it was asked and shown.

#include "state/Host.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace pelotest::test {

class TestHost : public Host {
  public:
    Rgb color(ColorRole) const override { return {}; }
    IconPixels messageIcon(MessageIcon) const override { return {}; }
    std::string caption() const override { return "PeloTest"; }
    int variableColumnWidth() const override { return 150; }

    void applyPlacement(const WindowPlacement& stored) override {
        applied = stored;
        current = stored;
    }
    WindowPlacement placement() const override { return current; }

    std::optional<std::string> askValue(const std::string& caption, const std::string& prompt,
                                        const std::string& preset) override {
        questions.push_back(caption + "|" + prompt + "|" + preset);
        if (answers.empty())
            return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void status(const std::string& text) override { statuses.push_back(text); }

    std::optional<WindowPlacement> applied;
    WindowPlacement current;
    std::deque<std::optional<std::string>> answers; // nullopt = cancel
    std::vector<std::string> questions;
    std::vector<std::string> statuses;
};

} // namespace pelotest::test
