// qm-devsim: base stations and terminals for a manager to talk to.
//
//   qm-devsim --home DIR [--script FILE] [--trace [--hide-beacons]]
//
// Reads the site from DIR/TXT/基站.TXT (lines "<host id> <port name>") and
// DIR/TXT/点菜机.TXT (lines "<dcb id> <host id>"), creates one pseudo-terminal
// per station, linked at DIR/ports/<port name> where the manager opens it,
// and the terminals on it. Prints "ready" once the links exist. Runs until
// SIGINT or SIGTERM, or until the script's "end" step. The script language is
// docs/devsim-script.md; a script without "end" runs until a signal.
// With --trace every frame is printed as one line, for example
//   +12.345 COM3 -> T012 DATA cmd=0x0D k=1/1 "hello"
// where -> is towards the terminals and <- towards the manager.
//
// Exit status: 0 after a normal end, 1 when the lines cannot be created, 2 for
// bad arguments, site or script.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/version.h"
#include "tools/devsim/device_simulator.h"
#include "tools/devsim/frame_text.h"
#include "tools/devsim/script.h"
#include "tools/devsim/site.h"

namespace {

using qm::devsim::DeviceSimulator;
using qm::devsim::ScriptStep;
using qm::devsim::Station;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string home;
    std::string scriptPath;
    bool trace = false;
    bool hideBeacons = false;
};

constexpr char kUsage[] =
    "usage: qm-devsim --home DIR [--script FILE] [--trace [--hide-beacons]]\n"
    "       qm-devsim --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Plays the base stations and terminals of a site for a QM manager, on\n"
    "pseudo-terminals instead of serial ports. It reads, in DIR/TXT (names found\n"
    "ignoring ASCII letter case, as the manager finds them):\n"
    "  基站.TXT     one base station a line, \"<host id> <port name>\" (1 COM3)\n"
    "  点菜机.TXT   one terminal a line, \"<dcb id> <host id>\" (12 1)\n"
    "and links one pseudo-terminal per station at DIR/ports/<port name>, where\n"
    "a manager with QM_HOME=DIR opens it. Prints \"ready\" once the links exist,\n"
    "then answers as the terminals do until SIGINT or SIGTERM or the script's end.\n"
    "\n"
    "  --home DIR       the manager's program folder (required)\n"
    "  --script FILE    what the terminals do and when: requests, clock requests,\n"
    "                   silence, faults in download runs and link tests; the\n"
    "                   format is in docs/devsim-script.md\n"
    "  --trace          print every frame on the lines, one line each, e.g.\n"
    "                   +12.345 COM3 -> T012 DATA cmd=0x0D k=1/1 \"hello\"\n"
    "                   (-> towards the terminals, <- towards the manager)\n"
    "  --hide-beacons   with --trace, leave out the plain beacons and the\n"
    "                   terminals' answers to them\n"
    "  --help           this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 after a normal end, 1 when the lines cannot be created,\n"
    "2 for bad arguments, site or script.\n";

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--hide-beacons") {
            options.hideBeacons = true;
        } else if ((arg == "--home" || arg == "--script") && i + 1 < argc) {
            (arg == "--home" ? options.home : options.scriptPath) = argv[++i];
        } else {
            return false;
        }
    }
    return !options.home.empty();
}

std::optional<std::string> ReadSiteFile(const std::string& home, const char* name) {
    // Found as the manager finds it.
    const std::string dir = home + "/TXT";
    const std::string found = qm::FindFileIgnoringCase(dir, name);
    if (found.empty()) {
        return std::nullopt;
    }
    return qm::ReadWholeFile(dir + "/" + found, qm::devsim::kMaxSiteFileBytes);
}

// Waits for SIGINT or SIGTERM until `until`; true if one came.
bool SignalBefore(const sigset_t& signals, Clock::time_point until) {
    for (;;) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        if (::sigtimedwait(&signals, nullptr, &wait) > 0) {
            return true;
        }
        if (errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
}

bool SignalEver(const sigset_t& signals) {
    int signal = 0;
    return ::sigwait(&signals, &signal) == 0;
}

void Apply(const ScriptStep& step, const std::multimap<uint8_t, Station*>& byHost) {
    const auto [first, last] = byHost.equal_range(step.host);
    for (auto it = first; it != last; ++it) {
        qm::devsim::Terminal* terminal = it->second->FindTerminal(step.dcb);
        if (terminal == nullptr) {
            continue;
        }
        switch (step.action) {
            case ScriptStep::Action::kRequest:
                terminal->QueueRequest(step.command, step.payload);
                break;
            case ScriptStep::Action::kClock:
                terminal->QueueClockRequest();
                break;
            case ScriptStep::Action::kSilent:
                terminal->SetSilent(step.on);
                break;
            case ScriptStep::Action::kNoSearch:
                terminal->IgnoreSearch(step.on);
                break;
            case ScriptStep::Action::kStopAcks:
                // A script's "off" is the terminal's "no limit".
                static_assert(qm::devsim::Terminal::kNoLineAckLimit == UINT32_MAX);
                terminal->StopLineAcksAfter(step.count);
                break;
            case ScriptStep::Action::kDelayEchoes:
                terminal->DelayEchoes(static_cast<int>(step.count), step.delayMs);
                break;
        }
    }
}

bool KnownTerminal(const ScriptStep& step, const std::multimap<uint8_t, Station*>& byHost) {
    const auto [first, last] = byHost.equal_range(step.host);
    for (auto it = first; it != last; ++it) {
        if (it->second->FindTerminal(step.dcb) != nullptr) {
            return true;
        }
    }
    return false;
}

// Plays the script's steps from `next` on at their times; returns when a
// signal comes or the script's end time is reached (without a script or an
// end step, only a signal ends the run).
void RunScript(const std::optional<qm::devsim::Script>& script, size_t next,
               const sigset_t& signals, const std::multimap<uint8_t, Station*>& byHost) {
    if (!script) {
        SignalEver(signals);
        return;
    }
    const Clock::time_point origin = Clock::now();
    for (; next < script->steps.size(); ++next) {
        const ScriptStep& step = script->steps[next];
        if (script->endMs && step.atMs > *script->endMs) {
            break;
        }
        if (SignalBefore(signals, origin + std::chrono::milliseconds(step.atMs))) {
            return;
        }
        Apply(step, byHost);
    }
    if (script->endMs) {
        SignalBefore(signals, origin + std::chrono::milliseconds(*script->endMs));
        return;
    }
    SignalEver(signals);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("qm-devsim %s\n", qm::kVersion);
        return 0;
    }
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    const auto stationText = ReadSiteFile(options.home, qm::devsim::kStationFileName);
    if (!stationText) {
        std::fprintf(stderr, "qm-devsim: cannot read %s/TXT/%s\n", options.home.c_str(),
                     qm::devsim::kStationFileName);
        return 2;
    }
    const auto stations = qm::devsim::ParseStations(*stationText);
    const auto terminalText = ReadSiteFile(options.home, qm::devsim::kTerminalFileName);
    const auto terminals = qm::devsim::ParseTerminals(terminalText.value_or(""));

    std::optional<qm::devsim::Script> script;
    if (!options.scriptPath.empty()) {
        const auto text = qm::ReadWholeFile(options.scriptPath, qm::devsim::kMaxSiteFileBytes);
        if (!text) {
            std::fprintf(stderr, "qm-devsim: cannot read %s\n", options.scriptPath.c_str());
            return 2;
        }
        std::string error;
        script = qm::devsim::ParseScript(*text, error);
        if (!script) {
            std::fprintf(stderr, "qm-devsim: %s: %s\n", options.scriptPath.c_str(), error.c_str());
            return 2;
        }
    }

    // The signals are taken synchronously by this thread; every thread
    // started from here on inherits the block.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    DeviceSimulator sim(options.home);
    std::multimap<uint8_t, Station*> byHost;
    for (const auto& site : stations) {
        Station& station = sim.AddStation(site.portName);
        if (!station.Ok()) {
            std::fprintf(stderr, "qm-devsim: station %u on %s: %s\n", site.hostId,
                         site.portName.c_str(), station.Error().c_str());
            return 1;
        }
        byHost.emplace(site.hostId, &station);
    }
    for (const auto& site : terminals) {
        const auto [first, last] = byHost.equal_range(site.hostId);
        for (auto it = first; it != last; ++it) {
            it->second->AddTerminal(site.dcbId);
        }
    }
    if (script) {
        for (const ScriptStep& step : script->steps) {
            if (!KnownTerminal(step, byHost)) {
                std::fprintf(stderr, "qm-devsim: script line %d: no terminal %u on host %u\n",
                             step.line, step.dcb, step.host);
                return 2;
            }
        }
    }

    // Nobody reads the records back here; keep memory flat over long runs.
    sim.SetHistoryLimit(1);
    const int64_t originUs = qm::devsim::MonotonicUs();
    if (options.trace) {
        const bool hideBeacons = options.hideBeacons;
        sim.SetTraceSink([originUs, hideBeacons](const qm::devsim::FrameRecord& record) {
            if (hideBeacons && qm::devsim::IsPlainBeacon(record)) {
                return;
            }
            std::printf("%s\n", qm::devsim::DescribeFrame(record, originUs).c_str());
            std::fflush(stdout);
        });
    }
    if (!sim.Start()) {
        std::fprintf(stderr, "qm-devsim: %s\n", sim.Error().c_str());
        return 1;
    }
    // Steps at time 0 are in place before anybody is told the line is ready,
    // so that the manager's first beacon already finds them.
    size_t next = 0;
    while (script && next < script->steps.size() && script->steps[next].atMs == 0) {
        Apply(script->steps[next++], byHost);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    RunScript(script, next, signals, byHost);
    sim.Stop();
    return 0;
}
