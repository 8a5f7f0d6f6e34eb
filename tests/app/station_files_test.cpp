// The station file 基站.TXT, the terminal file 点菜机.TXT and the lookup of
// a terminal's slot in a loaded station.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/site_files.h"
#include "tests/app/site_test_fixture.h"

namespace {

using qm::test::WriteBytes;
using qmtest::SiteTest;

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
    std::string Port(int station) const {
        return std::string(site_.stations[station].portName, sizeof site_.stations[0].portName);
    }
};

TEST_F(StationFileTest, BlankFirstAndEmptyLinesAreSkipped) {
    LoadSite("1 COM3\r\n\r\n 2 COM4\r\n");
    ASSERT_EQ(site_.stationCount, 1u);
    EXPECT_EQ(site_.stations[0].hostId, 1);
    EXPECT_EQ(Port(0), std::string("COM3\0\0", 6));
    EXPECT_EQ(site_.stations[0].dcbCount, 0);
}

TEST_F(StationFileTest, TabFirstLineLfEndAndExtraFieldsAreRead) {
    LoadSite("\t3 COM5\r\n4\tCOM6 extra fields\n");
    ASSERT_EQ(site_.stationCount, 2u);
    EXPECT_EQ(site_.stations[0].hostId, 3);
    EXPECT_EQ(Port(0), std::string("COM5\0\0", 6));
    EXPECT_EQ(site_.stations[1].hostId, 4);
    EXPECT_EQ(Port(1), std::string("COM6\0\0", 6));
}

TEST_F(StationFileTest, HostIdIsKeptModulo256) {
    LoadSite("257 COM1\r\n");
    ASSERT_EQ(site_.stationCount, 1u);
    EXPECT_EQ(site_.stations[0].hostId, 1);
}

TEST_F(StationFileTest, LineWithoutPortNameIsSkipped) {
    LoadSite("5\r\n6 COM2\r\n");
    ASSERT_EQ(site_.stationCount, 1u);
    EXPECT_EQ(site_.stations[0].hostId, 6);
}

TEST_F(StationFileTest, LongPortNameIsCutToSixBytesWithoutSpilling) {
    LoadSite("1 COM1234\r\n2 COM12\r\n");
    ASSERT_EQ(site_.stationCount, 2u);
    EXPECT_EQ(Port(0), "COM123");
    EXPECT_EQ(site_.stations[0].dcbCount, 0);  // the byte right after the name
    EXPECT_EQ(Port(1), std::string("COM12\0", 6));
}

TEST_F(StationFileTest, RecordsAreClearedBeforeFilling) {
    std::memset(site_.stations.data(), 0xAB, sizeof site_.stations);
    LoadSite("1 COM3\r\n");
    EXPECT_EQ(Port(0), std::string("COM3\0\0", 6));
    EXPECT_EQ(site_.stations[0].dcbCount, 0);
}

TEST_F(StationFileTest, LineLongerThan99BytesGoesOnAsTheNextLine) {
    // 99 bytes fill one read; what follows is read as a line of its own.
    std::string first = "1 COM1" + std::string(93, ' ');
    ASSERT_EQ(first.size(), 99u);
    LoadSite(first + "2 COM2\r\n");
    ASSERT_EQ(site_.stationCount, 2u);
    EXPECT_EQ(site_.stations[0].hostId, 1);
    EXPECT_EQ(site_.stations[1].hostId, 2);
    EXPECT_EQ(Port(1), std::string("COM2\0\0", 6));
}

TEST_F(StationFileTest, EightStationsFitTheNinthIsNotStored) {
    std::string lines;
    for (int i = 1; i <= 8; ++i) lines += std::to_string(i) + " COM" + std::to_string(i) + "\r\n";
    LoadSite(lines);
    EXPECT_EQ(site_.stationCount, 8u);
    EXPECT_FALSE(site_.tooManyStations);

    LoadSite(lines + "9 COM9\r\n");
    EXPECT_EQ(site_.stationCount, 8u);
    EXPECT_TRUE(site_.tooManyStations);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(site_.stations[i].hostId, i + 1);
}

TEST_F(StationFileTest, NinthLineWithoutPortIsNoStation) {
    std::string lines;
    for (int i = 1; i <= 8; ++i) lines += std::to_string(i) + " COM" + std::to_string(i) + "\r\n";
    LoadSite(lines + "9\r\n");
    EXPECT_EQ(site_.stationCount, 8u);
    EXPECT_FALSE(site_.tooManyStations);
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

TEST_F(StationFileTest, TerminalsJoinTheirStationInFileOrder) {
    LoadSite("1 COM1\r\n2 COM2\r\n", "12 1\r\n300 2\r\n\t7 1\r\n 8 1\r\n");
    ASSERT_EQ(site_.stations[0].dcbCount, 2);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 12);
    EXPECT_EQ(site_.stations[0].dcbIds[1], 7);
    ASSERT_EQ(site_.stations[1].dcbCount, 1);
    EXPECT_EQ(site_.stations[1].dcbIds[0], 44);  // 300 modulo 256
}

TEST_F(StationFileTest, TerminalOfUnknownStationIsDropped) {
    LoadSite("1 COM1\r\n", "5 9\r\n6 1\r\n");
    ASSERT_EQ(site_.stations[0].dcbCount, 1);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 6);
}

TEST_F(StationFileTest, TerminalWithoutHostIdIsSkipped) {
    // Host id 0 exists: a missing field must not be taken for it.
    LoadSite("0 COM1\r\n", "7\r\n8 0\r\n");
    ASSERT_EQ(site_.stations[0].dcbCount, 1);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 8);
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

TEST_F(StationFileTest, StationsSharingAHostIdBothGetTheTerminal) {
    LoadSite("1 COM1\r\n1 COM2\r\n", "12 1\r\n");
    ASSERT_EQ(site_.stationCount, 2u);
    ASSERT_EQ(site_.stations[0].dcbCount, 1);
    ASSERT_EQ(site_.stations[1].dcbCount, 1);
    EXPECT_EQ(site_.stations[0].dcbIds[0], 12);
    EXPECT_EQ(site_.stations[1].dcbIds[0], 12);
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
}

TEST_F(StationFileTest, FindDcbSlotSeesOnlyCountedEntries) {
    LoadSite("1 COM1\r\n", "5 1\r\n");
    site_.stations[0].dcbIds[1] = 9;  // beyond dcbCount: not a terminal
    EXPECT_EQ(qm::FindDcbSlot(site_, 0, 9), 255);
    EXPECT_EQ(qm::FindDcbSlot(site_, 0, 0), 255);
}

}  // namespace
