#include "tools/devsim/device_simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

#include "tools/devsim/sim_core.h"

namespace qm::devsim {

namespace {

constexpr uint32_t kPortNotices = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE;

// poll()'s timeout until `dueUs`: rounded up, so that the thread never wakes
// before an answer is due and then spins until it is.
int PollTimeoutMs(std::optional<int64_t> dueUs, int64_t nowUs) {
    if (!dueUs) {
        return -1;
    }
    const int64_t ms = (*dueUs - nowUs + 999) / 1000;
    return static_cast<int>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int>::max()));
}

}  // namespace

DeviceSimulator::DeviceSimulator(std::string programDir)
    : programDir_(std::move(programDir)),
      portsDir_(programDir_ + "/ports"),
      core_(std::make_unique<SimCore>()),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      notices_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    core_->wakeFd = wake_.Get();
    if (::mkdir(portsDir_.c_str(), 0755) != 0 && errno != EEXIST) {
        error_ = portsDir_ + ": " + std::strerror(errno);
    }
    if (!wake_.Valid()) {
        error_ = std::string("eventfd: ") + std::strerror(errno);
    }
}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

Station& DeviceSimulator::AddStation(std::string portName) {
    std::unique_lock lock(core_->mu);
    for (const auto& station : stations_) {
        if (station->PortName() == portName) {
            return *station;
        }
    }
    stations_.push_back(
        std::make_unique<Station>(Station::Key{}, *core_, std::move(portName), portsDir_));
    Station& station = *stations_.back();
    // Opens and closes of the slave by anybody but us: the manager starting
    // and stopping. Our own descriptor was opened before the watch.
    int watch = -1;
    if (station.Ok() && notices_.Valid()) {
        watch = ::inotify_add_watch(notices_.Get(), station.SlavePath().c_str(), kPortNotices);
    }
    watches_.push_back(watch);
    lock.unlock();
    core_->Wake();
    return station;
}

Station* DeviceSimulator::FindStation(const std::string& portName) {
    std::lock_guard lock(core_->mu);
    for (const auto& station : stations_) {
        if (station->PortName() == portName) {
            return station.get();
        }
    }
    return nullptr;
}

bool DeviceSimulator::Start() {
    if (thread_.joinable()) {
        return true;
    }
    {
        std::lock_guard lock(core_->mu);
        if (!wake_.Valid()) {
            return false;
        }
        stopping_ = false;
    }
    thread_ = std::thread(&DeviceSimulator::Run, this);
    return true;
}

void DeviceSimulator::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(core_->mu);
        stopping_ = true;
    }
    core_->Wake();
    thread_.join();
    std::lock_guard lock(core_->mu);
    for (const auto& station : stations_) {
        station->DropDelayedLocked();
    }
}

std::string DeviceSimulator::Error() const {
    std::lock_guard lock(core_->mu);
    return error_;
}

std::vector<FrameRecord> DeviceSimulator::Frames() const {
    std::lock_guard lock(core_->mu);
    return std::vector<FrameRecord>(core_->frames.begin(), core_->frames.end());
}

size_t DeviceSimulator::FrameCount() const {
    std::lock_guard lock(core_->mu);
    return core_->frames.size();
}

void DeviceSimulator::SetHistoryLimit(size_t maxFrames) {
    std::lock_guard lock(core_->mu);
    core_->historyLimit = maxFrames;
    while (maxFrames > 0 && core_->frames.size() > maxFrames) {
        core_->frames.pop_front();
    }
}

void DeviceSimulator::SetTraceSink(std::function<void(const FrameRecord&)> sink) {
    core_->SetTraceSink(std::move(sink));
}

bool DeviceSimulator::WaitFor(const std::function<bool()>& pred, int timeoutMs) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        uint64_t seen = 0;
        {
            std::lock_guard lock(core_->mu);
            seen = core_->generation;
        }
        // Checked without the lock: the predicate reads through the
        // accessors, which take it themselves.
        if (pred()) {
            return true;
        }
        std::unique_lock lock(core_->mu);
        const bool changed =
            core_->cv.wait_until(lock, deadline, [&] { return core_->generation != seen; });
        if (!changed) {
            lock.unlock();
            return pred();
        }
    }
}

void DeviceSimulator::Run() {
    std::vector<pollfd> fds;
    std::vector<Station*> polled;
    for (;;) {
        fds.clear();
        polled.clear();
        std::optional<int64_t> nextDueUs;
        int64_t nowUs = 0;
        {
            std::lock_guard lock(core_->mu);
            if (stopping_) {
                return;
            }
            fds.push_back(pollfd{wake_.Get(), POLLIN, 0});
            fds.push_back(pollfd{notices_.Get(), POLLIN, 0});
            for (const auto& station : stations_) {
                // A line that hung up is left out: its master would report
                // hang-up on every poll and the loop would spin.
                if (!station->Ok() || station->HungUpLocked()) {
                    continue;
                }
                const short events =
                    static_cast<short>(POLLIN | (station->WantsWriteLocked() ? POLLOUT : 0));
                fds.push_back(pollfd{station->MasterFd(), events, 0});
                polled.push_back(station.get());
                const std::optional<int64_t> due = station->NextDueLocked();
                if (due && (!nextDueUs || *due < *nextDueUs)) {
                    nextDueUs = due;
                }
            }
            nowUs = MonotonicUs();
        }
        // Devices answer what arrives, so the thread sleeps until a line, a
        // port notice or the wake-up event stirs, or until the first answer
        // held back on purpose is due. Only this thread makes such answers,
        // so none can appear while it sleeps.
        if (::poll(fds.data(), fds.size(), PollTimeoutMs(nextDueUs, nowUs)) < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            std::lock_guard lock(core_->mu);
            FailLocked(std::string("poll: ") + std::strerror(err));
            return;
        }
        if (fds[0].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t ignored = ::read(wake_.Get(), &count, sizeof count);
        }
        if (fds[1].revents != 0) {
            HandlePortNotices();
        }
        {
            std::lock_guard lock(core_->mu);
            // Held-back answers first: they were due before what has just
            // arrived was read.
            nowUs = MonotonicUs();
            for (Station* station : polled) {
                station->ReleaseDueLocked(nowUs);
            }
            for (size_t i = 0; i < polled.size(); ++i) {
                const short revents = fds[i + 2].revents;
                Station& station = *polled[i];
                if ((revents & POLLIN) != 0) {
                    station.ReadLocked();
                }
                if ((revents & POLLOUT) != 0) {
                    station.FlushLocked();
                }
                if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (revents & POLLIN) == 0) {
                    station.HangUpLocked();
                }
            }
        }
        core_->FlushTrace();
    }
}

void DeviceSimulator::HandlePortNotices() {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    const ssize_t n = ::read(notices_.Get(), buffer.data(), buffer.size());
    if (n <= 0) {
        return;
    }
    const size_t length = static_cast<size_t>(n);
    std::lock_guard lock(core_->mu);
    size_t offset = 0;
    while (offset + sizeof(inotify_event) <= length) {
        inotify_event event{};
        std::memcpy(&event, buffer.data() + offset, sizeof event);
        offset += sizeof(inotify_event) + event.len;
        for (size_t i = 0; i < watches_.size(); ++i) {
            if (watches_[i] < 0 || watches_[i] != event.wd) {
                continue;
            }
            if ((event.mask & IN_OPEN) != 0) {
                stations_[i]->PortOpenedLocked();
            }
            if ((event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0) {
                stations_[i]->PortClosedLocked();
            }
        }
    }
}

void DeviceSimulator::FailLocked(std::string error) {
    error_ = std::move(error);
    core_->NotifyLocked();
}

}  // namespace qm::devsim
