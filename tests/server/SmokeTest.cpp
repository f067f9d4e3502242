#include "support/HttpTestClient.h"

#include <gtest/gtest.h>

namespace pelotest::test {
namespace {
struct NullHost : Host {
    Rgb color(ColorRole) const override { return {}; }
    IconPixels messageIcon(MessageIcon) const override { return {}; }
    std::string caption() const override { return {}; }
    int variableColumnWidth() const override { return 150; }
    void applyPlacement(const WindowPlacement&) override {}
    WindowPlacement placement() const override { return {}; }
    std::optional<std::string> askValue(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
};
TEST(Smoke, ControlPagePlaceholder) {
    AppState state;
    NullHost host;
    TestServer server(state, host);
    const auto result = httpGet(server.port(), "/$INT");
    EXPECT_EQ(result.status, 501);
    EXPECT_EQ(result.body, "Not implemented yet: control page\n");
}
} // namespace
} // namespace pelotest::test
