#pragma once
// A host without a window for the tests, configurable where tests differ: a colour per role
// (distinct by default, so that a page using the wrong role is caught), the caption and the
// column width, message icons that are opaque discs of their own colour on a transparent
// ground. It keeps the placement it was given, answers questions from a queue, records what it
// was asked and shown, and counts every change notification.

#include "state/Host.h"

#include <array>
#include <atomic>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace pelotest::test {

class FakeHost : public ProgramHost {
  public:
    // Indexed by ColorRole.
    using ColorTable = std::array<Rgb, 7>;
    static constexpr ColorTable kDistinctColors = {{
        {0xD4, 0xD0, 0xC8}, // ButtonFace
        {0x01, 0x02, 0x03}, // WindowText
        {0x80, 0x81, 0x82}, // ButtonShadow
        {0xFE, 0xFD, 0xFC}, // ButtonHighlight
        {0xF0, 0xF1, 0xF2}, // WindowBackground
        {0x0A, 0x0B, 0x0C}, // ButtonText
        {0x6D, 0x6E, 0x6F}, // GrayText
    }};

    Rgb color(ColorRole role) const override { return colors.at(static_cast<std::size_t>(role)); }
    void setColor(ColorRole role, Rgb rgb) { colors.at(static_cast<std::size_t>(role)) = rgb; }

    // Each icon: an opaque disc of its own colour in the middle, transparent corners.
    IconPixels messageIcon(MessageIcon icon) const override {
        const Rgb c = iconColors.at(static_cast<std::size_t>(icon));
        IconPixels pixels{};
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool inside = (x - 15.5) * (x - 15.5) + (y - 15.5) * (y - 15.5) < 12 * 12;
                std::uint8_t* p = &pixels[(y * 32 + x) * 4];
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = inside ? 255 : 0;
            }
        return pixels;
    }
    std::string caption() const override { return captionText; }
    int variableColumnWidth() const override { return columnWidth; }

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

    void settingsChanged() override { ++settingsNotes; }
    void treeChanged() override { ++treeNotes; }
    void variablesChanged() override { ++variablesNotes; }
    void logChanged() override { ++logNotes; }

    ColorTable colors = kDistinctColors;
    // Warning, Error, Information.
    std::array<Rgb, 3> iconColors = {{{0xF0, 0xC0, 0x00}, {0xD0, 0x10, 0x10}, {0x10, 0x40, 0xD0}}};
    std::string captionText = "PeloTest";
    int columnWidth = 150;

    std::optional<WindowPlacement> applied;         // the last placement handed over
    WindowPlacement current;                        // what placement() answers
    std::deque<std::optional<std::string>> answers; // nullopt = cancel; empty = cancel
    std::vector<std::string> questions;             // "caption|prompt|preset"
    std::vector<std::string> statuses;

    // Notifications come from connection threads.
    std::atomic<int> settingsNotes = 0, treeNotes = 0, variablesNotes = 0, logNotes = 0;
};

} // namespace pelotest::test
