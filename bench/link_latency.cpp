// Latency of the link's two hand-overs, against simulated devices.
//
//  notice: from the terminal's last request fragment on the line (the device
//          simulator's record of it, taken as the frame is written to the
//          line) to the request notice WM_REQUEST_RECEIVED being taken from
//          the application window's queue by this benchmark's handler.
//  reply:  from SDKSendData being called to the reply frame on the line (the
//          simulator's record, taken when the device has read the complete
//          frame). On a pseudo-terminal a frame moves in one write, so its
//          first and last byte arrive together; on a 19200 8N1 line the last
//          byte of a 50-byte frame follows the first by 50 x 0.52 = 26 ms.
//          The writer pauses 10 ms before every write, so 10 ms is the floor.
//  return: from SDKSendData being called to its return, which waits for the
//          terminal's acknowledgement (the simulated terminal answers at once).
//
//   link_latency [--reps N] [benchmark flags]
//
// The request is an order (transaction 18) of 40-byte dish blocks: one block
// is one fragment, three blocks are 120 bytes in three fragments.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/exchange_times.h"
#include "bench/link_session.h"

namespace qm::bench {
namespace {

constexpr uint32_t kBeaconInterval = 100;
constexpr uint8_t kHost = 1;
constexpr uint8_t kDcb = 1;
constexpr uint8_t kOrderCode = 18;
constexpr size_t kBlock = 40;
constexpr size_t kReplyLength = 40;
// The first exchanges pay for first touches of memory and files.
constexpr long kWarmUp = 2;
// Bounded waits: a request comes within a few beacon rounds.
constexpr uint32_t kRequestWaitMs = 5000;

struct LatencyFigures {
    size_t fragments = 0;
    Summary noticeUs, replyUs, returnUs;
    double load1 = 0;
};

std::vector<LatencyFigures> g_results;
long g_reps = 200;

devsim::Bytes Order(size_t blocks, long rep) {
    devsim::Bytes b(blocks * kBlock);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>('0' + (i + rep) % 10);
    return b;
}

void BM_LinkLatency(benchmark::State& state) {
    const size_t blocks = static_cast<size_t>(state.range(0));
    const size_t fragments = (blocks * kBlock + devsim::kFragmentSize - 1) / devsim::kFragmentSize;
    LinkSession session;
    const auto table = session.StartOneStation(
        state, 1, kBeaconInterval,
        [&](const std::vector<_DEVINFO>&) { session.Sim().SetHistoryLimit(256); });
    if (table.empty())
        return;
    devsim::Terminal& terminal = *session.Sim().FindStation(PortName(0))->FindTerminal(kDcb);
    const std::string port = PortName(0);

    std::vector<double> noticeUs, replyUs, returnUs;
    // Reply bytes stay clear of the frame markers 0x00 and 0xFF, as text does.
    devsim::Bytes reply(kReplyLength, ' ');
    const char kText[] = "OK 0001 ORDER BOOKED";
    std::memcpy(reply.data(), kText, sizeof kText - 1);
    long rep = 0;
    for (auto _ : state) {
        const devsim::Bytes order = Order(blocks, rep);
        terminal.QueueRequest(kOrderCode, order);

        // The notice, taken as the window's handler would take it.
        WindowMessage m;
        int64_t noticeAtUs = -1;
        const int64_t deadline = NowUs() + kRequestWaitMs * 1000LL;
        while (NowUs() < deadline &&
               session.Window().GetMessage(
                   &m, static_cast<uint32_t>((deadline - NowUs()) / 1000 + 1))) {
            if (m.message != WM_REQUEST_RECEIVED)
                continue;
            noticeAtUs = NowUs();
            break;
        }
        if (noticeAtUs < 0) {
            state.SkipWithError("no request notice");
            break;
        }
        _REQUESTRECORD record;
        std::memcpy(&record, reinterpret_cast<const void*>(m.wParam), sizeof record);
        if (record.hostId != kHost || record.dcbId != kDcb || record.code != kOrderCode ||
            record.length != order.size() ||
            std::memcmp(reinterpret_cast<const void*>(m.lParam), order.data(), order.size()) != 0) {
            state.SkipWithError("the notice does not carry the request");
            break;
        }

        // The reply, as the window's handler sends it.
        const int64_t callUs = NowUs();
        const int sent = SDKSendData(kDcb, kHost, kOrderCode, reply.data(), kReplyLength);
        const int64_t returnAtUs = NowUs();
        if (sent != 1) {
            state.SkipWithError("SDKSendData failed");
            break;
        }

        // Read back the line's records; the newest are enough.
        const auto records = session.Sim().Frames();
        const ExchangeTimes times = FindExchangeTimes(records, port, kDcb, noticeAtUs, callUs);
        const int64_t lastFragmentUs = times.lastFragmentUs;
        const int64_t replyAtUs = times.replyAtUs;
        if (lastFragmentUs < 0 || replyAtUs < 0) {
            state.SkipWithError("a frame is missing from the simulator's records");
            break;
        }
        // The iteration's time is the notice latency; the rest are counters.
        state.SetIterationTime(static_cast<double>(noticeAtUs - lastFragmentUs) / 1e6);
        if (rep++ < kWarmUp)
            continue;
        noticeUs.push_back(static_cast<double>(noticeAtUs - lastFragmentUs));
        replyUs.push_back(static_cast<double>(replyAtUs - callUs));
        returnUs.push_back(static_cast<double>(returnAtUs - callUs));
    }
    session.Stop();
    if (state.error_occurred())
        return;

    LatencyFigures f;
    f.fragments = fragments;
    f.noticeUs = Summarise(noticeUs);
    f.replyUs = Summarise(replyUs);
    f.returnUs = Summarise(returnUs);
    f.load1 = LoadAverage1();
    g_results.push_back(f);
    state.counters["fragments"] = static_cast<double>(fragments);
    state.counters["notice_med_us"] = f.noticeUs.median;
    state.counters["notice_p90_us"] = f.noticeUs.p90;
    state.counters["notice_max_us"] = f.noticeUs.max;
    state.counters["reply_med_us"] = f.replyUs.median;
    state.counters["reply_p90_us"] = f.replyUs.p90;
    state.counters["reply_max_us"] = f.replyUs.max;
    state.counters["load1"] = f.load1;
}

void PrintSummary() {
    std::printf("\nLink latency, 1 station, 1 terminal, order requests (code %u), %zu-byte reply\n",
                kOrderCode, kReplyLength);
    std::printf("targets: notice under 1 ms; reply under %.0f ms (write pause) + 1 ms\n",
                kWritePauseMs);
    std::printf(
        "line: a pseudo-terminal has no baud delay; on 19200 8N1 the reply frame of %zu\n"
        "bytes would take %.1f ms from its first byte to its last\n",
        kReplyLength + 10, LineMs(kReplyLength + 10));
    const auto row = [](const char* what, const Summary& s, double boundUs) {
        std::printf("  %-7s n %zu  median %8.1f us  p90 %8.1f us  max %8.1f us  (min %.1f)", what,
                    s.n, s.median, s.p90, s.max, s.min);
        if (boundUs > 0)
            std::printf("  -> median %s, p90 %s", s.median < boundUs ? "met" : "MISSED",
                        s.p90 < boundUs ? "met" : "MISSED");
        std::printf("\n");
    };
    for (const LatencyFigures& f : g_results) {
        std::printf("%zu fragment(s), load %.2f:\n", f.fragments, f.load1);
        row("notice", f.noticeUs, 1000.0);
        row("reply", f.replyUs, kWritePauseMs * 1000.0 + 1000.0);
        row("return", f.returnUs, 0);
    }
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "reps", &g_reps))
        return 2;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    PrintMachine("start");
    for (int blocks : {1, 3}) {
        benchmark::RegisterBenchmark("link_latency/order_blocks", BM_LinkLatency)
            ->Arg(blocks)
            ->Iterations(g_reps + kWarmUp)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    return RunAndSummarise(PrintSummary);
}
