// The station file 基站.TXT, the terminal file 点菜机.TXT and the lookup of
// a terminal's slot in a loaded station.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/site_files.h"
#include "site/station_lookup.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

class StationFileTest : public SiteTest {
  protected:
    void LoadSite(const std::string& stations, const std::string& terminals = "") {
        ASSERT_TRUE(WriteBytes(Txt("基站.TXT"), stations));
        ASSERT_EQ(qm::LoadStations(site_), 1);
        if (terminals.empty())
            return;
        ASSERT_TRUE(WriteBytes(Txt("点菜机.TXT"), terminals));
        ASSERT_EQ(qm::LoadTerminals(site_), 1);
    }
    // The loaded stations as "host:port[terminals]", a NUL of the port as '.'.
    std::string Shown() const {
        std::string out;
        for (uint32_t i = 0; i < site_.stationCount; ++i) {
            const auto& s = site_.stations[i];
            out += (i ? " " : "") + std::to_string(s.hostId) + ":";
            for (char c : s.portName) out += c ? c : '.';
            out += "[";
            for (int k = 0; k < s.dcbCount; ++k)
                out += (k ? "," : "") + std::to_string(s.dcbIds[k]);
            out += "]";
        }
        return out;
    }
};

std::string Numbered(int n, bool lastWithoutPort = false) {
    std::string lines;
    for (int i = 1; i <= n; ++i) lines += std::to_string(i) + " COM" + std::to_string(i) + "\r\n";
    return lines + (lastWithoutPort ? std::to_string(n + 1) + "\r\n" : "");
}

TEST_F(StationFileTest, FilesGiveTheirStationsAndTerminals) {
    const std::string eight =
        "1:COM1..[] 2:COM2..[] 3:COM3..[] 4:COM4..[] 5:COM5..[] 6:COM6..[] "
        "7:COM7..[] 8:COM8..[]";
    const struct {
        std::string stations, terminals, shown;
        bool tooMany = false;
        std::string refused = "";  // "host:name" of the lines refused for a long name
    } cases[] = {
        // A line starting with a blank, and an empty line, are skipped.
        {"1 COM3\r\n\r\n 2 COM4\r\n", "", "1:COM3..[]"},
        {"\t3 COM5\r\n4\tCOM6 extra fields\n", "", "3:COM5..[] 4:COM6..[]"},
        {"257 COM1\r\n", "", "1:COM1..[]"},
        {"5\r\n6 COM2\r\n", "", "6:COM2..[]"},
        // A name fills the six bytes at most; a longer one is refused, not
        // cut to a name that may lead to another device, and takes no place.
        {"1 COM123\r\n2 COM12\r\n", "", "1:COM123[] 2:COM12.[]"},
        {"1 ttyUSB0\r\n2 COM12\r\n3 /dev/ttyUSB1\r\n", "2 2\r\n", "2:COM12.[2]", false,
         "1:ttyUSB0 3:/dev/ttyUSB1"},
        {"9 ttyUSB9\r\n" + Numbered(8), "", eight, false, "9:ttyUSB9"},
        // 99 bytes fill one read; what follows is read as a line of its own.
        {"1 COM1" + std::string(93, ' ') + "2 COM2\r\n", "", "1:COM1..[] 2:COM2..[]"},
        {Numbered(8), "", eight},
        {Numbered(9), "", eight, true},
        {Numbered(8, true), "", eight},
        // Terminals join their station in file order; ids are kept modulo 256.
        {"1 COM1\r\n2 COM2\r\n", "12 1\r\n300 2\r\n\t7 1\r\n 8 1\r\n",
         "1:COM1..[12,7] 2:COM2..[44]"},
        {"1 COM1\r\n", "5 9\r\n6 1\r\n", "1:COM1..[6]"},
        // Host id 0 exists: a missing field must not be taken for it.
        {"0 COM1\r\n", "7\r\n8 0\r\n", "0:COM1..[8]"},
        {"1 COM1\r\n1 COM2\r\n", "12 1\r\n", "1:COM1..[12] 1:COM2..[12]"},
    };
    for (const auto& c : cases) {
        // Records are cleared before they are filled.
        std::memset(site_.stations.data(), 0xAB, sizeof site_.stations);
        LoadSite(c.stations, c.terminals);
        EXPECT_EQ(Shown(), c.shown) << c.stations;
        EXPECT_EQ(site_.tooManyStations, c.tooMany) << c.stations;
        std::string refused;
        for (const auto& r : site_.refusedStations)
            refused += (refused.empty() ? "" : " ") + std::to_string(r.hostId) + ":" + r.portName;
        EXPECT_EQ(refused, c.refused) << c.stations;
    }
}

TEST_F(StationFileTest, FileNameLetterCaseDoesNotMatter) {
    ASSERT_TRUE(WriteBytes(Txt("基站.txt"), "3 COM1\r\n"));
    ASSERT_EQ(qm::LoadStations(site_), 1);
    ASSERT_EQ(site_.stationCount, 1u);
    EXPECT_EQ(site_.stations[0].hostId, 3);
}

TEST_F(StationFileTest, MissingFilesLeaveNoStationsAndNoTerminals) {
    site_.stationCount = 3;
    site_.tooManyStations = true;
    EXPECT_EQ(qm::LoadStations(site_), 0);
    EXPECT_EQ(site_.stationCount, 0u);
    EXPECT_FALSE(site_.tooManyStations);

    LoadSite("1 COM1\r\n");
    EXPECT_EQ(qm::LoadTerminals(site_), 0);
    EXPECT_EQ(site_.stations[0].dcbCount, 0);
}

TEST_F(StationFileTest, DuplicateTerminalIsStoredTwiceWithStateZero) {
    ASSERT_TRUE(WriteBytes(Txt("基站.TXT"), "1 COM1\r\n"));
    ASSERT_EQ(qm::LoadStations(site_), 1);
    site_.stations[0].dcbState[0] = 1;
    site_.stations[0].dcbState[1] = 1;
    ASSERT_TRUE(WriteBytes(Txt("点菜机.TXT"), "5 1\r\n5 1\r\n"));
    ASSERT_EQ(qm::LoadTerminals(site_), 1);
    ASSERT_EQ(site_.stations[0].dcbCount, 2);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 5);
    EXPECT_EQ(site_.stations[0].dcbIds[1], 5);
    EXPECT_EQ(site_.stations[0].dcbState[0], 0);
    EXPECT_EQ(site_.stations[0].dcbState[1], 0);
}

TEST_F(StationFileTest, TerminalsBeyond200AreDropped) {
    std::string terminals;
    for (int i = 0; i < 201; ++i) terminals += std::to_string(i % 250) + " 1\r\n";
    terminals += "99 2\r\n";
    LoadSite("1 COM1\r\n2 COM2\r\n", terminals);
    ASSERT_EQ(site_.stations[0].dcbCount, 200);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 0);
    EXPECT_EQ(site_.stations[0].dcbIds[199], 199);
    // The next record is not touched by the overflow.
    EXPECT_EQ(site_.stations[1].hostId, 2);
    EXPECT_EQ(std::string(site_.stations[1].portName, 4), "COM2");
    ASSERT_EQ(site_.stations[1].dcbCount, 1);
    EXPECT_EQ(site_.stations[1].dcbIds[0], 99);
}

TEST_F(StationFileTest, FindDcbSlot) {
    LoadSite("1 COM1\r\n2 COM2\r\n", "5 1\r\n6 1\r\n5 1\r\n7 2\r\n");
    EXPECT_EQ(qm::FindDcbSlot(site_, 0, 5), 0);  // the first of two
    EXPECT_EQ(qm::FindDcbSlot(site_, 0, 6), 1);
    EXPECT_EQ(qm::FindDcbSlot(site_, 1, 7), 0);
    EXPECT_EQ(qm::FindDcbSlot(site_, 0, 7), 255);  // listed at the other station
    EXPECT_EQ(qm::FindDcbSlot(site_, 1, 99), 255);
    EXPECT_EQ(qm::FindDcbSlot(site_, 2, 5), 255);  // index == stationCount
    EXPECT_EQ(qm::FindDcbSlot(site_, 1000, 5), 255);
    site_.stations[1].dcbIds[1] = 9;  // beyond dcbCount: not a terminal
    EXPECT_EQ(qm::FindDcbSlot(site_, 1, 9), 255);
    EXPECT_EQ(qm::FindDcbSlot(site_, 1, 0), 255);
}

}  // namespace
}  // namespace qm::test
