#pragma once
// What the tests of the control page, its pictures and the assignment pages share: a host with
// colours that differ per role, a state over a temporary folder, and the real server over both.

#include "state/AppState.h"
#include "state/Host.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <atomic>
#include <memory>
#include <string>

namespace pelotest::test {

class PagesHost : public Host {
  public:
    Rgb color(ColorRole role) const override {
        switch (role) {
        case ColorRole::ButtonFace:
            return {0xD4, 0xD0, 0xC8};
        case ColorRole::WindowText:
            return {0x01, 0x02, 0x03};
        case ColorRole::ButtonShadow:
            return {0x80, 0x81, 0x82};
        case ColorRole::ButtonHighlight:
            return {0xFE, 0xFD, 0xFC};
        case ColorRole::WindowBackground:
            return {0xF0, 0xF1, 0xF2};
        case ColorRole::ButtonText:
            return {0x0A, 0x0B, 0x0C};
        case ColorRole::GrayText:
            return {0x6D, 0x6E, 0x6F};
        }
        return {};
    }
    // Each icon: an opaque disc of its own colour in the middle, transparent corners.
    IconPixels messageIcon(MessageIcon icon) const override {
        static constexpr Rgb kColours[] = {
            {0xF0, 0xC0, 0x00}, {0xD0, 0x10, 0x10}, {0x10, 0x40, 0xD0}};
        const Rgb c = kColours[static_cast<int>(icon)];
        IconPixels pixels{};
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool inside = (x - 15.5) * (x - 15.5) + (y - 15.5) * (y - 15.5) < 12 * 12;
                std::uint8_t* p = &pixels[(y * 32 + x) * 4];
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = inside ? 255 : 0;
            }
        return pixels;
    }
    std::string caption() const override { return "Testumgebung f\xFCr Pelorin-Templates"; }
    int variableColumnWidth() const override { return 150; }
    void applyPlacement(const WindowPlacement&) override {}
    WindowPlacement placement() const override { return {}; }
    std::optional<std::string> askValue(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    void settingsChanged() override { ++settingsNotes; }
    void treeChanged() override { ++treeNotes; }
    void logChanged() override { ++logNotes; }

    std::atomic<int> settingsNotes = 0, treeNotes = 0, logNotes = 0;
};

// A state whose folders lie in a temporary folder ("static" and "tpl"), and the server over it.
struct PagesServer {
    TempDir dir;
    AppState state;
    PagesHost host;
    std::unique_ptr<TestServer> server;

    PagesServer() {
        state.settingsPath = dir.path() / "pelotest.ini";
        std::filesystem::create_directories(dir.path() / "static");
        std::filesystem::create_directories(dir.path() / "tpl");
        state.settings.StaticPath = staticFolder() + "/";
        state.settings.DynamicPath = templateFolder() + "/";
        state.settings.VirtualPath = "app";
    }
    std::string staticFolder() const { return (dir.path() / "static").string(); }
    std::string templateFolder() const { return (dir.path() / "tpl").string(); }
    // Starts the server once the test has arranged the state.
    std::uint16_t port() {
        if (!server)
            server = std::make_unique<TestServer>(state, host);
        return server->port();
    }
};

} // namespace pelotest::test
