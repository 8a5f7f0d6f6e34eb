// The application log: the exact line format, where the file lands, and
// whole lines from many threads at once.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/app_log.h"
#include "tests/app/site_test_fixture.h"

namespace {

using qmtest::ReadBytes;
using qmtest::SiteTest;

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

// One written line, CR LF included, with any text that has no CR or LF.
const std::regex kLogLine(
    R"(\[QMAPP\] \d\d-\d\d \d\d:\d\d:\d\d \(HostID \d\d\d  DCBID \d\d\d\)[^\r\n]*\r\n)");

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

TEST(AppLogFormat, LineIsExact) {
    EXPECT_EQ(Format("Send Error", 2, 0),
              "[QMAPP] 03-07 14:05:09 (HostID 002  DCBID 000)Send Error");
    EXPECT_EQ(Format("OnClose", 255, 255), "[QMAPP] 03-07 14:05:09 (HostID 255  DCBID 255)OnClose");
}

TEST(AppLogFormat, NumbersKeepTheirLowEightBits) {
    EXPECT_EQ(Format("x", 300, 2), "[QMAPP] 03-07 14:05:09 (HostID 044  DCBID 002)x");
    EXPECT_EQ(Format("x", 0xFFFFFFFFu, 256), "[QMAPP] 03-07 14:05:09 (HostID 255  DCBID 000)x");
}

using AppLogFile = SiteTest;

TEST_F(AppLogFile, AppendsWholeLinesWithCrLf) {
    qm::AppLog("first", 300, 2);
    qm::AppLog("second", 1, 255);
    auto text = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(text);
    std::vector<std::string> lines = SplitLines(*text);
    ASSERT_EQ(lines.size(), 2u) << *text;
    EXPECT_TRUE(std::regex_match(lines[0], kLogLine)) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], kLogLine)) << lines[1];
    EXPECT_NE(lines[0].find("(HostID 044  DCBID 002)first\r\n"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("(HostID 001  DCBID 255)second\r\n"), std::string::npos) << lines[1];
}

TEST_F(AppLogFile, LongTextIsWrittenWhole) {
    const std::string text(3000, 'q');
    qm::AppLog(text.c_str(), 1, 1);
    auto file = ReadBytes(Cwd("QMLog.txt"));
    ASSERT_TRUE(file);
    ASSERT_TRUE(std::regex_match(*file, kLogLine));
    EXPECT_EQ(file->size(), 46 + text.size() + 2);
}

TEST_F(AppLogFile, UnopenableLogLosesTheLineQuietly) {
    ASSERT_EQ(mkdir(Cwd("QMLog.txt").c_str(), 0755), 0);
    qm::AppLog("lost", 1, 1);
    EXPECT_TRUE(qmtest::PathExists(Cwd("QMLog.txt")));
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
    const std::regex body(R"(.*\(HostID 00(\d)  DCBID (\d\d\d)\)t(\d)c(\d+)\.{200}\r\n)");
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, kLogLine)) << line;
        ASSERT_TRUE(std::regex_match(line, m, body)) << line;
        const int t = std::stoi(m[3]);
        const int c = std::stoi(m[4]);
        EXPECT_EQ(std::stoi(m[1]), t);
        EXPECT_EQ(std::stoi(m[2]), c & 0xFF);
        seen.insert({t, c});
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kCalls));
}

}  // namespace
