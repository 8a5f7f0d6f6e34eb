// The application log: the exact line format, where the file lands, and
// whole lines from many threads at once.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/app_log.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

// 7 March, 14:05:09: every field has a leading zero to lose.
tm FixedTime() {
    tm t{};
    t.tm_year = 126;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
}

std::string Format(const char* text, uint32_t host, uint32_t dcb) {
    char out[256];
    int n = qm::FormatAppLogLine(out, sizeof out, FixedTime(), text, host, dcb);
    EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
    return out;
}

// One written line taken apart: the two numbers and the text. False unless
// the line has the exact shape, CR LF included, with no CR or LF in the text.
struct LogLine {
    int host = -1;
    int dcb = -1;
    std::string text;
};

bool ParseLogLine(const std::string& line, LogLine* out) {
    static const char kShape[] = "[QMAPP] ##-## ##:##:## (HostID ###  DCBID ###)";
    const size_t prefix = sizeof kShape - 1;
    if (line.size() < prefix + 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)
        return false;
    for (size_t i = 0; i < prefix; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kShape[i] == '#' ? !digit : line[i] != kShape[i])
            return false;
    }
    out->host = std::stoi(line.substr(31, 3));
    out->dcb = std::stoi(line.substr(42, 3));
    out->text = line.substr(prefix, line.size() - prefix - 2);
    return out->text.find_first_of("\r\n") == std::string::npos;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

TEST(AppLogFormat, LineIsExactAndNumbersKeepTheirLowEightBits) {
    EXPECT_EQ(Format("Send Error", 2, 0),
              "[QMAPP] 03-07 14:05:09 (HostID 002  DCBID 000)Send Error");
    EXPECT_EQ(Format("OnClose", 255, 255), "[QMAPP] 03-07 14:05:09 (HostID 255  DCBID 255)OnClose");
    // Numbers keep their low eight bits.
    EXPECT_EQ(Format("x", 300, 2), "[QMAPP] 03-07 14:05:09 (HostID 044  DCBID 002)x");
    EXPECT_EQ(Format("x", 0xFFFFFFFFu, 256), "[QMAPP] 03-07 14:05:09 (HostID 255  DCBID 000)x");
}

using AppLogFile = SiteTest;

TEST_F(AppLogFile, AppendsWholeLinesWithCrLf) {
    const std::string longText(3000, 'q');  // written whole
    qm::AppLog("first", 300, 2);
    qm::AppLog("second", 1, 255);
    qm::AppLog(longText.c_str(), 1, 1);
    auto text = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(text);
    std::vector<std::string> lines = SplitLines(*text);
    ASSERT_EQ(lines.size(), 3u) << *text;
    LogLine l;
    ASSERT_TRUE(ParseLogLine(lines[0], &l)) << lines[0];
    EXPECT_EQ(l.host, 44);
    EXPECT_EQ(l.dcb, 2);
    EXPECT_EQ(l.text, "first");
    ASSERT_TRUE(ParseLogLine(lines[1], &l)) << lines[1];
    EXPECT_EQ(l.host, 1);
    EXPECT_EQ(l.dcb, 255);
    EXPECT_EQ(l.text, "second");
    ASSERT_TRUE(ParseLogLine(lines[2], &l));
    EXPECT_EQ(l.text, longText);
}

TEST_F(AppLogFile, LineThatCannotBeWrittenIsLost) {
    ASSERT_EQ(mkdir(Cwd("QMLog.txt").c_str(), 0755), 0);  // in the way of the file
    qm::AppLog("lost", 1, 1);
    ASSERT_EQ(rmdir(Cwd("QMLog.txt").c_str()), 0);
    qm::AppLog("kept", 1, 1);
    auto file = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(file);
    LogLine l;
    ASSERT_TRUE(ParseLogLine(*file, &l)) << *file;
    EXPECT_EQ(l.text, "kept");
}

TEST_F(AppLogFile, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kCalls = 200;
    // Long lines make a torn write likely if the writes were not serialised.
    const std::string padding(200, '.');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &padding] {
            for (int c = 0; c < kCalls; ++c) {
                std::string text = "t" + std::to_string(t) + "c" + std::to_string(c) + padding;
                qm::AppLog(text.c_str(), static_cast<uint32_t>(t), static_cast<uint32_t>(c));
            }
        });
    }
    for (std::thread& th : threads) th.join();

    auto file = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(file);
    std::vector<std::string> lines = SplitLines(*file);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kCalls));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        LogLine l;
        ASSERT_TRUE(ParseLogLine(line, &l)) << line;
        int t = -1, c = -1, used = 0;
        ASSERT_EQ(std::sscanf(l.text.c_str(), "t%dc%d%n", &t, &c, &used), 2) << line;
        EXPECT_EQ(l.text.substr(static_cast<size_t>(used)), padding) << line;
        EXPECT_EQ(l.host, t);
        EXPECT_EQ(l.dcb, c & 0xFF);
        seen.insert({t, c});
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kCalls));
}

}  // namespace
}  // namespace qm::test
