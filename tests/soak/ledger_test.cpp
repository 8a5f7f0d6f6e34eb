// The soak's books must count each planted fault where it belongs; a ledger
// that settles everything as delivered would pass any soak.
#include "tools/soak/ledger.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/soak/manager_files.h"

namespace qm::soak {
namespace {

const Ledger::Terminal kT{1, 7};

Bytes B(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

TEST(SoakLedger, RequestsLostDuplicatedAndReplacedAreTold) {
    Ledger lost, dup, replaced;
    for (Ledger* l : {&lost, &dup, &replaced}) {
        l->RequestQueued(kT, "A");
        l->RequestQueued(kT, "B");
    }
    lost.RequestFileRead(kT, "B");
    dup.RequestFileRead(kT, "A");
    dup.RequestFileRead(kT, "B");
    EXPECT_FALSE(dup.RequestFileRead(kT, "B"));
    replaced.RequestFileRead(kT, "B");
    replaced.RequestFileRead(kT, "B");
    const Figures a = lost.Settle({}, {}), b = dup.Settle({}, {}), c = replaced.Settle({}, {});
    EXPECT_EQ(a.requestsLost, 1u);
    EXPECT_EQ(b.requestsDuplicated, 1u);
    EXPECT_EQ(b.requestsCarried, 2u);
    EXPECT_EQ(c.requestsReplacedBeforeRead, 1u);
    EXPECT_EQ(c.Faults(), 0u);
}

TEST(SoakLedger, UndeliveredRepliesNeedTheManagersReport) {
    Ledger l;
    l.ReplyWritten(kT, B("R1"), true);
    l.ReplyWritten(kT, B("R2"));
    l.ReplyWritten(kT, B("R3"));
    l.ReplyWritten({1, 8}, B("R4"));
    std::map<Ledger::Terminal, Received> got;
    got[kT].replies = {B("R2"), B("R2")};
    ReplyReports reports;
    reports.refused[1] = 2;
    reports.sendErrors[1] = 2;
    reports.refusedFor[kT] = 1;      // R1, written after terminal 7 asked again
    reports.refusedFor[{1, 8}] = 1;  // R4, which answered 8's last request
    const Figures f = l.Settle(got, reports);
    EXPECT_EQ(f.repliesDelivered, 1u);
    EXPECT_EQ(f.repliesDuplicated, 1u);
    EXPECT_EQ(f.repliesRefusedStale, 1u);
    EXPECT_EQ(f.repliesRefusedCurrent, 1u);
    EXPECT_EQ(f.repliesLost, 1u);
    EXPECT_EQ(f.Faults(), 3u);
}

// What the manager's log says of refused replies reaches the books by
// terminal and by reason, whatever code the line names.
TEST(SoakLedger, RefusalsAreReadByTerminalAndReason) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("soak-log-" + std::to_string(getpid())))
            .string();
    std::ofstream(path, std::ios::binary)
        << "[QMAPP] 12-07 21:04:55 (HostID 001  DCBID 007)Reply refused (KT  ): another code "
           "was asked last (DC  )\r\n"
           "[QMAPP] 12-07 21:04:55 (HostID 001  DCBID 000)SDKGetRxFile Error\r\n"
           "[QMAPP] 12-07 21:04:55 (HostID 001  DCBID 000)Send Error\r\n"
           "[QMAPP] 12-07 21:04:56 (HostID 002  DCBID 255)Reply refused: file missing\r\n"
           "[QMAPP] 12-07 21:04:57 (HostID 001  DCBID 007)Reply refused (DL  ): another code "
           "was asked last (KT  )\r\n";
    const ReplyReports r = ReadReplyReports(path, nullptr);
    std::filesystem::remove(path);
    EXPECT_EQ(r.refusedFor.at(kT), 2u);
    EXPECT_EQ(r.refusedFor.at({2, 255}), 1u);
    EXPECT_EQ(r.refusalReasons.at("another code was asked last"), 2u);
    EXPECT_EQ(r.refusalReasons.at("file missing"), 1u);
    EXPECT_EQ(r.refused.at(1), 1u);
    EXPECT_EQ(r.sendErrors.at(1), 1u);
}

// The soak reads the entry kinds off the decoder's timeline, past its
// wall-clock and station columns.
TEST(SoakLedger, PacketLogEntriesAreCountedByKind) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("soak-pkt-" + std::to_string(getpid())))
            .string();
    std::ofstream(path, std::ios::binary) << "0012 [S] 00 05 FA FF \r\n"
                                             "0003 [R] 00 05 FA 05 FA FF \r\n"
                                             "0003 [S] 00 05 FA 03 FC FF \r\n"
                                             "garbage\r\n";
    const PacketLogFigures f = DecodePacketLog(path);
    std::filesystem::remove(path);
    EXPECT_EQ(f.lines, 4u);
    EXPECT_EQ(f.malformed, 1u);
    const std::map<std::string, uint64_t> kinds = {
        {"sent beacon", 1}, {"received control clock request", 1}, {"sent control beacon", 1}};
    EXPECT_EQ(f.kinds, kinds);
}

TEST(SoakLedger, ShortMessagesAndClockAnswersAreCounted) {
    Ledger l;
    l.ShortMessageSent(7, 1, B("S1"));
    l.ShortMessageSent(7, 2, B("S2"));
    l.ClockQueued(kT);
    std::map<Ledger::Terminal, Received> got;
    got[kT].shortMessages = {{1, B("S1")}, {1, B("S1")}};
    got[{2, 7}].shortMessages = {{1, B("S1")}};
    const Figures f = l.Settle(got, {});
    EXPECT_EQ(f.shortMessagesDuplicated, 2u);
    EXPECT_EQ(f.shortMessagesLost, 1u);
    EXPECT_EQ(f.clockAnswersMissing, 1u);
}

}  // namespace
}  // namespace qm::soak
