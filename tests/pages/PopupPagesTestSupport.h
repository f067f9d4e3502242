#pragma once
// Shared by the tests of the site log, the variables page, the file list and the editor: a host
// with a distinct colour per role (so that a page using the wrong role is caught), a real server
// over a state in a temporary folder, and a comparison of whole pages whose time stamps vary.

#include "support/FakeHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"
#include "support/TestData.h"

#include "state/AppState.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pelotest::test::popup {

// The colours of the fixture's host as the pages write them (tests/data/pages/ holds them as
// these values).
inline constexpr const char* kFace = "#D4D0C8";
inline constexpr const char* kText = "#010203";
inline constexpr const char* kShadow = "#808080";
inline constexpr const char* kHighlight = "#FEFEFE";
inline constexpr const char* kWindow = "#FFFFF0";
inline constexpr const char* kGray = "#707070";

// The stamp format of the pages for the current local time.
inline std::string stampNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[96];
    std::snprintf(
        text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", local.tm_year + 1900, local.tm_mon + 1,
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000));
    return text;
}

// A running server over a fresh state whose folders live in a temporary folder.
class PageServer {
  public:
    PageServer() {
        // Distinct per role (matching the constants above), so that a wrong role is caught.
        host.setColor(ColorRole::ButtonShadow, {0x80, 0x80, 0x80});
        host.setColor(ColorRole::ButtonHighlight, {0xFE, 0xFE, 0xFE});
        host.setColor(ColorRole::WindowBackground, {0xFF, 0xFF, 0xF0});
        host.setColor(ColorRole::GrayText, {0x70, 0x70, 0x70});
        state.settingsPath = dir.path() / "pelotest.ini";
        dir.write("pelotest.ini", "[Settings]\r\n");
    }
    void start() { server = std::make_unique<TestServer>(state, host); }

    // Runs f on the state with the lock held, as a request would.
    template <typename F>
    auto withState(F f) {
        std::lock_guard lock(state.mutex);
        return f(state);
    }

    HttpResult get(std::string_view target, const HeaderList& headers = {}) {
        return httpGet(server->port(), target, headers);
    }
    HttpResult post(std::string_view target, std::string_view form, HeaderList headers = {}) {
        headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
        return httpRequest(server->port(), "POST", target, form, headers);
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(server->port()); }

    TempDir dir;
    AppState state;
    FakeHost host;
    std::unique_ptr<TestServer> server;
};

// The editor form of a path (each '/' as "%3F") for a path of letters, digits, '/', '-', '_' and
// '.', the bytes that the editor form keeps as they are (the temporary folders' names hold
// nothing else). The encoding of other bytes is checked with known answers, not here.
inline std::string site(const std::string& path) {
    std::string out;
    for (char c : path) {
        const bool kept = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
        if (c != '/' && !kept)
            ADD_FAILURE() << "site() is for plain paths only: " << path;
        out += c == '/' ? std::string("%3F") : std::string(1, c);
    }
    return out;
}

// Percent-encodes a form value as a browser does (blank as '+').
inline std::string formEncode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
            c == '-' || c == '.' || c == '_' || c == '*')
            out += c;
        else if (c == ' ')
            out += '+';
        else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

inline constexpr std::string_view kStamp = kTimeMarker;

// Compares a whole page with the expected text, in which every "{{TIME}}" stands for a
// 17-digit stamp between `from` and `to` (stamps taken before and after the request).
inline testing::AssertionResult pageMatches(std::string_view expected, std::string_view actual,
                                            const std::string& from, const std::string& to) {
    std::size_t e = 0, a = 0;
    while (true) {
        const std::size_t next = expected.find(kStamp, e);
        const std::string_view fixed = expected.substr(e, next - e);
        if (actual.substr(a, fixed.size()) != fixed ||
            (next == std::string_view::npos && actual.size() != a + fixed.size())) {
            std::size_t i = 0;
            while (i < fixed.size() && a + i < actual.size() && fixed[i] == actual[a + i])
                ++i;
            return testing::AssertionFailure()
                   << "pages differ at byte " << a + i << "\n--- expected from there:\n"
                   << fixed.substr(i, 300) << "\n--- actual from there:\n"
                   << actual.substr(a + i, 300);
        }
        if (next == std::string_view::npos)
            return testing::AssertionSuccess();
        a += fixed.size();
        const std::string_view stamp = actual.substr(a, 17);
        const bool digits =
            stamp.size() == 17 && stamp.find_first_not_of("0123456789") == std::string_view::npos;
        if (!digits || stamp < from || stamp > to)
            return testing::AssertionFailure() << "no stamp between " << from << " and " << to
                                               << " at byte " << a << ": " << actual.substr(a, 30);
        a += 17;
        e = next + kStamp.size();
    }
}

// GETs target and compares the whole body.
inline testing::AssertionResult getMatches(PageServer& server, std::string_view target,
                                           std::string_view expected) {
    const std::string from = stampNow();
    const HttpResult result = server.get(target);
    const std::string to = stampNow();
    if (result.status != 200)
        return testing::AssertionFailure() << "status " << result.status << ": " << result.body;
    if (result.header("Content-Type").value_or("").rfind("text/html", 0) != 0)
        return testing::AssertionFailure()
               << "content type " << result.header("Content-Type").value_or("");
    return pageMatches(expected, result.body, from, to);
}

} // namespace pelotest::test::popup
