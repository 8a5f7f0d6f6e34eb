// A download run and a link test against simulated terminals, both driven
// through the exported functions as the download and link test panels drive
// them.
//
// download: one station of M terminals that all answer at once; file 1 of
//   the download list (the dish category table: 500 ms after its first line,
//   130 ms after each later one) of N lines of 40 bytes. Measured: the wall
//   time from SDKUpdateProcess(1) to the SDKGetUpdateStatus call that returns
//   3. The run paces itself by fixed pauses, and every frame the writer sends
//   waits the 10 ms write pause under the port lock before it goes out, so
//   no run can be faster than
//
//     floor = 2 x 100                      start: beacons settle, twice
//           + M x 10                       search: one frame per terminal
//           + 300                          before the first line
//           + (P1 + M x 10)                first line: its pause, one beacon each
//           + (N - 1) x (P + M x 10)       later lines
//           + 100 + M x 10 + 100           closing: one done frame each
//
//   in ms, with P1 = 500 and P = 130 for this file. The line frame itself
//   goes out during its pause, so its write pause is not counted again.
//   Target: within 2 % of the floor.
//
// link test: one station of K terminals that echo at once and one silent
//   one, all selected, for S seconds. Measured: probes a second, and the
//   cost of each probe from the test frames on the line. A probe of an
//   echoing terminal should cost the 10 ms write pause; a probe of the silent
//   one the 170 ms echo wait (its own write pause lies inside that wait).
//
// Every time comes from the device simulator's records of the frames,
// CLOCK_MONOTONIC in microseconds, except the two ends of the download: the
// call, and the status query that returned 3.
//
//   download_run [--lines N] [--terminals M] [--echoing K] [--seconds S]
//                [benchmark flags]
//
// Defaults: 500 lines, 20 terminals (about 3 minutes); 4 echoing, 10 s.
// --benchmark_filter=download_run (or link_test) runs one of the two.
// A pseudo-terminal has no baud delay, so no figure holds line time.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/link_session.h"
#include "service/master_data.h"

namespace qm::bench {
namespace {

constexpr uint32_t kBeaconInterval = 100;
constexpr size_t kFileIndex = 1;
constexpr size_t kLineBytes = 40;
// The run's own pauses (ms): the beacons settle twice at the start, the
// first line waits this long, and the closing step has a pause each side.
constexpr double kStartPausesMs = 2 * 100.0;
constexpr double kBeforeFirstLineMs = 300.0;
constexpr double kAroundDoneMs = 100.0;
constexpr double kEchoWaitMs = 170.0;
constexpr double kDownloadTarget = 0.02;

long g_lines = 500;
long g_terminals = 20;
long g_echoing = 4;
long g_seconds = 10;

// --- The frames on the line -------------------------------------------------
enum class Kind : uint8_t {
    kBeacon,        // to a terminal
    kSearch,        // to a terminal
    kLine,          // broadcast
    kDone,          // to a terminal
    kProbe,         // link test frame to a terminal
    kSearchAnswer,  // from a terminal
    kAck,           // from a terminal
    kEcho,          // from a terminal
    kOther,
    kCount
};

struct LineEvent {
    int64_t us = 0;
    Kind kind = Kind::kOther;
    uint8_t address = 0;
    uint32_t record = 0;  // broadcast lines: 1-based record number
};

Kind Classify(const devsim::FrameRecord& r) {
    const devsim::Bytes& b = r.bytes;
    const size_t n = b.size();
    if (r.raw || n < 4)
        return Kind::kOther;
    const uint8_t command = n >= 6 ? b[3] : 0;
    if (r.direction == devsim::Direction::kFromManager) {
        if (n == 4)
            return Kind::kBeacon;
        if (n == 6)
            return command == devsim::kCmdSearch         ? Kind::kSearch
                   : command == devsim::kCmdDownloadDone ? Kind::kDone
                                                         : Kind::kOther;
        if (b[1] == devsim::kBroadcastId)
            return Kind::kLine;
        return n == devsim::kTestFrameLength && command == devsim::kCmdTest ? Kind::kProbe
                                                                            : Kind::kOther;
    }
    if (n == 6)
        return command == devsim::kCmdSearch ? Kind::kSearchAnswer
               : command == devsim::kCmdAck  ? Kind::kAck
                                             : Kind::kOther;
    return n == devsim::kTestFrameLength && command == devsim::kCmdTest ? Kind::kEcho
                                                                        : Kind::kOther;
}

// Keeps a compact record of every frame; called on the simulator's thread,
// so it does little.
class LineTrace {
  public:
    LineTrace() { events_.reserve(1 << 16); }
    void Add(const devsim::FrameRecord& r) {
        LineEvent e;
        e.us = r.timeUs;
        e.kind = Classify(r);
        e.address = r.bytes.size() > 1 ? r.bytes[1] : 0;
        // The record number travels as two base-200 digits plus one.
        if (e.kind == Kind::kLine && r.bytes.size() > 9)
            e.record = static_cast<uint32_t>(r.bytes[8] - 1) + (r.bytes[9] - 1) * 200u;
        std::lock_guard<std::mutex> hold(mu_);
        events_.push_back(e);
        // The waiter is woken once, not for every frame: a wake-up per frame
        // would compete with the link for the processors.
        const size_t k = static_cast<size_t>(e.kind);
        if (++counts_[k] == wanted_[k])
            cv_.notify_all();
    }
    bool WaitForCount(Kind kind, size_t n, int64_t timeoutMs) {
        std::unique_lock<std::mutex> hold(mu_);
        wanted_[static_cast<size_t>(kind)] = n;
        return cv_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return counts_[static_cast<size_t>(kind)] >= n; });
    }
    std::vector<LineEvent> Events() {
        std::lock_guard<std::mutex> hold(mu_);
        return events_;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<LineEvent> events_;
    std::array<size_t, static_cast<size_t>(Kind::kCount)> counts_{};
    std::array<size_t, static_cast<size_t>(Kind::kCount)> wanted_{};
};

double Ms(int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

// The machine's processor time from the first line of /proc/stat, in clock
// ticks: what ran (user, nice, system, irq, softirq), what idled (idle,
// iowait), and what the hypervisor gave to other machines (steal).
struct MachineTicks {
    double busy = 0, idle = 0, steal = 0;
};

MachineTicks ReadMachineTicks() {
    std::ifstream f("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    f >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return {user + nice + system + irq + softirq, idle + iowait, steal};
}

// Shares of the processors' time between two readings, in per cent.
std::string MachineShares(const MachineTicks& a, const MachineTicks& b) {
    const double busy = b.busy - a.busy, idle = b.idle - a.idle, steal = b.steal - a.steal;
    const double all = busy + idle + steal;
    if (all <= 0)
        return "unknown";
    char text[96];
    std::snprintf(text, sizeof text, "busy %.1f %%, idle %.1f %%, stolen %.1f %%", 100 * busy / all,
                  100 * idle / all, 100 * steal / all);
    return text;
}

// --- Download run -------------------------------------------------------------
struct Phase {
    const char* name;
    double floorMs = 0;
    double measuredMs = 0;
};

struct DownloadFigures {
    size_t lines = 0, terminals = 0;
    double measuredMs = 0, floorMs = 0;
    std::vector<Phase> phases;
    // Gaps on the line, ms: an answer to the next frame (write pause
    // included), a line frame to its first beacon (line pause included), a
    // frame to its answer (the simulated terminal's turnaround).
    Summary handoffMs, pauseMs, answerMs;
    // Mean of the first gap less the write pause in each tenth of the lines.
    std::vector<double> handoffByTenth;
    size_t lineFrames = 0, beacons = 0;
    std::string loadStart, loadEnd, machine;
};

std::vector<DownloadFigures> g_downloads;

std::string LineText(size_t i) {
    char text[128];
    std::snprintf(text, sizeof text, "%04zu,Category %04zu,group %02zu,sort %03zu,on        ",
                  i + 1, i + 1, i % 16, i % 1000);
    return std::string(text, kLineBytes);
}

// Floors of the phases, in the order they pass, for N lines and M terminals.
std::vector<Phase> DownloadFloor(size_t n, size_t m) {
    const service::MasterDataFile& file = service::kMasterDataFiles[kFileIndex];
    const double beacons = static_cast<double>(m) * kWritePauseMs;
    return {
        {"start (SDKUpdateProcess returns)", kStartPausesMs},
        {"search (last terminal found)", beacons},
        {"first line (last acknowledgement)", kBeforeFirstLineMs + file.firstLinePause + beacons},
        {"later lines (last acknowledgement)",
         static_cast<double>(n - 1) * (file.laterLinePause + beacons)},
        {"closing (last done acknowledged)", kAroundDoneMs + beacons},
        {"status 3 seen", kAroundDoneMs},
    };
}

// Times of the phase ends from the line's records; false when one is missing.
bool PhaseEnds(const std::vector<LineEvent>& ev, std::array<int64_t, 4>* ends) {
    int64_t lastSearchAnswer = -1, firstLineAck = -1, lastLineAck = -1, lastAck = -1;
    bool secondLineSeen = false, doneSeen = false;
    for (const LineEvent& e : ev) {
        if (e.kind == Kind::kSearchAnswer)
            lastSearchAnswer = e.us;
        if (e.kind == Kind::kLine && e.record >= 2)
            secondLineSeen = true;
        if (e.kind == Kind::kDone)
            doneSeen = true;
        if (e.kind != Kind::kAck)
            continue;
        lastAck = e.us;
        if (!doneSeen) {
            lastLineAck = e.us;
            if (!secondLineSeen)
                firstLineAck = e.us;
        }
    }
    *ends = {lastSearchAnswer, firstLineAck, lastLineAck, lastAck};
    return lastSearchAnswer >= 0 && firstLineAck >= 0 && lastLineAck >= 0 && lastAck > lastLineAck;
}

// The gaps of the lines' phase (from the first line frame to the first done
// frame); see DownloadFigures.
void LineGaps(const std::vector<LineEvent>& ev, DownloadFigures* f) {
    const service::MasterDataFile& file = service::kMasterDataFiles[kFileIndex];
    std::vector<double> handoff, pause, answer;
    const LineEvent* prev = nullptr;
    for (const LineEvent& e : ev) {
        if (e.kind == Kind::kDone)
            break;
        if (e.kind != Kind::kLine && !prev)
            continue;  // still searching
        if (e.kind == Kind::kLine)
            ++f->lineFrames;
        if (e.kind == Kind::kBeacon)
            ++f->beacons;
        if (prev && (e.kind == Kind::kLine || e.kind == Kind::kBeacon || e.kind == Kind::kAck)) {
            const double gap = Ms(e.us - prev->us);
            if (e.kind == Kind::kAck)
                answer.push_back(gap);
            else if (prev->kind == Kind::kAck)
                handoff.push_back(gap);
            else if (prev->kind == Kind::kLine && e.kind == Kind::kBeacon)
                pause.push_back(gap -
                                (prev->record == 1 ? file.firstLinePause : file.laterLinePause));
        }
        prev = &e;
    }
    for (size_t t = 0; t < 10 && !handoff.empty(); ++t) {
        const size_t from = handoff.size() * t / 10, to = handoff.size() * (t + 1) / 10;
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += handoff[i] - kWritePauseMs;
        f->handoffByTenth.push_back(to > from ? sum / static_cast<double>(to - from) : 0);
    }
    f->handoffMs = Summarise(handoff);
    f->pauseMs = Summarise(pause);
    f->answerMs = Summarise(answer);
}

void BM_DownloadRun(benchmark::State& state) {
    const size_t lines = static_cast<size_t>(state.range(0));
    const size_t terminals = static_cast<size_t>(state.range(1));
    LineTrace trace;
    LinkSession session;
    const auto table = session.StartOneStation(
        state, terminals, kBeaconInterval, [&](const std::vector<_DEVINFO>&) {
            session.Sim().SetHistoryLimit(64);
            session.Sim().SetTraceSink([&trace](const devsim::FrameRecord& r) { trace.Add(r); });
        });
    if (table.empty())
        return;
    std::string text;
    for (size_t i = 0; i < lines; ++i) text += LineText(i) + "\r\n";
    if (!session.Home().WriteFile(std::string("TXT/") + service::kMasterDataFiles[kFileIndex].name,
                                  text)) {
        state.SkipWithError("cannot write the download file");
        return;
    }

    DownloadFigures f;
    f.lines = lines;
    f.terminals = terminals;
    f.phases = DownloadFloor(lines, terminals);
    for (const Phase& p : f.phases) f.floorMs += p.floorMs;
    // Generous bound on the whole run: it ends long before unless it is stuck.
    const int64_t boundMs = static_cast<int64_t>(f.floorMs) * 2 + 30000;

    _DCBSELPARAM selection{};
    selection.fileFlags[kFileIndex] = 1;
    selection.dcbListCount = static_cast<uint32_t>(terminals);
    selection.stationIndex = 0;
    for (size_t k = 0; k < terminals; ++k) selection.dcbList[k] = table[0].dcbIds[k];

    _UPDATESTATUS status{};
    uint32_t result = 0;
    int64_t callUs = 0, returnUs = 0, endUs = 0;
    f.loadStart = LoadAverage();
    const MachineTicks ticksBefore = ReadMachineTicks();
    for (auto _ : state) {
        callUs = NowUs();
        SDKUpdateProcess(1, &selection);
        returnUs = NowUs();
        // The closing step sends each terminal one done frame, waits for its
        // acknowledgement, pauses 100 ms and reports the end to the next
        // status query.
        trace.WaitForCount(Kind::kDone, terminals, boundMs);
        const int64_t deadlineUs = NowUs() + boundMs * 1000;
        // The service tells the end only when asked: asked every millisecond
        // from here, the end is seen within about a millisecond.
        while ((result = SDKGetUpdateStatus(&status)) != 3 && NowUs() < deadlineUs)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        endUs = NowUs();
        state.SetIterationTime(static_cast<double>(endUs - callUs) / 1e6);
    }
    SDKUpdateProcess(0, nullptr);
    f.loadEnd = LoadAverage();
    f.machine = MachineShares(ticksBefore, ReadMachineTicks());
    session.Stop();
    session.Sim().Stop();
    if (result != 3) {
        state.SkipWithError("the run did not end");
        return;
    }
    devsim::Station& station = *session.Sim().FindStation(PortName(0));
    for (size_t k = 0; k < terminals; ++k) {
        devsim::Terminal& t = *station.FindTerminal(table[0].dcbIds[k]);
        if (status.dcbStatus[k] != 4 || t.DownloadLines().size() != lines ||
            t.Counters().downloadDone != 1) {
            state.SkipWithError("a terminal did not get the whole file");
            return;
        }
    }

    const std::vector<LineEvent> events = trace.Events();
    std::array<int64_t, 4> ends{};
    if (!PhaseEnds(events, &ends)) {
        state.SkipWithError("a phase is missing from the line's records");
        return;
    }
    const std::array<int64_t, 7> marks = {callUs,  returnUs, ends[0], ends[1],
                                          ends[2], ends[3],  endUs};
    for (size_t i = 0; i < f.phases.size(); ++i)
        f.phases[i].measuredMs = Ms(marks[i + 1] - marks[i]);
    f.measuredMs = Ms(endUs - callUs);
    LineGaps(events, &f);
    g_downloads.push_back(f);

    state.counters["measured_ms"] = f.measuredMs;
    state.counters["floor_ms"] = f.floorMs;
    state.counters["ratio"] = f.measuredMs / f.floorMs;
    state.counters["handoff_med_ms"] = f.handoffMs.median;
    state.counters["load1"] = LoadAverage1();
}

void PrintDownloads() {
    const service::MasterDataFile& file = service::kMasterDataFiles[kFileIndex];
    for (const DownloadFigures& f : g_downloads) {
        std::printf(
            "\nDownload run: file %zu, %zu lines of %zu bytes, 1 station, %zu terminals "
            "answering at once\n",
            kFileIndex, f.lines, kLineBytes, f.terminals);
        std::printf(
            "floor = 2 x 100 + M x %.0f + 300 + (%u + M x %.0f) + (N - 1) x (%u + M x %.0f)"
            " + 100 + M x %.0f + 100 ms\n",
            kWritePauseMs, file.firstLinePause, kWritePauseMs, file.laterLinePause, kWritePauseMs,
            kWritePauseMs);
        std::printf("      (N lines, M terminals, %.0f ms write pause per frame)\n", kWritePauseMs);
        std::printf("%-36s %12s %12s %10s\n", "phase", "floor ms", "measured ms", "excess ms");
        for (const Phase& p : f.phases)
            std::printf("%-36s %12.1f %12.1f %10.1f\n", p.name, p.floorMs, p.measuredMs,
                        p.measuredMs - p.floorMs);
        const double ratio = f.measuredMs / f.floorMs;
        std::printf("%-36s %12.1f %12.1f %10.1f\n", "total", f.floorMs, f.measuredMs,
                    f.measuredMs - f.floorMs);
        std::printf("ratio %.4f -> %s (target: within %.0f %% of the floor)\n", ratio,
                    ratio <= 1.0 + kDownloadTarget ? "met" : "MISSED", kDownloadTarget * 100);
        std::printf("line frames %zu, beacons %zu (floor: %zu and %zu)\n", f.lineFrames, f.beacons,
                    f.lines, f.lines * f.terminals);
        const auto row = [](const char* what, const Summary& s, double less) {
            std::printf("  %-44s n %6zu  median %7.3f  p90 %7.3f  max %8.3f  mean %7.3f ms\n", what,
                        s.n, s.median - less, s.p90 - less, s.max - less, s.mean - less);
        };
        std::printf("where the lines' time goes (excess over the pause each gap contains):\n");
        row("answer -> next frame, less the write pause", f.handoffMs, kWritePauseMs);
        row("line frame -> first beacon, less the pause", f.pauseMs, 0);
        row("frame -> terminal's answer", f.answerMs, 0);
        std::printf(
            "  answer -> next frame, mean less the write pause, by tenth of the lines (ms):");
        for (double x : f.handoffByTenth) std::printf(" %.3f", x);
        std::printf("\nload average: start %s, end %s\n", f.loadStart.c_str(), f.loadEnd.c_str());
        std::printf("processors over the run: %s\n", f.machine.c_str());
    }
}

// --- Link test ----------------------------------------------------------------
struct TestFigures {
    size_t echoing = 0;
    double seconds = 0, probesPerSecond = 0, floorPerSecond = 0;
    Summary echoProbeMs, silentProbeMs;
    uint64_t sent = 0, ok = 0, errors = 0, timeouts = 0;
    uint64_t silentSent = 0, silentTimeouts = 0;
    std::string loadStart, loadEnd, machine;
};

std::vector<TestFigures> g_tests;

void BM_LinkTest(benchmark::State& state) {
    const size_t echoing = static_cast<size_t>(state.range(0));
    const int64_t seconds = state.range(1);
    const size_t terminals = echoing + 1;
    LineTrace trace;
    LinkSession session;
    const auto table = session.StartOneStation(
        state, terminals, kBeaconInterval, [&](const std::vector<_DEVINFO>& site) {
            const uint8_t silent = site[0].dcbIds[echoing];
            session.Sim().FindStation(PortName(0))->FindTerminal(silent)->SetSilent(true);
            session.Sim().SetHistoryLimit(64);
            session.Sim().SetTraceSink([&trace](const devsim::FrameRecord& r) { trace.Add(r); });
        });
    if (table.empty())
        return;
    const uint8_t silentId = table[0].dcbIds[echoing];

    std::vector<_TESTSTATUS> counters(terminals);
    for (_TESTSTATUS& c : counters) c.selected = 1;
    TestFigures f;
    f.echoing = echoing;
    f.loadStart = LoadAverage();
    const MachineTicks ticksBefore = ReadMachineTicks();
    for (auto _ : state) {
        SDKTestProcess(1, 0, counters.data());
        // The measured interval: the test runs on its own.
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        SDKTestProcess(0, 0, nullptr);
    }
    f.loadEnd = LoadAverage();
    f.machine = MachineShares(ticksBefore, ReadMachineTicks());
    session.Stop();
    session.Sim().Stop();

    // Each probe costs until the next one goes on the line. The rate is
    // taken over whole passes: from the first probe of the first pass to the
    // first probe of the last one.
    std::vector<double> echoMs, silentMs;
    const LineEvent* prev = nullptr;
    const uint8_t firstId = table[0].dcbIds[0];
    size_t probes = 0, passProbes = 0;
    int64_t firstUs = 0, passEndUs = 0;
    for (const LineEvent& e : trace.Events()) {
        if (e.kind != Kind::kProbe)
            continue;
        if (prev)
            (prev->address == silentId ? silentMs : echoMs).push_back(Ms(e.us - prev->us));
        else
            firstUs = e.us;
        if (e.address == firstId) {
            passEndUs = e.us;
            passProbes = probes;
        }
        ++probes;
        prev = &e;
    }
    if (passProbes == 0 || silentMs.empty() || echoMs.empty()) {
        state.SkipWithError("too few probes on the line");
        return;
    }
    f.seconds = Ms(passEndUs - firstUs) / 1000.0;
    f.probesPerSecond = static_cast<double>(passProbes) / f.seconds;
    f.floorPerSecond =
        static_cast<double>(terminals) * 1000.0 / (echoing * kWritePauseMs + kEchoWaitMs);
    f.echoProbeMs = Summarise(echoMs);
    f.silentProbeMs = Summarise(silentMs);
    bool consistent = true;
    for (size_t i = 0; i < terminals; ++i) {
        const _TESTSTATUS& c = counters[i];
        f.sent += c.sentCount;
        f.ok += c.okCount;
        f.errors += c.errorCount;
        f.timeouts += c.timeoutCount;
        // Every probe ends good or timed out, once the test has stopped.
        consistent = consistent && c.okCount + c.timeoutCount == c.sentCount && c.sentCount > 0;
    }
    f.silentSent = counters[echoing].sentCount;
    f.silentTimeouts = counters[echoing].timeoutCount;
    if (!consistent || f.errors != 0 || f.silentTimeouts != f.silentSent) {
        state.SkipWithError("the test's counters do not add up");
        return;
    }
    g_tests.push_back(f);
    state.SetIterationTime(f.seconds);
    state.counters["probes_per_s"] = f.probesPerSecond;
    state.counters["silent_probe_ms"] = f.silentProbeMs.mean;
    state.counters["echo_probe_ms"] = f.echoProbeMs.mean;
    state.counters["load1"] = LoadAverage1();
}

void PrintTests() {
    for (const TestFigures& f : g_tests) {
        std::printf("\nLink test: 1 station, %zu echoing terminal(s) and 1 silent, %.2f s\n",
                    f.echoing, f.seconds);
        std::printf(
            "floor: a pass costs K x %.0f + %.0f ms, i.e. %.2f probes a second for K = %zu\n",
            kWritePauseMs, kEchoWaitMs, f.floorPerSecond, f.echoing);
        std::printf("probes a second %.2f, ratio to the floor %.4f\n", f.probesPerSecond,
                    f.probesPerSecond / f.floorPerSecond);
        const auto row = [](const char* what, const Summary& s, double model) {
            std::printf(
                "  %-14s n %5zu  mean %8.3f  median %8.3f  p90 %8.3f  max %8.3f ms;"
                " %.3f x %.0f ms\n",
                what, s.n, s.mean, s.median, s.p90, s.max, s.mean / model, model);
        };
        row("echoing probe", f.echoProbeMs, kWritePauseMs);
        row("silent probe", f.silentProbeMs, kEchoWaitMs);
        std::printf(
            "counters: sent %llu, ok %llu, errors %llu, timeouts %llu (silent: sent %llu,"
            " timeouts %llu)\n",
            static_cast<unsigned long long>(f.sent), static_cast<unsigned long long>(f.ok),
            static_cast<unsigned long long>(f.errors), static_cast<unsigned long long>(f.timeouts),
            static_cast<unsigned long long>(f.silentSent),
            static_cast<unsigned long long>(f.silentTimeouts));
        std::printf("load average: start %s, end %s\n", f.loadStart.c_str(), f.loadEnd.c_str());
        std::printf("processors over the run: %s\n", f.machine.c_str());
    }
}

void PrintSummary() {
    PrintDownloads();
    PrintTests();
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "lines", &g_lines) ||
        !TakeIntOption(argc, argv, "terminals", &g_terminals) ||
        !TakeIntOption(argc, argv, "echoing", &g_echoing) ||
        !TakeIntOption(argc, argv, "seconds", &g_seconds))
        return 2;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    if (g_terminals > QM_MAX_TERMINALS || g_echoing >= QM_MAX_TERMINALS ||
        g_lines > static_cast<long>(qm::kMaxRecordCounter)) {
        std::fprintf(stderr, "at most %d terminals, %d echoing, %u lines\n", QM_MAX_TERMINALS,
                     QM_MAX_TERMINALS - 1, qm::kMaxRecordCounter);
        return 2;
    }
    PrintMachine("start");
    benchmark::RegisterBenchmark("download_run", BM_DownloadRun)
        ->Args({g_lines, g_terminals})
        ->ArgNames({"lines", "terminals"})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("link_test", BM_LinkTest)
        ->Args({g_echoing, g_seconds})
        ->ArgNames({"echoing", "seconds"})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return RunAndSummarise(PrintSummary);
}
