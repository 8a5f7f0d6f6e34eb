// The request road through the manager program, end to end.
//
// The benchmark plays both sides of the manager: the simulated base station
// and terminal on a pseudo-terminal, and the POS back-end, whose window
// starts `qm` with its handle, reads the request file, writes the reply file
// and posts the reply notice. The manager is the real program, headless.
//
//  request: from the terminal's last request fragment on the line (the
//           simulator's record of it) to the back-end's window taking the
//           WM_POS_NOTICE that announces T1.txt; the file is complete before
//           the notice is posted, and is checked after every notice.
//  reply:   from the back-end posting its WM_POS_NOTICE for R1.txt to the
//           reply frame on the line (the simulator's record, taken when the
//           device has read the complete frame; a pseudo-terminal moves the
//           frame in one write, so first and last byte arrive together; on a
//           19200 8N1 line the 30-byte reply frame takes 30 x 0.52 = 15.6 ms
//           from first to last byte). The writer's 10 ms pause is the floor.
//
//   request_road [--reps N] [--qm PATH] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/qm_dlg.h"
#include "bench/bench_support.h"
#include "bench/exchange_times.h"
#include "bench/manager_process.h"
#include "platform/files.h"
#include "platform/window_message.h"
#include "service/request_files.h"
#include "tools/devsim/device_simulator.h"

// The manager program of this build tree, set by the build.
#ifndef QM_PROGRAM
#define QM_PROGRAM "qm"
#endif

namespace qm::bench {
namespace {

constexpr uint8_t kHost = 1;
constexpr uint8_t kDcb = 1;
constexpr uint8_t kOrderCode = 18;  // "DC  ": an order of 40-byte dish blocks
constexpr size_t kOrderBlocks = 3;  // 120 bytes, three fragments
constexpr size_t kBlock = 40;
constexpr long kWarmUp = 2;
constexpr uint32_t kStartWaitMs = 10000;
constexpr uint32_t kRequestWaitMs = 5000;
constexpr int kReplyWaitMs = 5000;
// The reply file's one line: one 20-byte slot, a 30-byte frame.
constexpr const char kReplyLine[] = "OK 0001 ORDER BOOKED";
constexpr size_t kReplyFrame = 20 + 10;

struct RoadFigures {
    Summary requestUs, replyUs;
    Memory memory;
    double managerCpuMs = 0;
    double load1 = 0;
};

std::vector<RoadFigures> g_results;
long g_reps = 200;
std::string g_program = QM_PROGRAM;

devsim::Bytes Order(long rep) {
    devsim::Bytes b(kOrderBlocks * kBlock);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>('0' + (i + rep) % 10);
    return b;
}

// Takes messages until one with this number and lParam comes; its arrival
// time, or -1 when none came in time.
int64_t AwaitNotice(MessageWindow& window, uint32_t message, int64_t lParam, uint32_t timeoutMs,
                    WindowMessage* out) {
    const int64_t deadline = NowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    WindowMessage m;
    for (;;) {
        const int64_t leftMs = (deadline - NowUs()) / 1000;
        if (leftMs <= 0 || !window.GetMessage(&m, static_cast<uint32_t>(leftMs)))
            return -1;
        if (m.message != message || (lParam >= 0 && m.lParam != lParam))
            continue;
        const int64_t at = NowUs();
        if (out)
            *out = m;
        return at;
    }
}

void BM_RequestRoad(benchmark::State& state) {
    ProgramFolder home;
    if (!home.Ok()) {
        state.SkipWithError("cannot make the program folder");
        return;
    }
    const std::string port = PortName(0);
    home.WriteFile("QM.ini",
                   "[CONFIG]\r\nDebugLevel=1\r\nRetryTimes=5\r\nBeaconInterVal=100\r\n"
                   "BeaconTimeout=3000\r\n");
    home.WriteFile("TXT/基站.TXT", std::to_string(kHost) + " " + port + "\r\n");
    home.WriteFile("TXT/点菜机.TXT", std::to_string(kDcb) + " " + std::to_string(kHost) + "\r\n");

    int err = 0;
    auto window = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
    if (!window) {
        state.SkipWithError("cannot create the back-end's window");
        return;
    }
    devsim::DeviceSimulator sim(home.Path());
    devsim::Station& station = sim.AddStation(port);
    if (!station.Ok() || !sim.Start()) {
        state.SkipWithError("cannot start the simulated station");
        return;
    }
    devsim::Terminal& terminal = station.AddTerminal(kDcb);
    sim.SetHistoryLimit(256);

    ManagerProcess manager(g_program, home.Path(), window->Handle());
    WindowMessage hello;
    if (!manager.Started() || AwaitNotice(*window, WM_POS_NOTICE, -1, kStartWaitMs, &hello) < 0 ||
        hello.wParam != 0 || !ValidWindowHandle(static_cast<WindowHandle>(hello.lParam))) {
        state.SkipWithError("the manager did not announce its window");
        return;
    }
    const auto managerWindow = static_cast<WindowHandle>(hello.lParam);

    const std::string requestPath = home / ("TXT/T" + std::to_string(kHost) + ".txt");
    const std::string replyPath = home / ("TXT/R" + std::to_string(kHost) + ".txt");
    char header[16];
    std::snprintf(header, sizeof header, "DC   %.3d\r\n", kDcb);
    const std::string replyText = std::string(header) + kReplyLine + "\r\n";

    std::vector<double> requestUs, replyUs;
    long rep = 0;
    for (auto _ : state) {
        const devsim::Bytes order = Order(rep);
        const size_t repliesBefore = terminal.Replies().size();
        terminal.QueueRequest(kOrderCode, order);

        const int64_t noticeAtUs =
            AwaitNotice(*window, WM_POS_NOTICE, kHost, kRequestWaitMs, nullptr);
        if (noticeAtUs < 0) {
            state.SkipWithError("no request notice from the manager");
            break;
        }
        if (ReadWholeFile(requestPath, 1 << 20) != FormatRequestFile(kDcb, kOrderCode, order)) {
            state.SkipWithError("the request file is not the request");
            break;
        }

        // The back-end's answer: the reply file, then the notice.
        if (!home.WriteFile("TXT/R" + std::to_string(kHost) + ".txt", replyText)) {
            state.SkipWithError("cannot write the reply file");
            break;
        }
        const int64_t postAtUs = NowUs();
        if (!PostMessage(managerWindow, WM_POS_NOTICE, 0, kHost)) {
            state.SkipWithError("cannot post the reply notice");
            break;
        }
        if (!sim.WaitFor([&] { return terminal.Replies().size() > repliesBefore; }, kReplyWaitMs)) {
            state.SkipWithError("the reply did not reach the terminal");
            break;
        }

        const auto records = sim.Frames();
        const ExchangeTimes times = FindExchangeTimes(records, port, kDcb, noticeAtUs, postAtUs);
        const int64_t lastFragmentUs = times.lastFragmentUs;
        const int64_t replyAtUs = times.replyAtUs;
        if (lastFragmentUs < 0 || replyAtUs < 0) {
            state.SkipWithError("a frame is missing from the simulator's records");
            break;
        }
        state.SetIterationTime(static_cast<double>(noticeAtUs - lastFragmentUs) / 1e6);
        if (rep++ < kWarmUp)
            continue;
        requestUs.push_back(static_cast<double>(noticeAtUs - lastFragmentUs));
        replyUs.push_back(static_cast<double>(replyAtUs - postAtUs));
    }

    RoadFigures f;
    f.memory = ReadMemory(std::to_string(manager.Pid()));
    f.managerCpuMs = static_cast<double>(ProcessCpuUs(manager.Pid())) / 1000.0;
    const bool clean = manager.Stop(managerWindow);
    sim.Stop();
    if (state.error_occurred())
        return;
    if (!clean) {
        state.SkipWithError("the manager did not close cleanly");
        return;
    }
    f.requestUs = Summarise(requestUs);
    f.replyUs = Summarise(replyUs);
    f.load1 = LoadAverage1();
    g_results.push_back(f);
    state.counters["request_med_us"] = f.requestUs.median;
    state.counters["request_p90_us"] = f.requestUs.p90;
    state.counters["request_max_us"] = f.requestUs.max;
    state.counters["reply_med_us"] = f.replyUs.median;
    state.counters["reply_p90_us"] = f.replyUs.p90;
    state.counters["reply_max_us"] = f.replyUs.max;
    state.counters["qm_hwm_MiB"] = static_cast<double>(f.memory.hwmKiB) / 1024.0;
    state.counters["load1"] = f.load1;
}

void PrintSummary() {
    std::printf(
        "\nRequest road through %s: 1 station, 1 terminal, order (code %u) of %zu bytes,\n"
        "reply of one 20-byte slot\n",
        g_program.c_str(), kOrderCode, kOrderBlocks * kBlock);
    std::printf("bounds: request notice under 1 ms; reply under %.0f ms (write pause) + 1 ms\n",
                kWritePauseMs);
    std::printf(
        "line: a pseudo-terminal has no baud delay; on 19200 8N1 the %zu-byte reply\n"
        "frame would take %.1f ms from its first byte to its last\n",
        kReplyFrame, LineMs(kReplyFrame));
    const auto row = [](const char* what, const Summary& s, double boundUs) {
        std::printf(
            "  %-7s n %zu  median %8.1f us  p90 %8.1f us  max %8.1f us  (min %.1f)"
            "  -> median %s, p90 %s\n",
            what, s.n, s.median, s.p90, s.max, s.min, s.median < boundUs ? "met" : "MISSED",
            s.p90 < boundUs ? "met" : "MISSED");
    };
    for (const RoadFigures& f : g_results) {
        std::printf("load %.2f; qm: VmRSS %.1f MiB, VmHWM %.1f MiB, CPU %.0f ms over the run\n",
                    f.load1, static_cast<double>(f.memory.rssKiB) / 1024.0,
                    static_cast<double>(f.memory.hwmKiB) / 1024.0, f.managerCpuMs);
        row("request", f.requestUs, 1000.0);
        row("reply", f.replyUs, kWritePauseMs * 1000.0 + 1000.0);
    }
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "reps", &g_reps))
        return 2;
    TakeStringOption(argc, argv, "qm", &g_program);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    PrintMachine("start");
    benchmark::RegisterBenchmark("request_road/order_blocks:3", BM_RequestRoad)
        ->Iterations(g_reps + kWarmUp)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    return RunAndSummarise(PrintSummary);
}
