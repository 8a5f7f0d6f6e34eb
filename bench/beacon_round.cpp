// The beacon round on an idle station.
//
// Each visit of the beacon to a terminal that has nothing to say should cost
// one BeaconInterVal of quiet plus the writer's 10 ms pause; the round is that
// times the number of terminals. The visits are timed from the device
// simulator's records of the beacons as they arrive on the line, with one
// terminal (every beacon to it) and with a full station of 200 (two rounds).
//
//   beacon_round [--beacons N] [--rounds N] [benchmark flags]
//
// A beacon is 4 bytes: 4 x 0.52 ms = 2.08 ms on a 19200 8N1 line, and the
// terminal's 4-byte answer as long again. A pseudo-terminal has no baud
// delay, so neither shows here; on a real line both fit inside the dwell.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/link_session.h"

namespace qm::bench {
namespace {

constexpr uint32_t kBeaconInterval = 100;  // ms, the configured default
// The start-up's own beacons are left out of the figures.
constexpr size_t kWarmUpBeacons = 2;
// Beyond any plausible visit: the wait for the beacons is bounded by this
// much per visit expected.
constexpr int64_t kVisitBoundMs = 1000;

struct RoundFigures {
    size_t terminals = 0;
    Summary visitMs;
    Summary roundMs;
    double ratio = 0;
    size_t outOfOrder = 0;
    double load1 = 0;
};

std::vector<RoundFigures> g_results;
long g_beacons = 100;  // one terminal: beacons timed
long g_rounds = 2;     // 200 terminals: rounds timed

// Beacon times from the simulator's trace, in the order they were recorded.
class BeaconLog {
  public:
    void Add(const devsim::FrameRecord& r) {
        if (r.direction != devsim::Direction::kFromManager || r.raw || r.bytes.size() != 4)
            return;
        std::lock_guard<std::mutex> hold(mu_);
        timesUs_.push_back(r.timeUs);
        ids_.push_back(r.bytes[1]);
        cv_.notify_all();
    }
    bool WaitForCount(size_t n, int64_t timeoutMs) {
        std::unique_lock<std::mutex> hold(mu_);
        return cv_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return timesUs_.size() >= n; });
    }
    std::vector<int64_t> Times() {
        std::lock_guard<std::mutex> hold(mu_);
        return timesUs_;
    }
    std::vector<uint8_t> Ids() {
        std::lock_guard<std::mutex> hold(mu_);
        return ids_;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<int64_t> timesUs_;
    std::vector<uint8_t> ids_;
};

void BM_BeaconRound(benchmark::State& state) {
    const size_t terminals = static_cast<size_t>(state.range(0));
    const size_t visits = static_cast<size_t>(state.range(1));

    BeaconLog log;
    LinkSession session;
    const auto table = session.StartOneStation(
        state, terminals, kBeaconInterval, [&](const std::vector<_DEVINFO>&) {
            session.Sim().SetHistoryLimit(64);
            session.Sim().SetTraceSink([&log](const devsim::FrameRecord& r) { log.Add(r); });
        });
    if (table.empty())
        return;

    const size_t needed = kWarmUpBeacons + visits + 1;
    bool complete = false;
    for (auto _ : state) {
        complete = log.WaitForCount(needed, static_cast<int64_t>(needed) * kVisitBoundMs);
    }
    session.Stop();
    session.Sim().Stop();
    if (!complete) {
        state.SkipWithError("the beacons did not come");
        return;
    }

    const std::vector<int64_t> times = log.Times();
    const std::vector<uint8_t> ids = log.Ids();
    std::vector<double> visitMs;
    size_t outOfOrder = 0;
    for (size_t i = kWarmUpBeacons; i < kWarmUpBeacons + visits; ++i) {
        visitMs.push_back(static_cast<double>(times[i + 1] - times[i]) / 1000.0);
        const uint8_t next = static_cast<uint8_t>(ids[i] % terminals + 1);
        if (ids[i + 1] != next)
            ++outOfOrder;
    }
    std::vector<double> roundMs;
    for (size_t r = 0; (r + 1) * terminals <= visits; ++r) {
        const size_t a = kWarmUpBeacons + r * terminals;
        roundMs.push_back(static_cast<double>(times[a + terminals] - times[a]) / 1000.0);
    }

    RoundFigures f;
    f.terminals = terminals;
    f.visitMs = Summarise(visitMs);
    f.roundMs = Summarise(roundMs);
    f.ratio = f.visitMs.mean / (kBeaconInterval + kWritePauseMs);
    f.outOfOrder = outOfOrder;
    f.load1 = LoadAverage1();
    g_results.push_back(f);

    state.SetIterationTime(
        static_cast<double>(times[kWarmUpBeacons + visits] - times[kWarmUpBeacons]) / 1e6);
    state.counters["visits"] = static_cast<double>(visits);
    state.counters["visit_mean_ms"] = f.visitMs.mean;
    state.counters["visit_min_ms"] = f.visitMs.min;
    state.counters["visit_max_ms"] = f.visitMs.max;
    state.counters["round_mean_ms"] = f.roundMs.mean;
    state.counters["ratio"] = f.ratio;
    state.counters["out_of_order"] = static_cast<double>(outOfOrder);
    state.counters["load1"] = f.load1;
}

void PrintSummary() {
    const double model = kBeaconInterval + kWritePauseMs;
    std::printf("\nBeacon round, idle station, BeaconInterVal %u ms, write pause %.0f ms\n",
                kBeaconInterval, kWritePauseMs);
    std::printf("model: %.0f ms a visit; target: mean visit within 3 %% of it\n", model);
    std::printf(
        "line floor: a beacon is 4 x %.2f ms = %.2f ms on 19200 8N1, its answer as long;\n"
        "a pseudo-terminal has no baud delay, so the line time is not in these figures\n",
        kByteMs, LineMs(4));
    for (const RoundFigures& f : g_results) {
        std::printf(
            "%-3zu terminal(s): %zu visits, visit mean %.2f ms (min %.2f, max %.2f); "
            "round mean %.1f ms over %zu round(s); ratio %.3f -> %s (to BeaconInterVal "
            "alone %.3f); out of order %zu; load %.2f\n",
            f.terminals, f.visitMs.n, f.visitMs.mean, f.visitMs.min, f.visitMs.max, f.roundMs.mean,
            f.roundMs.n, f.ratio, std::abs(f.ratio - 1.0) <= 0.03 ? "met" : "MISSED",
            f.visitMs.mean / kBeaconInterval, f.outOfOrder, f.load1);
    }
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "beacons", &g_beacons) ||
        !TakeIntOption(argc, argv, "rounds", &g_rounds))
        return 2;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    PrintMachine("start");
    benchmark::RegisterBenchmark("beacon_round/terminals:1", BM_BeaconRound)
        ->Args({1, g_beacons})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("beacon_round/terminals:200", BM_BeaconRound)
        ->Args({QM_MAX_TERMINALS, g_rounds * QM_MAX_TERMINALS})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return RunAndSummarise(PrintSummary);
}
