#include "tools/devsim/station.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>

#include "tools/devsim/sim_core.h"

namespace qm::devsim {

namespace {

// The name becomes one file below ports/; nothing may lead elsewhere.
bool SafePortName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

}  // namespace

Station::Station(Key, SimCore& core, std::string portName, const std::string& portsDir)
    : core_(core), portName_(std::move(portName)) {
    if (!SafePortName(portName_)) {
        error_ = "port name \"" + portName_ + "\" is not a plain file name";
        return;
    }
    linkPath_ = portsDir + "/" + portName_;
    ok_ = port_.Open(linkPath_, error_);
}

Terminal& Station::AddTerminal(uint8_t dcbId) {
    std::lock_guard lock(core_.mu);
    for (const auto& terminal : terminals_) {
        if (terminal->DcbId() == dcbId) {
            return *terminal;
        }
    }
    terminals_.push_back(std::make_unique<Terminal>(Terminal::Key{}, core_, dcbId));
    return *terminals_.back();
}

Terminal* Station::FindTerminal(uint8_t dcbId) {
    std::lock_guard lock(core_.mu);
    for (const auto& terminal : terminals_) {
        if (terminal->DcbId() == dcbId) {
            return terminal.get();
        }
    }
    return nullptr;
}

void Station::InjectRaw(std::vector<uint8_t> bytes) {
    if (!ok_ || bytes.empty()) {
        return;
    }
    bool pending = false;
    {
        std::lock_guard lock(core_.mu);
        SendLocked(std::move(bytes), true);
        FlushLocked();
        pending = !outbox_.empty();
    }
    if (pending) {
        // The rest goes when the line takes it; the I/O thread watches for that.
        core_.Wake();
    }
    core_.FlushTrace();
}

StationCounters Station::Counters() const {
    std::lock_guard lock(core_.mu);
    return counters_;
}

void Station::SetSilenceLimit(uint32_t limitMs) {
    std::lock_guard lock(core_.mu);
    silenceLimitUs_ = int64_t{limitMs} * 1000;
    lastFrameUs_ = -1;
}

void Station::NoteFrameLocked(int64_t nowUs) {
    if (silenceLimitUs_ == 0)
        return;
    if (lastFrameUs_ >= 0) {
        const int64_t silence = nowUs - lastFrameUs_;
        counters_.longestSilenceUs = std::max(counters_.longestSilenceUs, silence);
        if (silence >= silenceLimitUs_)
            ++counters_.longSilences;
    }
    lastFrameUs_ = nowUs;
}

void Station::ReadLocked() {
    std::array<uint8_t, 4096> buffer{};
    const ssize_t n = ::read(port_.MasterFd(), buffer.data(), buffer.size());
    if (n < 0) {
        // EIO is how a master reports that no slave is open any more.
        if (errno == EIO) {
            HangUpLocked();
        }
        return;
    }
    if (n == 0) {
        HangUpLocked();
        return;
    }
    std::vector<Bytes> frames;
    assembler_.Feed(std::span(buffer.data(), static_cast<size_t>(n)), frames);
    TakeAssemblerCountsLocked();
    for (const Bytes& frame : frames) {
        DispatchLocked(frame);
    }
    FlushLocked();
}

void Station::FlushLocked() {
    while (!outbox_.empty()) {
        const ssize_t n = ::write(port_.MasterFd(), outbox_.data(), outbox_.size());
        if (n > 0) {
            outbox_.erase(outbox_.begin(), outbox_.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        counters_.droppedOutputBytes += outbox_.size();
        outbox_.clear();
        return;
    }
}

void Station::HangUpLocked() {
    if (counters_.hungUp) {
        return;
    }
    counters_.hungUp = true;
    counters_.droppedOutputBytes += outbox_.size();
    outbox_.clear();
    DropDelayedLocked();
    core_.NotifyLocked();
}

void Station::PortOpenedLocked() {
    ++counters_.portOpens;
    core_.NotifyLocked();
}

void Station::PortClosedLocked() {
    ++counters_.portCloses;
    port_.ClearExclusive();
    core_.NotifyLocked();
}

std::optional<int64_t> Station::NextDueLocked() const {
    if (delayed_.empty()) {
        return std::nullopt;
    }
    return delayed_.begin()->first;
}

void Station::ReleaseDueLocked(int64_t nowUs) {
    if (delayed_.empty() || delayed_.begin()->first > nowUs) {
        return;
    }
    const auto due = delayed_.upper_bound(nowUs);
    for (auto it = delayed_.begin(); it != due; ++it) {
        SendLocked(std::move(it->second), false);
    }
    delayed_.erase(delayed_.begin(), due);
    FlushLocked();
}

void Station::DropDelayedLocked() {
    for (const auto& [due, bytes] : delayed_) {
        counters_.droppedOutputBytes += bytes.size();
    }
    delayed_.clear();
}

void Station::DispatchLocked(const Bytes& raw) {
    ++counters_.framesReceived;
    const int64_t nowUs = MonotonicUs();
    NoteFrameLocked(nowUs);
    core_.RecordLocked(FrameRecord{portName_, Direction::kFromManager, raw, nowUs, false});
    const Frame frame = ParseFrame(raw);
    if (frame.kind == FrameKind::kMalformed) {
        ++counters_.malformedFrames;
        return;
    }
    if (frame.kind == FrameKind::kBroadcast) {
        for (const auto& terminal : terminals_) {
            terminal->HandleBroadcastLocked(frame);
        }
        return;
    }
    for (const auto& terminal : terminals_) {
        if (terminal->DcbId() != frame.address) {
            continue;
        }
        Terminal::Out answers;
        terminal->HandleLocked(frame, raw, answers);
        for (Terminal::Answer& answer : answers) {
            if (answer.delayMs == 0) {
                SendLocked(std::move(answer.bytes), false);
                continue;
            }
            delayed_.emplace(nowUs + int64_t{answer.delayMs} * 1000, std::move(answer.bytes));
        }
        return;
    }
}

void Station::SendLocked(Bytes bytes, bool raw) {
    if (outbox_.size() + bytes.size() > kOutboxLimit) {
        counters_.droppedOutputBytes += bytes.size();
        return;
    }
    outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
    const int64_t nowUs = MonotonicUs();
    NoteFrameLocked(nowUs);
    core_.RecordLocked(FrameRecord{portName_, Direction::kToManager, std::move(bytes), nowUs, raw});
}

void Station::TakeAssemblerCountsLocked() {
    counters_.strayBytes = assembler_.StrayBytes();
    counters_.overlongFrames = assembler_.OverlongFrames();
    counters_.interruptedFrames = assembler_.InterruptedFrames();
}

}  // namespace qm::devsim
