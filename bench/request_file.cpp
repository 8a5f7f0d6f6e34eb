// The cost of writing a request file, on the file system of the program
// folder.
//
// For every request the manager replaces TXT/T<host>.txt (a new file written
// beside it, then exchanged with the old one, which is removed) and then
// posts the notice; that time lies on the request road between the last
// fragment and the back-end's notice. Some file systems make replacing a
// file costly (ext4 writes back at once a file truncated and rewritten, or
// renamed over another), so the same write is timed two ways:
//
//  rewrite: WriteRequestFile over the previous request file, as the manager
//           does it;
//  fresh:   the previous file removed first (not timed), so that
//           WriteRequestFile creates it anew.
//
// Writes are paced like requests (one every --gap-ms, default 50). The
// program folder is made below $TMPDIR (default /tmp); point TMPDIR at the
// file system in question.
//
//   request_file [--reps N] [--gap-ms N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "service/request_files.h"

namespace qm::bench {
namespace {

constexpr uint8_t kHost = 1;
constexpr uint8_t kDcb = 1;
constexpr uint8_t kOrderCode = 18;
constexpr size_t kOrderBytes = 120;
constexpr long kWarmUp = 2;
constexpr uint32_t kNoticeWaitMs = 1000;

struct FileFigures {
    bool fresh = false;
    std::string fileSystem;
    Summary us;
    double load1 = 0;
};

std::vector<FileFigures> g_results;
long g_reps = 200;
long g_gapMs = 50;

std::string FileSystemName(const std::string& path) {
    struct statfs s {};
    if (statfs(path.c_str(), &s) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(s.f_type)) {
        case 0xEF53:
            return "ext4";
        case 0x01021994:
            return "tmpfs";
        case 0x58465342:
            return "xfs";
        case 0x9123683E:
            return "btrfs";
        case 0x794C7630:
            return "overlay";
        default: {
            char hex[24];
            std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(s.f_type));
            return hex;
        }
    }
}

void BM_RequestFile(benchmark::State& state) {
    const bool fresh = state.range(0) != 0;
    ProgramFolder home;
    int err = 0;
    auto window = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
    if (!home.Ok() || !window) {
        state.SkipWithError("cannot make the program folder or the window");
        return;
    }
    const std::string txtDir = home / "TXT";
    const std::string path = txtDir + "/T" + std::to_string(kHost) + ".txt";
    std::vector<uint8_t> order(kOrderBytes);
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint8_t>('0' + i % 10);

    std::vector<double> us;
    long rep = 0;
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // Requests come apart; the files are written at that pace.
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(g_gapMs);
        if (fresh)
            unlink(path.c_str());
        const int64_t startUs = NowUs();
        const bool ok = WriteRequestFile(txtDir, window->Handle(), kHost, kDcb, kOrderCode, order);
        const int64_t endUs = NowUs();
        WindowMessage m;
        if (!ok || !window->GetMessage(&m, kNoticeWaitMs) || m.message != WM_POS_NOTICE) {
            state.SkipWithError("the request file was not written and announced");
            break;
        }
        state.SetIterationTime(static_cast<double>(endUs - startUs) / 1e6);
        if (rep++ >= kWarmUp)
            us.push_back(static_cast<double>(endUs - startUs));
    }
    if (state.error_occurred())
        return;
    FileFigures f;
    f.fresh = fresh;
    f.fileSystem = FileSystemName(txtDir);
    f.us = Summarise(us);
    f.load1 = LoadAverage1();
    g_results.push_back(f);
    state.counters["med_us"] = f.us.median;
    state.counters["p90_us"] = f.us.p90;
    state.counters["max_us"] = f.us.max;
    state.counters["load1"] = f.load1;
    state.SetLabel(f.fileSystem);
}

void PrintSummary() {
    std::printf("\nRequest file: WriteRequestFile of a %zu-byte order, one every %ld ms\n",
                kOrderBytes, g_gapMs);
    for (const FileFigures& f : g_results) {
        std::printf(
            "%-7s on %-7s n %zu  median %7.1f us  p90 %7.1f us  max %7.1f us  (min %.1f)  "
            "load %.2f\n",
            f.fresh ? "fresh" : "rewrite", f.fileSystem.c_str(), f.us.n, f.us.median, f.us.p90,
            f.us.max, f.us.min, f.load1);
    }
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "reps", &g_reps) ||
        !TakeIntOption(argc, argv, "gap-ms", &g_gapMs))
        return 2;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    PrintMachine("start");
    benchmark::RegisterBenchmark("request_file/rewrite", BM_RequestFile)
        ->Arg(0)
        ->Iterations(g_reps + kWarmUp)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("request_file/fresh", BM_RequestFile)
        ->Arg(1)
        ->Iterations(g_reps + kWarmUp)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    return RunAndSummarise(PrintSummary);
}
