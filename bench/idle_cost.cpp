// What the link costs while nothing happens: 8 base stations of 200 terminals
// each, beaconing, every terminal silent (out of reach). A silent terminal
// makes each visit of the beacon cost one full BeaconInterVal of waiting, so
// this is the steady state of a site whose terminals are all switched off.
//
// The devices run in a child process, so that the CPU time of this process is
// the link's: its four threads per station, plus the idle window that would
// receive the notices and this benchmark's main thread, which only waits.
//
// With --program, a further run measures the manager program itself: `qm`
// started headless as a back-end starts it, with the same site in its site
// files, the devices in this process; its CPU time is read from
// /proc/<pid>/stat (in clock ticks, 10 ms here) and its memory from
// /proc/<pid>/status.
//
//   idle_cost [--seconds N] [--answering] [--program [--qm PATH]] [benchmark flags]
//
// --seconds: length of the measured interval (default 60).
// --answering: a further run with terminals that answer every beacon.
//
// Targets: under 1 % of one core (600 ms of CPU a minute), under 20 MiB
// resident.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/qm_dlg.h"
#include "bench/bench_support.h"
#include "bench/manager_process.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"

// The manager program of this build tree, set by the build.
#ifndef QM_PROGRAM
#define QM_PROGRAM "qm"
#endif

namespace qm::bench {
namespace {

constexpr uint32_t kBeaconInterval = 100;
constexpr size_t kStations = QM_MAX_STATIONS;
constexpr size_t kTerminals = QM_MAX_TERMINALS;
// After SDKInit returns, the first beacons of every station are under way;
// this long is left before the measured interval starts.
constexpr int kSettleMs = 2000;
// Bounds of the waits on the simulator's process.
constexpr int kChildReadyMs = 20000;
constexpr int kChildEndMs = 20000;

struct CostFigures {
    std::string what;
    double seconds = 0;
    double cpuMs = 0;
    double cpuPercent = 0;
    double cpuMsPerMinute = 0;
    uint64_t beacons = 0;
    Memory memory;
    double load1 = 0;
};

std::vector<CostFigures> g_results;
long g_seconds = 60;
std::string g_program = QM_PROGRAM;

void Record(benchmark::State& state, CostFigures f) {
    f.cpuPercent = f.cpuMs / (f.seconds * 1000.0) * 100.0;
    f.cpuMsPerMinute = f.cpuMs / f.seconds * 60.0;
    f.load1 = LoadAverage1();
    state.counters["cpu_ms"] = f.cpuMs;
    state.counters["cpu_pct_core"] = f.cpuPercent;
    state.counters["cpu_ms_per_min"] = f.cpuMsPerMinute;
    state.counters["beacons_per_s"] = static_cast<double>(f.beacons) / f.seconds;
    state.counters["cpu_us_per_beacon"] =
        f.beacons ? f.cpuMs * 1000.0 / static_cast<double>(f.beacons) : 0;
    state.counters["rss_MiB"] = static_cast<double>(f.memory.rssKiB) / 1024.0;
    state.counters["hwm_MiB"] = static_cast<double>(f.memory.hwmKiB) / 1024.0;
    state.counters["load1"] = f.load1;
    g_results.push_back(f);
}

// Reads exactly n bytes, waiting at most timeoutMs in all. False on
// end-of-file, error or time-out.
bool ReadFully(int fd, void* buf, size_t n, int timeoutMs) {
    auto* p = static_cast<uint8_t*>(buf);
    const int64_t end = NowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    size_t got = 0;
    while (got < n) {
        const int64_t left = (end - NowUs()) / 1000;
        if (left <= 0)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        const int r = poll(&pfd, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t k = read(fd, p + got, n - got);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        got += static_cast<size_t>(k);
    }
    return true;
}

bool WriteByte(int fd, char c) {
    for (;;) {
        const ssize_t k = write(fd, &c, 1);
        if (k == 1)
            return true;
        if (k < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// The child: the devices of the whole site. It reports 'R' once the lines
// exist, counts the beacons between the parent's 'S' and 'E', and when the
// parent closes the control pipe sends that count and ends.
[[noreturn]] void RunDevices(const std::string& home, bool silent, int reportFd, int controlFd) {
    int status = 1;
    {
        std::atomic<uint64_t> beacons{0};
        devsim::DeviceSimulator sim(home);
        std::string error;
        auto table = BuildSite(sim, kStations, kTerminals, silent, &error);
        sim.SetHistoryLimit(16);
        sim.SetTraceSink([&beacons](const devsim::FrameRecord& r) {
            if (r.direction == devsim::Direction::kFromManager && !r.raw && r.bytes.size() == 4)
                beacons.fetch_add(1, std::memory_order_relaxed);
        });
        if (!table.empty() && sim.Start() && WriteByte(reportFd, 'R')) {
            uint64_t start = 0, end = 0;
            char c;
            // Blocks until the parent writes or closes its end; the parent
            // closing it (or dying) ends the loop.
            while (read(controlFd, &c, 1) == 1) {
                if (c == 'S')
                    start = beacons.load();
                if (c == 'E')
                    end = beacons.load();
            }
            sim.Stop();
            const uint64_t counted = end - start;
            if (write(reportFd, &counted, sizeof counted) == sizeof counted)
                status = 0;
        }
    }
    _exit(status);
}

double RusageMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

// The devices' process: started by the constructor, ended and reaped by
// the destructor in every case.
class DeviceProcess {
  public:
    DeviceProcess(const std::string& home, bool silent) {
        int report[2], control[2];
        if (pipe2(report, O_CLOEXEC) != 0)
            return;
        if (pipe2(control, O_CLOEXEC) != 0) {
            close(report[0]);
            close(report[1]);
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            close(control[1]);
            RunDevices(home, silent, report[1], control[0]);
        }
        close(report[1]);
        close(control[0]);
        reportFd_ = report[0];
        controlFd_ = control[1];
        if (pid_ < 0)
            Close();
    }
    ~DeviceProcess() { End(nullptr); }
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    bool WaitReady() {
        char c = 0;
        return pid_ > 0 && ReadFully(reportFd_, &c, 1, kChildReadyMs) && c == 'R';
    }
    bool Mark(char c) { return controlFd_ >= 0 && WriteByte(controlFd_, c); }
    // Waits up to ms; false if the devices' process ended meanwhile (its end
    // of the report pipe closes).
    bool StaysUp(int ms) {
        const int64_t end = NowUs() + static_cast<int64_t>(ms) * 1000;
        for (;;) {
            const int64_t left = (end - NowUs()) / 1000;
            if (left <= 0)
                return true;
            pollfd pfd{reportFd_, POLLIN, 0};
            const int r = poll(&pfd, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r != 0)
                return false;
        }
    }
    // Closes the control pipe, takes the beacon count and reaps the process.
    bool End(uint64_t* beacons) {
        if (pid_ <= 0) {
            Close();
            return false;
        }
        if (controlFd_ >= 0)
            close(controlFd_);
        controlFd_ = -1;
        uint64_t n = 0;
        const bool counted = ReadFully(reportFd_, &n, sizeof n, kChildEndMs);
        if (counted && beacons)
            *beacons = n;
        // Once the count has come (or did not in time) the process is
        // ending; one that hangs is killed so that the wait stays bounded.
        if (!counted)
            kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        Close();
        return counted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

  private:
    void Close() {
        if (reportFd_ >= 0)
            close(reportFd_);
        if (controlFd_ >= 0)
            close(controlFd_);
        reportFd_ = controlFd_ = -1;
    }
    pid_t pid_ = -1;
    int reportFd_ = -1;
    int controlFd_ = -1;
};

void BM_IdleCost(benchmark::State& state) {
    const bool silent = state.range(0) != 0;
    ProgramFolder home;
    if (!home.Ok()) {
        state.SkipWithError("cannot make the program folder");
        return;
    }
    // The devices' process is forked while this process has no thread but
    // its main one.
    DeviceProcess devices(home.Path(), silent);
    if (!devices.WaitReady()) {
        state.SkipWithError("the simulated devices did not start");
        return;
    }
    int err = 0;
    auto window = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
    if (!window) {
        state.SkipWithError("cannot create the window");
        return;
    }
    std::vector<_DEVINFO> table;
    for (size_t s = 0; s < kStations; ++s) {
        _DEVINFO d{};
        d.hostId = static_cast<uint8_t>(s + 1);
        const std::string port = PortName(s);
        std::memcpy(d.portName, port.data(), std::min(port.size(), sizeof d.portName));
        d.dcbCount = kTerminals;
        for (size_t t = 0; t < kTerminals; ++t) d.dcbIds[t] = static_cast<uint8_t>(t + 1);
        table.push_back(d);
    }
    SetDebugLevel(1);
    SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, kBeaconInterval);
    if (SDKInit(reinterpret_cast<void*>(static_cast<uintptr_t>(window->Handle())), table.data(),
                static_cast<uint32_t>(table.size())) != 1) {
        state.SkipWithError("SDKInit failed");
        return;
    }

    CostFigures f;
    f.what = silent ? "in-process link, silent terminals" : "in-process link, answering terminals";
    bool up = devices.StaysUp(kSettleMs);
    for (auto _ : state) {
        if (!up || !devices.Mark('S'))
            break;
        const int64_t startUs = NowUs();
        const double startCpu = RusageMs();
        // The measured interval: this thread waits, watching the devices.
        up = devices.StaysUp(static_cast<int>(g_seconds * 1000));
        const double endCpu = RusageMs();
        const int64_t endUs = NowUs();
        if (!up || !devices.Mark('E'))
            break;
        f.seconds = static_cast<double>(endUs - startUs) / 1e6;
        f.cpuMs = endCpu - startCpu;
        f.memory = ReadMemory();
        state.SetIterationTime(f.seconds);
    }
    SDKDeInit();
    SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, kDefaultBeaconInterval);
    window.reset();
    const bool counted = devices.End(&f.beacons);
    if (!up || !counted || f.seconds <= 0) {
        state.SkipWithError("the simulated devices ended early");
        return;
    }
    Record(state, f);
}

// Beacons seen on the lines, counted from the simulator's trace.
struct BeaconCounter {
    std::atomic<uint64_t> n{0};
    void Add(const devsim::FrameRecord& r) {
        if (r.direction == devsim::Direction::kFromManager && !r.raw && r.bytes.size() == 4)
            n.fetch_add(1, std::memory_order_relaxed);
    }
};

void BM_IdleCostProgram(benchmark::State& state) {
    ProgramFolder home;
    if (!home.Ok()) {
        state.SkipWithError("cannot make the program folder");
        return;
    }
    std::string stations, terminals;
    for (size_t s = 0; s < kStations; ++s) {
        stations += std::to_string(s + 1) + " " + PortName(s) + "\r\n";
        for (size_t t = 0; t < kTerminals; ++t)
            terminals += std::to_string(t + 1) + " " + std::to_string(s + 1) + "\r\n";
    }
    home.WriteFile("QM.ini", "[CONFIG]\r\nDebugLevel=1\r\nBeaconInterVal=100\r\n");
    home.WriteFile("TXT/基站.TXT", stations);
    home.WriteFile("TXT/点菜机.TXT", terminals);

    BeaconCounter beacons;
    int err = 0;
    auto window = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
    if (!window) {
        state.SkipWithError("cannot create the back-end's window");
        return;
    }
    devsim::DeviceSimulator sim(home.Path());
    std::string error;
    if (BuildSite(sim, kStations, kTerminals, true, &error).empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    sim.SetHistoryLimit(16);
    sim.SetTraceSink([&beacons](const devsim::FrameRecord& r) { beacons.Add(r); });
    if (!sim.Start()) {
        state.SkipWithError("cannot start the simulated devices");
        return;
    }
    ManagerProcess manager(g_program, home.Path(), window->Handle());
    WindowMessage hello;
    const bool announced = manager.Started() && window->GetMessage(&hello, kChildReadyMs) &&
                           hello.message == WM_POS_NOTICE && hello.wParam == 0;
    if (!announced) {
        state.SkipWithError("the manager did not announce its window");
        return;
    }
    const auto managerWindow = static_cast<WindowHandle>(hello.lParam);

    CostFigures f;
    f.what = "qm program, silent terminals";
    bool up = manager.StaysUp(kSettleMs);
    for (auto _ : state) {
        if (!up)
            break;
        const uint64_t startBeacons = beacons.n.load();
        const int64_t startUs = NowUs();
        const int64_t startCpuUs = ProcessCpuUs(manager.Pid());
        // The measured interval: this thread waits, watching the manager.
        up = manager.StaysUp(static_cast<int>(g_seconds * 1000));
        const int64_t endCpuUs = ProcessCpuUs(manager.Pid());
        const int64_t endUs = NowUs();
        if (!up)
            break;
        f.beacons = beacons.n.load() - startBeacons;
        f.seconds = static_cast<double>(endUs - startUs) / 1e6;
        f.cpuMs = static_cast<double>(endCpuUs - startCpuUs) / 1000.0;
        f.memory = ReadMemory(std::to_string(manager.Pid()));
        state.SetIterationTime(f.seconds);
    }
    const bool clean = manager.Stop(managerWindow);
    sim.Stop();
    if (!up || f.seconds <= 0) {
        state.SkipWithError("the manager ended early");
        return;
    }
    if (!clean) {
        state.SkipWithError("the manager did not close cleanly");
        return;
    }
    Record(state, f);
}

void PrintSummary() {
    std::printf("\nIdle cost: %zu stations x %zu terminals, BeaconInterVal %u ms\n", kStations,
                kTerminals, kBeaconInterval);
    std::printf("targets: CPU under 1 %% of one core (600 ms a minute); resident under 20 MiB\n");
    for (const CostFigures& f : g_results) {
        const double rssMiB = static_cast<double>(f.memory.rssKiB) / 1024.0;
        const double hwmMiB = static_cast<double>(f.memory.hwmKiB) / 1024.0;
        std::printf(
            "%s: %.1f s measured, CPU %.1f ms = %.3f %% of a core (%.0f ms a minute) "
            "-> %s; %llu beacons (%.1f/s, %.1f us CPU each); VmRSS %.1f MiB, VmHWM %.1f MiB -> "
            "%s; load %.2f\n",
            f.what.c_str(), f.seconds, f.cpuMs, f.cpuPercent, f.cpuMsPerMinute,
            f.cpuPercent < 1.0 ? "met" : "MISSED", static_cast<unsigned long long>(f.beacons),
            static_cast<double>(f.beacons) / f.seconds,
            f.beacons ? f.cpuMs * 1000.0 / static_cast<double>(f.beacons) : 0.0, rssMiB, hwmMiB,
            hwmMiB < 20.0 ? "met" : "MISSED", f.load1);
    }
}

}  // namespace
}  // namespace qm::bench

int main(int argc, char** argv) {
    using namespace qm::bench;
    benchmark::Initialize(&argc, argv);
    if (!TakeIntOption(argc, argv, "seconds", &g_seconds))
        return 2;
    const bool answering = TakeFlag(argc, argv, "answering");
    const bool program = TakeFlag(argc, argv, "program");
    TakeStringOption(argc, argv, "qm", &g_program);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    PrintMachine("start");
    benchmark::RegisterBenchmark("idle_cost/silent", BM_IdleCost)
        ->Arg(1)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    if (answering) {
        benchmark::RegisterBenchmark("idle_cost/answering", BM_IdleCost)
            ->Arg(0)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    if (program) {
        benchmark::RegisterBenchmark("idle_cost/program_silent", BM_IdleCostProgram)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return RunAndSummarise(PrintSummary);
}
