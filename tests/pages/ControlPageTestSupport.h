#pragma once
// What the tests of the control page, its pictures and the assignment pages share: a state over a
// temporary folder, a host with colours that differ per role, and the real server over both.

#include "state/AppState.h"
#include "support/FakeHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace pelotest::test {

// A state whose folders lie in a temporary folder ("static" and "tpl"), and the server over it.
struct PagesServer {
    TempDir dir;
    AppState state;
    FakeHost host; // distinct colours per role, disc icons
    std::unique_ptr<TestServer> server;

    PagesServer() {
        host.captionText = "Testumgebung f\xFCr Pelorin-Templates";
        state.settingsPath = dir.path() / "pelotest.ini";
        std::filesystem::create_directories(dir.path() / "static");
        std::filesystem::create_directories(dir.path() / "tpl");
        state.settings.staticPath = staticFolder() + "/";
        state.settings.dynamicPath = templateFolder() + "/";
        state.settings.virtualPath = "app";
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
