// The receive path: reassembly, acknowledgements, checksum errors and
// malformed input, with the bytes on the line.
#include "tests/integration/traffic_fixture.h"

namespace qm::test {
namespace {

class Receive : public TrafficFixture {
  protected:
    int AcksTo(uint8_t id) {
        int n = 0;
        for (auto& f : FromManager("COM3"))
            if (IsControl(f, id, 0x01))
                ++n;
        return n;
    }
};

TEST_F(Receive, ThreeFragmentsWithARepeatGiveOneIntactRequest) {
    Start({{"COM3", {4}}});
    devsim::Terminal& t = Term("COM3", 4);
    t.RepeatFragment(2);
    const Bytes request = Pattern(130);  // 50 + 50 + 30
    t.QueueRequest(0x12, request);
    auto req = NextRequest(3000);
    ASSERT_TRUE(req);
    EXPECT_EQ(req->record.hostId, 1);
    EXPECT_EQ(req->record.dcbId, 4);
    EXPECT_EQ(req->record.code, 0x12);
    const uint32_t length = req->record.length;  // a packed field: copied, never bound
    EXPECT_EQ(length, 130u);
    EXPECT_EQ(req->data, request);
    // Fragments 1 and 2 (twice) are acknowledged; fragment 3 waits for the reply.
    int fragments = 0;
    for (auto& f : Records("COM3", Direction::kToManager))
        if (f.bytes.size() >= 10)
            ++fragments;
    EXPECT_EQ(fragments, 4);
    EXPECT_EQ(AcksTo(4), 3);
    EXPECT_FALSE(NextRequest(300)) << "the repeat must not post a second notice";
    ASSERT_EQ(SDKSendData(4, 1, 0x12, Text("DONE").data(), 4), 1);
    EXPECT_EQ(AcksTo(4), 3);
}

TEST_F(Receive, AFragmentCompletesOnlyItsOwnRequestAndOnlyInOrder) {
    struct Fragment {
        uint8_t dcb, total, k;
        const char* text;
    };
    using Notices = std::vector<std::pair<int, std::string>>;
    const struct {
        const char* name;
        std::vector<Fragment> frames;
        Notices notices;
        int drops;
    } cases[] = {
        {"another terminal in between",
         {{4, 2, 1, "AAAA"}, {4, 2, 2, "BBBB"}, {5, 1, 1, "CCCC"}, {4, 2, 2, "BBBB"}},
         {{4, "AAAABBBB"}, {5, "CCCC"}},
         1},
        {"a gap", {{4, 3, 1, "AAAA"}, {4, 3, 3, "CCCC"}}, {}, 1},
        // Terminal 4 goes out of reach after two of three fragments.
        {"a terminal gone mid-request",
         {{4, 3, 1, "AAAA"},
          {4, 3, 2, "BBBB"},
          {5, 2, 1, "CCCC"},
          {5, 2, 2, "DDDD"},
          {4, 2, 1, "EEEE"},
          {4, 2, 2, "FFFF"}},
         {{5, "CCCCDDDD"}, {4, "EEEEFFFF"}},
         0},
        // A terminal that missed its reply sends its last fragment again.
        {"the owner's last again",
         {{4, 2, 1, "AAAA"}, {4, 2, 2, "BBBB"}, {4, 2, 2, "BBBB"}},
         {{4, "AAAABBBB"}, {4, "AAAABBBB"}},
         0},
        {"a single fragment twice",
         {{4, 1, 1, "0012"}, {4, 1, 1, "0012"}},
         {{4, "0012"}, {4, "0012"}},
         0},
    };
    Start({{"COM3", {4, 5}}});
    Term("COM3", 4).SetSilent(true);
    Term("COM3", 5).SetSilent(true);
    int drops = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes raw;
        for (const Fragment& f : c.frames) {
            Bytes frame = devsim::DataFrame(f.dcb, 0x12, f.total, f.k, Text(f.text));
            raw.insert(raw.end(), frame.begin(), frame.end());
        }
        Bytes end = devsim::DataFrame(5, 0x0D, 1, 1, Text("END"));  // closes the case
        raw.insert(raw.end(), end.begin(), end.end());
        sim_->FindStation("COM3")->InjectRaw(raw);
        Notices got;
        for (auto r = NextRequest(3000); r && r->record.code != 0x0D; r = NextRequest(3000))
            got.emplace_back(r->record.dcbId, std::string(r->data.begin(), r->data.end()));
        EXPECT_EQ(got, c.notices);
        drops += c.drops;
        EXPECT_EQ(CountLogLines("Fragment out of order, dropped"), drops);
    }
}

TEST_F(Receive, AWrongChecksumDrawsExactlyOneChecksumError) {
    Start({{"COM3", {4}}});
    devsim::Terminal& t = Term("COM3", 4);
    t.CorruptDataFrames(1);
    t.QueueRequest(0x0D, Text("0099"));
    auto req = NextRequest(3000);
    ASSERT_TRUE(req) << "the terminal resends after the checksum error";
    EXPECT_EQ(req->data, Text("0099"));
    int errors = 0;
    for (auto& f : FromManager("COM3"))
        if (IsControl(f, 4, 0x02))
            ++errors;
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(t.Counters().checksumErrors, 1u);
}

TEST_F(Receive, MalformedInputIsLoggedAndTheLinkGoesOn) {
    Start({{"COM3", {5}}});
    devsim::Station& com3 = *sim_->FindStation("COM3");
    Term("COM3", 5).SetSilent(true);
    Bytes overlong(300, 0x41);
    overlong[0] = 0x00;
    com3.InjectRaw(overlong);                                    // error 2
    com3.InjectRaw({0x00, 0x05, 0xFF});                          // error 3
    com3.InjectRaw({0x00, 0x05, 0xF9, 0xFF});                    // error 4
    com3.InjectRaw({0x00, 0x05, 0xFA, 0x01, 0xFD, 0xFF});        // error 5
    com3.InjectRaw({0x00, 0x05, 0xFA, 0x00, 0x05, 0xFA, 0xFF});  // error 6, then a beacon
    ASSERT_TRUE(WaitUntil(
        [] {
            std::string log = ReadFile("QMPktLog.txt");
            for (const char* tag : {"[E2] ", "[E3] ", "[E4] ", "[E5] ", "[E6] "})
                if (log.find(tag) == std::string::npos)
                    return false;
            return true;
        },
        3000))
        << ReadFile("QMPktLog.txt");
    const std::string log = ReadFile("QMPktLog.txt");
    EXPECT_NE(log.find("[E3] 00 05 FF \r\n"), std::string::npos);
    EXPECT_NE(log.find("[E6] 00 05 FA \r\n"), std::string::npos);
    EXPECT_NE(log.find("[R] 00 05 FA FF \r\n"), std::string::npos);

    Term("COM3", 5).SetSilent(false);
    Term("COM3", 5).QueueRequest(0x0D, Text("0001"));
    EXPECT_TRUE(NextRequest(3000));
}

TEST_F(Receive, ARequestBeyondTheMessageBufferIsDroppedWhole) {
    Start({{"COM3", {4}}});
    devsim::Terminal& t = Term("COM3", 4);
    t.RepeatFragment(101);                // the terminal, never answered, asks again
    t.QueueRequest(0x12, Pattern(5050));  // 101 fragments
    ASSERT_TRUE(
        WaitUntil([] { return CountLogLines("Fragment out of order, dropped") == 1; }, 8000));
    EXPECT_EQ(CountLogLines("Request too long, dropped"), 1);
    t.QueueRequest(0x0D, Text("0001"));
    auto next = NextRequest(3000);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->record.code, 0x0D);
}

}  // namespace
}  // namespace qm::test
