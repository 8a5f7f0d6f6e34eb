// The timeline's station and wall-clock columns, which the log lines do not
// carry: the station comes from the site's terminal and station files, the
// time from when the log's last line was written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/common/test_support.h"
#include "tools/pktlog/decode.h"
#include "tools/pktlog/wall_clock.h"

namespace qm::test {
namespace {

// The n-th blank-separated field of a timeline line (0: the milliseconds,
// 1 and 2: date and time, 3: the station).
std::string Field(const std::string& line, size_t n) {
    std::istringstream in(line);
    std::string field;
    for (size_t i = 0; i <= n; ++i) in >> field;
    return field;
}

TEST(PacketLogStations, FromTheSite) {
    TempDir site;
    ASSERT_TRUE(CreateFolder(site / "TXT"));
    // Station 3 has a port name the manager refuses; the terminal file is
    // found ignoring case.
    ASSERT_TRUE(WriteFile(site / "TXT/基站.TXT", "1 COM3\r\n2 COM4\r\n3 ttyUSB0\r\n4 COM5\r\n"));
    ASSERT_TRUE(WriteFile(site / "TXT/点菜机.txt",
                          "5 1\r\n6 2\r\n7 1\r\n7 2\r\n8 3\r\n9 9\r\n10 2\r\n10 2\r\n"));
    const std::optional<pktlog::StationMap> map = pktlog::StationMap::Load(site.path());
    ASSERT_TRUE(map.has_value());

    const struct {
        const char* what;
        std::string line;
        bool withSite;
        const char* station;
    } cases[] = {
        {"listed", "0001 [S] 00 05 FA FF ", true, "1:COM3"},
        {"listed at the second station", "0001 [R] 00 06 F9 FF ", true, "2:COM4"},
        {"listed twice at one station", "0001 [S] 00 0A F5 FF ", true, "2:COM4"},
        {"listed at two stations", "0001 [S] 00 07 F8 FF ", true, "?"},
        {"at a station the manager refuses", "0001 [S] 00 08 F7 FF ", true, "-"},
        {"at a host that is no station", "0001 [S] 00 09 F6 FF ", true, "-"},
        {"not listed", "0001 [S] 00 0B F4 FF ", true, "-"},
        {"no site", "0001 [S] 00 05 FA FF ", false, "-"},
        {"thrown away, address unsound", "0001 [E4] 00 05 FB FF ", true, "-"},
        {"too short to name one", "0001 [E3] 00 ", true, "-"},
        {"a broadcast", "0001 [S] 00 FE 01 03 FC 00 00 00 00 00 00 00 FF ", true, "-"},
    };
    for (const auto& c : cases) {
        const std::string out =
            pktlog::DecodeLine(c.line, 1, nullptr, c.withSite ? &*map : nullptr);
        EXPECT_EQ(Field(out, 3), c.station) << c.what << "\n" << out;
    }
}

TEST(PacketLogStations, NoTxtFolderIsNoSite) {
    TempDir site;
    ASSERT_TRUE(WriteFile(site / "基站.TXT", "1 COM3\r\n"));
    EXPECT_FALSE(pktlog::StationMap::Load(site.path()).has_value());
}

// Local time as UTC for the span of a test, whatever the machine's zone.
class UtcZone {
  public:
    UtcZone() {
        if (const char* tz = std::getenv("TZ"))
            old_ = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~UtcZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

// 2026-12-07 22:54:33.500 UTC.
constexpr int64_t kEnd = 1796684073500;

TEST(PacketLogWallClock, EachLineIsTheEndLessTheIntervalsAfterIt) {
    UtcZone utc;
    // A malformed line moves no time, and one cut short keeps its interval.
    const std::string log =
        "0012 [S] 00 05 FA FF \r\n"
        "garbage\r\n"
        "0100 [R] 00 05 FA FF \r\n"
        "1500 [S] 00 05 F\r\n"
        "0003 [S] 00 05 FA FF";
    pktlog::IntervalSum sum;
    for (const char c : log) sum.Feed({&c, 1});
    sum.Finish();
    ASSERT_EQ(sum.Total(), 1615u);

    pktlog::Columns columns;
    columns.lastLineMs = kEnd;
    columns.totalIntervalMs = sum.Total();
    pktlog::LogDecoder decoder(columns);
    std::string out;
    decoder.Feed(log, out);
    decoder.Finish(out);
    std::istringstream lines(out);
    std::vector<std::string> times;
    for (std::string line; std::getline(lines, line);)
        if (line.find("malformed") == std::string::npos)
            times.push_back(Field(line, 1) + " " + Field(line, 2));
    const std::vector<std::string> expected = {"2026-12-07 22:54:31.897", "2026-12-07 22:54:31.997",
                                               "2026-12-07 22:54:33.500"};
    EXPECT_EQ(times, expected);
}

TEST(PacketLogWallClock, EndTimeText) {
    UtcZone utc;
    const struct {
        const char* text;
        std::optional<int64_t> ms;
    } cases[] = {
        {"2026-12-07 22:54:33.500", kEnd},       {"2026-12-07 22:54:33", kEnd - 500},
        {"2026-12-07 22:54:33.5", std::nullopt}, {"2026-12-07T22:54:33", std::nullopt},
        {"2026-02-30 10:00:00", std::nullopt},   {"2026-12-07 22:60:00", std::nullopt},
        {"2026-12-07 22:54", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(pktlog::ParseLocalTime(c.text), c.ms) << c.text;
    EXPECT_EQ(pktlog::LocalTimeText(kEnd), "2026-12-07 22:54:33.500");
    EXPECT_EQ(pktlog::LocalTimeText(-1), "1969-12-31 23:59:59.999");
}

}  // namespace
}  // namespace qm::test
