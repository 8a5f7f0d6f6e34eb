// Download runs through SDKUpdateProcess and SDKGetUpdateStatus, against the
// simulated terminals: what goes on the line, and what the status reports.
#include <set>

#include "tests/runs/run_fixture.h"

namespace qm::test {
namespace {

class Download : public RunFixture {
  protected:
    // Queries the status every few milliseconds, as the panel does, until it
    // reports 3: each change of the result and its time (ms) are kept.
    void PollToEnd(int timeoutMs, const std::function<void(uint32_t)>& each = {}) {
        WaitUntil(
            [&] {
                const uint32_t r = SDKGetUpdateStatus(&status_);
                if (each)
                    each(r);
                if (results_.empty() || results_.back() != r) {
                    results_.push_back(r);
                    changedAt_.push_back(MonotonicMs());
                }
                return r == 3;
            },
            timeoutMs);
    }
    std::vector<Bytes> Between(const std::string& port, Direction d, int64_t fromUs,
                               int64_t toUs) const {
        std::vector<Bytes> out;
        for (const FrameRecord& f : Records(port, d))
            if (f.timeUs >= fromUs && f.timeUs <= toUs)
                out.push_back(f.bytes);
        return out;
    }
    // The frames to a station as words: s4 search and d4 done frame to
    // terminal 4, b4 beacon to it, L2 broadcast of record 2.
    static std::string Words(const std::vector<Bytes>& frames) {
        std::string w;
        for (const Bytes& f : frames) {
            if (IsData(f, 0xFE))
                w += "L" + std::to_string(f[8] - 1 + (f[9] - 1) * 200);
            else if (f.size() == 4 || f.size() == 6)
                w += (f.size() == 4  ? "b"
                      : f[3] == 0x23 ? "s"
                      : f[3] == 4    ? "d"
                                     : "?") +
                     std::to_string(f[1]);
            w += ' ';
        }
        return w;
    }
    static long Count(const std::vector<Bytes>& frames,
                      const std::function<bool(const Bytes&)>& p) {
        return std::count_if(frames.begin(), frames.end(), p);
    }

    _UPDATESTATUS status_{};
    std::vector<uint32_t> results_;
    std::vector<int64_t> changedAt_;
};

TEST_F(Download, SendsEachLineToEveryTerminalAndPausesAllBeacons) {
    const std::vector<std::string> dishes = {"A1", "B22", "C333"};
    WriteMasterData(0, dishes);
    WriteMasterData(2, {"", "after the empty line"});  // no record: skipped
    Start({{"COM3", {4, 7}}, {"COM4", {9}}});
    _DCBSELPARAM sel = Selection({0, 2}, {4, 7});
    SDKUpdateProcess(1, &sel);
    const int64_t begun = devsim::MonotonicUs();
    PollToEnd(40000);
    EXPECT_EQ(results_, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(status_.dcbStatus[0], 4);
    EXPECT_EQ(status_.dcbStatus[1], 4);
    EXPECT_EQ(status_.fileIndex, 0);
    // The record is packed: its words are compared by value.
    EXPECT_EQ(uint32_t{status_.lineTotal}, 3u);
    EXPECT_EQ(uint32_t{status_.lineNumber}, 3u);
    EXPECT_EQ(SDKGetUpdateStatus(&status_), 0u);  // 3 is reported once
    const int64_t ended = devsim::MonotonicUs();
    SDKUpdateProcess(0, nullptr);

    const auto out = Between("COM3", Direction::kFromManager, begun, ended);
    EXPECT_EQ(Words(out), "s4 s7 L1 b4 b7 L2 b4 b7 L3 b4 b7 d4 d7 ");
    std::vector<Bytes> lines;
    std::copy_if(out.begin(), out.end(), std::back_inserter(lines),
                 [](const Bytes& f) { return IsData(f, 0xFE); });
    ASSERT_EQ(lines.size(), 3u);
    for (uint8_t j = 0; j < 3; ++j) {
        const uint8_t n = static_cast<uint8_t>(dishes[j].size());
        EXPECT_EQ(
            Bytes(lines[j].begin() + 3, lines[j].begin() + 10),
            (Bytes{3, 0xFC, static_cast<uint8_t>(n + 4), 4, 1, static_cast<uint8_t>(j + 2), 1}));
        EXPECT_EQ(std::string(lines[j].begin() + 10, lines[j].end() - 2), dishes[j]);
    }
    const auto in = Between("COM3", Direction::kToManager, begun, ended);
    for (uint8_t id : {4, 7})  // three lines and the done frame
        EXPECT_EQ(Count(in, [&](const Bytes& f) { return IsControl(f, id, 1); }), 4) << int(id);
    EXPECT_TRUE(Between("COM4", Direction::kFromManager, begun, ended).empty());
    const size_t mark = FromManager("COM4").size();
    EXPECT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM4", mark, 9); }, 3000));
}

TEST_F(Download, FirstFrameCarriesTheFileTotalAndAStopEndsTheRun) {
    std::vector<std::string> records(250, "dish");
    records[0] = std::string(300, 'x');  // one record however long, cut to fit a frame
    WriteMasterData(1, records);
    Start({{"COM3", {4}}});
    _DCBSELPARAM sel = Selection({1}, {4});
    SDKUpdateProcess(1, &sel);
    ASSERT_TRUE(sim_->WaitFor([&] { return !Term("COM3", 4).DownloadLines().empty(); }, 5000));
    EXPECT_EQ(SDKGetUpdateStatus(&status_), 2u);
    EXPECT_EQ(status_.fileIndex, 1);
    EXPECT_EQ(uint32_t{status_.lineTotal}, 250u);
    EXPECT_EQ(uint32_t{status_.lineNumber}, 1u);
    SDKUpdateProcess(0, nullptr);
    EXPECT_EQ(SDKGetUpdateStatus(&status_), 0u);
    const auto out = FromManager("COM3");
    EXPECT_EQ(Count(out, [](const Bytes& f) { return IsControl(f, 4, 4); }), 10);
    const auto first =
        std::find_if(out.begin(), out.end(), [](const Bytes& f) { return IsData(f, 0xFE); });
    ASSERT_NE(first, out.end());
    EXPECT_EQ(first->size(), 255u);
    EXPECT_EQ(Bytes(first->begin() + 3, first->begin() + 10), (Bytes{4, 0xFB, 247, 51, 2, 2, 1}));
    EXPECT_EQ(CountLogLines("Download line 1 of file 1 too long, cut"), 1);
}

TEST_F(Download, SearchesAboutTwentyFourSecondsForATerminalThatNeverAnswers) {
    WriteMasterData(1, {"cold dishes"});
    Start({{"COM3", {4, 7, 9}}});
    Term("COM3", 9).SetSilent(true);
    _DCBSELPARAM sel = Selection({1}, {4, 7, 9});
    SDKUpdateProcess(1, &sel);
    std::set<std::pair<uint32_t, uint8_t>> silent;  // (result, its status)
    PollToEnd(60000, [&](uint32_t r) { silent.emplace(r, status_.dcbStatus[2]); });
    SDKUpdateProcess(0, nullptr);
    ASSERT_EQ(results_, (std::vector<uint32_t>{1, 2, 3}));
    const int64_t searching = changedAt_[1] - changedAt_[0];
    EXPECT_GE(searching, 20000);
    EXPECT_LE(searching, 30000);
    EXPECT_EQ(silent, (std::set<std::pair<uint32_t, uint8_t>>{{1, 1}, {2, 0}, {3, 0}}));
    EXPECT_EQ(status_.dcbStatus[0], 4);
    EXPECT_EQ(status_.dcbStatus[1], 4);
    EXPECT_EQ(Term("COM3", 4).DownloadLines().size(), 1u);
    EXPECT_EQ(Term("COM3", 7).DownloadLines().size(), 1u);
    EXPECT_EQ(Count(FromManager("COM3"), [](const Bytes& f) { return IsControl(f, 9, 4); }), 0);
    EXPECT_EQ(CountLogLines("DCBID 009)[SendDownloadDone] Fail or Sync"), 1);
}

TEST_F(Download, ATerminalThatStopsAcknowledgingDropsOutAfterFiveBroadcasts) {
    WriteMasterData(1, {"1", "2", "3", "4", "5", "6", "7", "8"});
    Start({{"COM3", {4, 7}}});
    Term("COM3", 7).StopLineAcksAfter(5);
    _DCBSELPARAM sel = Selection({1}, {4, 7});
    SDKUpdateProcess(1, &sel);
    const int64_t begun = devsim::MonotonicUs();
    // A message for the terminal that drops out waits for the end of the
    // run: its plain answers to the run's beacons start no delivery.
    uint8_t note[] = "hi";
    SDKSetSMS(1, 7, note);
    PollToEnd(20000);
    const int64_t ended = devsim::MonotonicUs();
    SDKUpdateProcess(0, nullptr);
    EXPECT_EQ(results_, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(status_.dcbStatus[0], 4);
    EXPECT_EQ(status_.dcbStatus[1], 0);
    EXPECT_EQ(Words(Between("COM3", Direction::kFromManager, begun, ended)),
              "s4 s7 L1 b4 b7 L2 b4 b7 L3 b4 b7 L4 b4 b7 L5 b4 b7 "
              "L6 b4 b7 L6 b7 L6 b7 L6 b7 L6 b7 L7 b4 L8 b4 d4 ");
    EXPECT_TRUE(sim_->WaitFor([&] { return Term("COM3", 7).ShortMessages().size() == 1; }, 3000));
}

TEST_F(Download, StopDuringTheSearchSendsTheFoundTerminalTenDoneFrames) {
    WriteMasterData(1, {"cold dishes"});
    Start({{"COM3", {4, 9}}});
    Term("COM3", 9).SetSilent(true);
    _DCBSELPARAM sel = Selection({1}, {4, 9});
    SDKUpdateProcess(1, &sel);
    ASSERT_TRUE(WaitUntil(
        [&] { return SDKGetUpdateStatus(&status_) == 1 && status_.dcbStatus[0] == 2; }, 5000));
    SDKUpdateProcess(0, nullptr);
    EXPECT_EQ(SDKGetUpdateStatus(&status_), 0u);
    const auto out = FromManager("COM3");
    EXPECT_EQ(Count(out, [](const Bytes& f) { return IsControl(f, 4, 4); }), 10);
    EXPECT_EQ(Count(out, [](const Bytes& f) { return IsControl(f, 9, 4); }), 0);
    EXPECT_TRUE(sim_->WaitFor([&] { return BeaconSince("COM3", out.size(), 4); }, 3000));
}

TEST_F(Download, RefusesWhatItCannotRunAndLogsWhy) {
    Start({{"COM3", {4, 9}}});
    Term("COM3", 9).SetSilent(true);
    _UPDATESTATUS untouched;
    std::memset(&untouched, 0xAB, sizeof untouched);
    status_ = untouched;
    EXPECT_EQ(SDKGetUpdateStatus(&status_), 0u);  // no run yet
    EXPECT_EQ(std::memcmp(&status_, &untouched, sizeof status_), 0);

    _DCBSELPARAM tooMany = Selection({1}, {4});
    tooMany.dcbListCount = 201;
    const struct {
        _DCBSELPARAM selection;
        const char* log;
        bool runFirst;  // a run searching for terminal 9 is under way
    } cases[] = {
        {tooMany, "more than 200 terminals selected", false},
        {Selection({1}, {4}, 1), "no such station running", false},
        {Selection({1}, {4}), "a download run or link test is active", true},
    };
    for (auto c : cases) {
        _DCBSELPARAM first = Selection({1}, {9});
        if (c.runFirst)
            SDKUpdateProcess(1, &first);
        SDKUpdateProcess(1, &c.selection);
        EXPECT_EQ(CountLogLines(c.log), 1) << c.log;
        EXPECT_EQ(SDKGetUpdateStatus(&status_), c.runFirst ? 1u : 0u) << c.log;
        EXPECT_FALSE(sim_->WaitFor(
            [&] {
                const auto out = FromManager("COM3");
                return std::any_of(out.begin(), out.end(),
                                   [](const Bytes& f) { return IsControl(f, 4, 0x23); });
            },
            500))
            << c.log;
        SDKUpdateProcess(0, nullptr);
    }
}

}  // namespace
}  // namespace qm::test
