// Pieces shared by the link benchmarks: a private program folder, the
// simulated site, order statistics, the line's timing and the process
// figures read from /proc.
//
// Every figure is taken on CLOCK_MONOTONIC in microseconds, the clock of the
// device simulator's frame records, so a record's time and a time taken by
// the benchmark can be subtracted directly.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "service/qmsdk.h"
#include "tools/devsim/device_simulator.h"
#include "tools/devsim/frame.h"
#include "tools/process/process_memory.h"

namespace qm::bench {

// --- The line ---------------------------------------------------------------
// 19200 baud, 8 data bits, no parity, 1 stop bit: 10 bit times a byte.
inline constexpr double kBaud = 19200.0;
inline constexpr double kBitsPerByte = 10.0;
inline constexpr double kByteMs = kBitsPerByte * 1000.0 / kBaud;  // 0.52 ms
inline double LineMs(size_t bytes) {
    return static_cast<double>(bytes) * kByteMs;
}

// The writer's pause under the port lock before every write.
inline constexpr double kWritePauseMs = 10.0;

inline int64_t NowUs() {
    return devsim::MonotonicUs();
}

// --- The program folder -----------------------------------------------------
// A fresh folder serving as $QM_HOME with TXT/Swap and a private runtime
// folder (mode 0700) as $QM_RUNTIME_DIR, made the current folder so that the
// logs land in it. Everything is undone and removed at the end.
class ProgramFolder {
  public:
    ProgramFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qmbench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        path_ = pattern;
        std::error_code ec;
        std::filesystem::create_directories(path_ + "/TXT/Swap", ec);
        std::filesystem::create_directories(path_ + "/run", ec);
        chmod((path_ + "/run").c_str(), 0700);
        Save("QM_HOME", path_);
        Save("QM_RUNTIME_DIR", path_ + "/run");
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            oldCwd_ = cwd;
        ok_ = !ec && chdir(path_.c_str()) == 0;
    }
    ~ProgramFolder() {
        // Back to where we were; the folder goes by its full path either way.
        if (!oldCwd_.empty() && chdir(oldCwd_.c_str()) != 0)
            oldCwd_.clear();
        for (auto& [name, old] : savedEnv_) {
            if (old)
                setenv(name.c_str(), old->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (path_.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

    bool WriteFile(const std::string& rel, const std::string& text) const {
        std::ofstream f(path_ + "/" + rel, std::ios::binary | std::ios::trunc);
        f << text;
        return static_cast<bool>(f);
    }

  private:
    void Save(const char* name, const std::string& value) {
        const char* old = getenv(name);
        savedEnv_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }

    std::string path_;
    std::string oldCwd_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
    bool ok_ = false;
};

// --- The simulated site -----------------------------------------------------
// Port name of station i (0-based): COM1, COM2, ...
inline std::string PortName(size_t i) {
    return "COM" + std::to_string(i + 1);
}

// Adds the stations to the simulator, each with terminals 1..terminals, and
// fills the station table the link is started with (host ids 1, 2, ...).
// Empty when a line could not be made; *error then says why.
inline std::vector<_DEVINFO> BuildSite(devsim::DeviceSimulator& sim, size_t stations,
                                       size_t terminals, bool silent, std::string* error) {
    std::vector<_DEVINFO> table;
    for (size_t s = 0; s < stations; ++s) {
        const std::string port = PortName(s);
        devsim::Station& station = sim.AddStation(port);
        if (!station.Ok()) {
            *error = station.Error();
            return {};
        }
        _DEVINFO d{};
        d.hostId = static_cast<uint8_t>(s + 1);
        std::memcpy(d.portName, port.data(), std::min(port.size(), sizeof d.portName));
        d.dcbCount = static_cast<uint8_t>(terminals);
        for (size_t t = 0; t < terminals; ++t) {
            d.dcbIds[t] = static_cast<uint8_t>(t + 1);
            station.AddTerminal(d.dcbIds[t]).SetSilent(silent);
        }
        table.push_back(d);
    }
    return table;
}

inline bool IsBeaconTo(const devsim::Bytes& f, uint8_t dcbId) {
    return f.size() == 4 && f[1] == dcbId && static_cast<uint8_t>(f[1] + f[2]) == 0xFF;
}

// --- Statistics -------------------------------------------------------------
struct Summary {
    size_t n = 0;
    double mean = 0, min = 0, max = 0, median = 0, p90 = 0;
};

// Nearest-rank percentiles: p90 is the smallest sample not exceeded by 90 %
// of the samples.
inline Summary Summarise(std::vector<double> v) {
    Summary s;
    s.n = v.size();
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    const auto rank = [&](double p) {
        size_t r = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
        return v[std::clamp<size_t>(r, 1, v.size()) - 1];
    };
    s.mean = sum / static_cast<double>(v.size());
    s.min = v.front();
    s.max = v.back();
    s.median = rank(0.5);
    s.p90 = rank(0.9);
    return s;
}

// --- The machine and the process --------------------------------------------
// The first three fields of /proc/loadavg.
inline std::string LoadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

inline double LoadAverage1() {
    std::ifstream f("/proc/loadavg");
    double a = -1;
    f >> a;
    return a;
}

using Memory = ProcessMemory;

inline Memory ReadMemory(const std::string& pid = "self") {
    return ReadProcessMemory(pid);
}

// User plus system CPU time of a process from /proc/<pid>/stat, in
// microseconds (the kernel counts it in clock ticks).
inline int64_t ProcessCpuUs(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold blanks: fields count
    // from the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream in(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // State is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    const long hz = sysconf(_SC_CLK_TCK);
    return (utime + stime) * 1000000LL / (hz > 0 ? hz : 100);
}

inline void PrintMachine(const char* when) {
    std::printf("# %s: nproc %ld, load average %s\n", when, sysconf(_SC_NPROCESSORS_ONLN),
                LoadAverage().c_str());
    std::fflush(stdout);
}

// Reads "--name N" or "--name=N" out of the arguments left after the
// benchmark library took its own; false (and a message) on a bad value.
inline bool TakeIntOption(int& argc, char** argv, const char* name, long* value) {
    const std::string flag = std::string("--") + name;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string text;
        int used = 0;
        if (arg == flag && i + 1 < argc) {
            text = argv[i + 1];
            used = 2;
        } else if (arg.rfind(flag + "=", 0) == 0) {
            text = arg.substr(flag.size() + 1);
            used = 1;
        } else {
            continue;
        }
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(text.c_str(), &end, 10);
        if (errno != 0 || end == text.c_str() || *end != '\0' || v <= 0) {
            std::fprintf(stderr, "%s: not a positive number: %s\n", flag.c_str(), text.c_str());
            return false;
        }
        *value = v;
        for (int j = i; j + used < argc; ++j) argv[j] = argv[j + used];
        argc -= used;
        return true;
    }
    return true;
}

// Takes "--name VALUE" out of argv; false when it is not there.
inline bool TakeStringOption(int& argc, char** argv, const char* name, std::string* value) {
    const std::string flag = std::string("--") + name;
    for (int i = 1; i + 1 < argc; ++i) {
        if (flag != argv[i])
            continue;
        *value = argv[i + 1];
        for (int j = i; j + 2 < argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        return true;
    }
    return false;
}

inline bool TakeFlag(int& argc, char** argv, const char* name) {
    const std::string flag = std::string("--") + name;
    for (int i = 1; i < argc; ++i) {
        if (flag != argv[i])
            continue;
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        return true;
    }
    return false;
}

// Runs the registered benchmarks, then the program's own summary, and
// closes with the machine's load. The exit status of every bench program.
inline int RunAndSummarise(void (*summary)()) {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    summary();
    PrintMachine("end");
    return 0;
}

}  // namespace qm::bench
