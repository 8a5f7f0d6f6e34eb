#include "tools/backsim/simulator.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/unique_fd.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tools/backsim/back_end.h"
#include "tools/backsim/file_io.h"
#include "tools/backsim/line_reader.h"
#include "tools/backsim/manager_process.h"
#include "tools/backsim/reply_table.h"
#include "tools/backsim/script.h"
#include "tools/backsim/text.h"

namespace qm::backsim {
namespace {

// After SIGTERM a manager that does not end is killed; after SIGKILL only a
// process stuck in the kernel could stay, and then we give up on it.
constexpr int64_t kTerminateWaitMs = 2000;
constexpr int64_t kKillWaitMs = 2000;

// Standard input carries commands when it is a pipe, a socket or a terminal;
// a file or /dev/null does not (a demo started in the background).
bool StdinCarriesCommands() {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) {
        return false;
    }
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || ::isatty(STDIN_FILENO);
}

class Simulator {
  public:
    Simulator(const Options& options, std::optional<Script> script)
        : options_(options), script_(std::move(script)), start_(MonotonicMs()) {}

    int Run(ReplyTable replies);

  private:
    enum class Phase { kRunning, kClosing, kTerminating, kKilled };

    void OnTrace(std::string_view kind, std::string_view detail) const;
    void RunDueWork(int64_t now);
    std::optional<int64_t> NextWake() const;
    void RunCommand(const Command& command);
    void Close(const char* why);
    void OnSignals(int signalFd);
    void OnMessages();
    void OnInput();

    const Options& options_;
    std::optional<Script> script_;
    const int64_t start_;
    std::unique_ptr<MessageWindow> window_;
    std::unique_ptr<ManagerProcess> manager_;
    std::unique_ptr<BackEnd> backEnd_;
    std::optional<int64_t> scriptOrigin_;
    size_t nextStep_ = 0;
    Phase phase_ = Phase::kRunning;
    int64_t phaseDeadline_ = 0;
    bool giveUp_ = false;
    bool readInput_ = false;
    LineReader input_;
};

void Simulator::OnTrace(std::string_view kind, std::string_view detail) const {
    if (kind == "error") {
        std::fprintf(stderr, "qm-backsim: %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    if (options_.trace) {
        const std::string line = FormatTraceLine(MonotonicMs() - start_, kind, detail);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
}

int Simulator::Run(ReplyTable replies) {
    // Blocked before any thread starts (the window's receiver is one), so that
    // these signals reach only the signalfd, never a default action.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (signalFd.Get() < 0) {
        std::fprintf(stderr, "qm-backsim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    // Our window's handle is our process id, as the manager's is (README,
    // "Starting and stopping").
    const auto handle = static_cast<WindowHandle>(::getpid());
    int err = 0;
    window_ = MessageWindow::Create(handle, &err);
    if (!window_) {
        std::fprintf(stderr, "qm-backsim: cannot create window %u: %s\n", handle,
                     std::strerror(err));
        return 1;
    }
    BackEnd::Hooks hooks;
    hooks.post = [](WindowHandle window, int64_t code) {
        return PostMessage(window, WM_POS_NOTICE, 0, code);
    };
    hooks.setCloseEvent = [] { return SetNamedEvent(kCloseEventName); };
    hooks.trace = [this](std::string_view kind, std::string_view detail) { OnTrace(kind, detail); };
    backEnd_ = std::make_unique<BackEnd>(options_.home, std::move(replies), std::move(hooks));

    std::string error;
    manager_ = ManagerProcess::Start(options_.manager, handle, options_.home, &error);
    if (!manager_) {
        std::fprintf(stderr, "qm-backsim: %s\n", error.c_str());
        return 1;
    }
    OnTrace("start", "window " + std::to_string(handle) + ", manager " + options_.manager +
                         " pid " + std::to_string(manager_->Pid()));
    readInput_ = StdinCarriesCommands();

    const ReadableFd signalReady(signalFd.Get());
    const ReadableFd managerEnded(manager_->ExitFd());
    const ReadableFd inputReady(STDIN_FILENO);
    while (!manager_->Ended() && !giveUp_) {
        RunDueWork(MonotonicMs());
        if (manager_->Ended() || giveUp_) {
            break;
        }
        const std::optional<int64_t> wake = NextWake();
        uint32_t timeoutMs = kInfinite;
        if (wake) {
            const int64_t left = *wake - MonotonicMs();
            timeoutMs = static_cast<uint32_t>(std::clamp<int64_t>(left, 0, kInfinite - 1));
        }
        std::vector<const Waitable*> objects = {&signalReady, &window_->QueueReady()};
        if (manager_->ExitFd() >= 0) {
            objects.push_back(&managerEnded);
        }
        if (readInput_) {
            objects.push_back(&inputReady);
        }
        const int ready = WaitAny(objects, timeoutMs);
        if (ready == kWaitFailed) {
            std::fprintf(stderr, "qm-backsim: wait failed: %s\n", std::strerror(errno));
            Close("wait failed");
            continue;
        }
        if (ready == kWaitTimeout) {
            continue;
        }
        const Waitable* object = objects[static_cast<size_t>(ready)];
        if (object == &signalReady) {
            OnSignals(signalFd.Get());
        } else if (object == &managerEnded) {
            manager_->Reap();
        } else if (object == &inputReady) {
            OnInput();
        } else {
            OnMessages();
        }
    }
    if (!manager_->Ended()) {
        // Only a process stuck in the kernel outlives SIGKILL; the process
        // record still waits for it on the way out.
        std::fprintf(stderr, "qm-backsim: manager pid %d has not ended after SIGKILL\n",
                     manager_->Pid());
        return 1;
    }
    OnTrace("exit", "manager ended with status " + std::to_string(manager_->Status()));
    return manager_->Status();
}

void Simulator::RunDueWork(int64_t now) {
    if (!scriptOrigin_ && backEnd_->ManagerKnown()) {
        scriptOrigin_ = now;
    }
    while (script_ && scriptOrigin_ && nextStep_ < script_->steps.size() &&
           *scriptOrigin_ + script_->steps[nextStep_].atMs <= now && phase_ == Phase::kRunning) {
        RunCommand(script_->steps[nextStep_++].command);
    }
    backEnd_->RunDue(now);
    if (phase_ != Phase::kRunning && now >= phaseDeadline_) {
        Close("the manager did not end in time");
    }
}

std::optional<int64_t> Simulator::NextWake() const {
    std::optional<int64_t> wake = backEnd_->NextDueMs();
    const auto consider = [&wake](int64_t at) {
        if (!wake || at < *wake) {
            wake = at;
        }
    };
    if (script_ && scriptOrigin_ && nextStep_ < script_->steps.size() &&
        phase_ == Phase::kRunning) {
        consider(*scriptOrigin_ + script_->steps[nextStep_].atMs);
    }
    if (phase_ != Phase::kRunning) {
        consider(phaseDeadline_);
    }
    return wake;
}

void Simulator::RunCommand(const Command& command) {
    if (command.kind == Command::Kind::kQuit) {
        Close("quit");
        return;
    }
    backEnd_->Execute(command);
}

// Each call is one step harder: the close event (SIGTERM at once when nobody
// waits for it), then SIGTERM, then SIGKILL, then giving up.
void Simulator::Close(const char* why) {
    const int64_t now = MonotonicMs();
    switch (phase_) {
        case Phase::kRunning:
            if (SetNamedEvent(kCloseEventName)) {
                OnTrace("close", std::string(why) + ": set " + kCloseEventName);
                phase_ = Phase::kClosing;
                phaseDeadline_ = now + options_.closeTimeoutMs;
                return;
            }
            OnTrace("close", std::string(why) + ": nobody waits for " + kCloseEventName);
            [[fallthrough]];
        case Phase::kClosing:
            OnTrace("close", std::string(why) + ": SIGTERM to the manager");
            manager_->Signal(SIGTERM);
            phase_ = Phase::kTerminating;
            phaseDeadline_ = now + kTerminateWaitMs;
            return;
        case Phase::kTerminating:
            OnTrace("close", std::string(why) + ": SIGKILL to the manager");
            manager_->Signal(SIGKILL);
            phase_ = Phase::kKilled;
            phaseDeadline_ = now + kKillWaitMs;
            return;
        case Phase::kKilled:
            giveUp_ = true;
            return;
    }
}

void Simulator::OnSignals(int signalFd) {
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGCHLD) {
            manager_->Reap();
            continue;
        }
        Close(info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
    }
}

void Simulator::OnMessages() {
    WindowMessage message;
    while (window_->PeekMessage(&message)) {
        if (message.message != WM_POS_NOTICE) {
            OnTrace("error", "message " + std::to_string(message.message) + " ignored");
            continue;
        }
        const bool known = backEnd_->ManagerKnown();
        backEnd_->OnNotice(message.lParam, MonotonicMs());
        if (!known && backEnd_->ManagerKnown()) {
            // The script's clock starts now; its steps at 0 (a fault to set
            // up, say) come before the manager's next notice, even one
            // already queued behind the handshake.
            RunDueWork(MonotonicMs());
        }
    }
}

void Simulator::OnInput() {
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
        return;
    }
    std::vector<std::string> lines;
    if (n <= 0) {
        // End of input is an event, not a command: the simulator runs on.
        readInput_ = false;
        lines = input_.Finish();
    } else {
        size_t dropped = 0;
        lines = input_.Feed(std::string_view(chunk, static_cast<size_t>(n)), &dropped);
        if (dropped > 0) {
            OnTrace("error", "an input line longer than 4096 bytes was dropped");
        }
    }
    for (const std::string& line : lines) {
        std::string_view text = TrimBlanks(line);
        if (text.empty() || text.front() == '#') {
            continue;
        }
        std::string error;
        const auto command = ParseCommand(text, &error);
        if (!command) {
            OnTrace("error", error);
            continue;
        }
        RunCommand(*command);
    }
}

}  // namespace

int RunSimulator(const Options& options) {
    struct stat st {};
    if (::stat(options.home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "qm-backsim: %s is not a folder\n", options.home.c_str());
        return 2;
    }
    const std::string txt = options.home + "/TXT";
    if (::mkdir(txt.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "qm-backsim: cannot create %s: %s\n", txt.c_str(),
                     std::strerror(errno));
        return 2;
    }

    ReplyTable replies;
    const std::string repliesPath = PathIgnoringCase(txt, kRepliesFileName);
    if (::access(repliesPath.c_str(), F_OK) == 0) {
        const auto text = ReadWholeFile(repliesPath, kMaxExchangeFileBytes);
        std::vector<std::string> problems;
        if (text) {
            replies.Merge(*text, &problems);
        } else {
            problems.push_back("cannot be read");
        }
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "qm-backsim: %s: %s\n", repliesPath.c_str(), problem.c_str());
        }
        if (!problems.empty()) {
            return 2;
        }
    }

    std::optional<Script> script;
    if (!options.scriptPath.empty()) {
        const auto text = ReadWholeFile(options.scriptPath, kMaxExchangeFileBytes);
        if (!text) {
            std::fprintf(stderr, "qm-backsim: cannot read %s\n", options.scriptPath.c_str());
            return 2;
        }
        std::string error;
        script = ParseScript(*text, &error);
        if (!script) {
            std::fprintf(stderr, "qm-backsim: %s: %s\n", options.scriptPath.c_str(), error.c_str());
            return 2;
        }
    }

    Simulator simulator(options, std::move(script));
    return simulator.Run(std::move(replies));
}

}  // namespace qm::backsim
