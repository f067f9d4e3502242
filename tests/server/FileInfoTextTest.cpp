#include "server/FileInfoText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/time.h>

namespace pelotest {
namespace {

using test::TempDir;

// ---------------------------------------------------------------------------------------------
// File information

class LocalZone {
  public:
    explicit LocalZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~LocalZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

TEST(FileInfoText, ShowsLocalTimeAndSizeOrPlaceholders) {
    LocalZone zone("XYZ-3"); // three hours east of UTC
    TempDir dir;
    AppState state;
    const auto file = dir.write("a.htm", std::string(2048, 'x'));
    // 6 December 2026, 12:19:16 UTC = 15:19:16 in the zone above.
    std::tm utc{};
    utc.tm_year = 2026 - 1900;
    utc.tm_mon = 11;
    utc.tm_mday = 6;
    utc.tm_hour = 12;
    utc.tm_min = 19;
    utc.tm_sec = 16;
    const timeval times[2] = {{::timegm(&utc), 0}, {::timegm(&utc), 0}};
    ASSERT_EQ(::utimes(file.c_str(), times), 0);

    EXPECT_EQ(fileInfoText(LanguageTexts(state), file.string()),
              "Ge&auml;ndert&nbsp;am&nbsp;06.12.2026&nbsp;15:19:16"
              "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;2048&nbsp;Byte");

    const std::string unknown = "Ge&auml;ndert&nbsp;am&nbsp;??.??.????&nbsp;??:??:??"
                                "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;??&nbsp;Byte";
    EXPECT_EQ(fileInfoText(LanguageTexts(state), (dir.path() / "missing.htm").string()), unknown);
    EXPECT_EQ(fileInfoText(LanguageTexts(state), dir.path().string()), unknown)
        << "a folder is no file";
}

} // namespace
} // namespace pelotest
