// The soak's books must count each planted fault where it belongs; a ledger
// that settles everything as delivered would pass any soak.
#include "tools/soak/ledger.h"

#include <gtest/gtest.h>

#include <cstring>

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
    l.ReplyWritten(kT, B("R1"));
    l.ReplyWritten(kT, B("R2"));
    l.ReplyWritten(kT, B("R3"));
    std::map<Ledger::Terminal, Received> got;
    got[kT].replies = {B("R2"), B("R2")};
    ReplyReports reports;
    reports.refused[1] = 1;
    reports.sendErrors[1] = 1;
    const Figures f = l.Settle(got, reports);
    EXPECT_EQ(f.repliesDelivered, 1u);
    EXPECT_EQ(f.repliesDuplicated, 1u);
    EXPECT_EQ(f.repliesSuperseded, 1u);
    EXPECT_EQ(f.repliesLost, 1u);
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
