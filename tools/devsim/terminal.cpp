#include "tools/devsim/terminal.h"

#include <algorithm>
#include <mutex>

#include "tools/devsim/sim_core.h"

namespace qm::devsim {

namespace {

constexpr size_t kChecksumFromEnd = 2;
constexpr size_t kTestSequenceOffset = 6;
constexpr size_t kTestPatternOffset = 7;
constexpr uint8_t kLastTestSequence = 254;

ShortMessage DecodeShortMessage(const Bytes& payload) {
    ShortMessage message;
    message.payload = payload;
    const bool numbered =
        payload.size() >= 3 && std::all_of(payload.begin(), payload.begin() + 3,
                                           [](uint8_t b) { return b >= '0' && b <= '9'; });
    if (!numbered) {
        message.text = payload;
        return message;
    }
    message.number = (payload[0] - '0') * 100 + (payload[1] - '0') * 10 + (payload[2] - '0');
    message.text.assign(payload.begin() + 3, payload.end());
    return message;
}

// Changes the byte at `offset` of a test frame to another value and makes the
// checksum match, so that only the manager's content check can notice. A
// checksum of 0x00 would split the echo on the line, so such a value is
// passed over.
void DamageTestByte(Bytes& echo, size_t offset, uint8_t firstCandidate) {
    const uint8_t original = echo[offset];
    uint8_t candidate = firstCandidate;
    for (int tries = 0; tries < 250; ++tries) {
        if (candidate != original && candidate != kFrameStart && candidate != kFrameEnd) {
            echo[offset] = candidate;
            RestampChecksum(echo);
            if (echo[echo.size() - kChecksumFromEnd] != kFrameStart) {
                return;
            }
        }
        candidate = static_cast<uint8_t>(candidate % 0xFD + 1);
    }
}

}  // namespace

Terminal::Terminal(Key, SimCore& core, uint8_t dcbId) : core_(core), dcbId_(dcbId) {}

bool Terminal::QueueRequest(uint8_t command, std::vector<uint8_t> payload) {
    if (payload.size() > kMaxFragments * kFragmentSize) {
        return false;
    }
    if (std::any_of(payload.begin(), payload.end(),
                    [](uint8_t b) { return b == kFrameStart || b == kFrameEnd; })) {
        return false;
    }
    std::lock_guard lock(core_.mu);
    const bool control = payload.empty();
    items_.push_back(Item{command, std::move(payload), control});
    return true;
}

void Terminal::QueueControlRequest(uint8_t command) {
    std::lock_guard lock(core_.mu);
    items_.push_back(Item{command, {}, true});
}

void Terminal::QueueClockRequest() {
    QueueControlRequest(kCmdClock);
}

void Terminal::QueuePageRequest(bool forward) {
    QueueControlRequest(forward ? kCmdPageForward : kCmdPageBack);
}

void Terminal::SetFragmentPacing(FragmentPacing pacing) {
    std::lock_guard lock(core_.mu);
    pacing_ = pacing;
}

void Terminal::SetAutoPaging(bool on) {
    std::lock_guard lock(core_.mu);
    autoPaging_ = on;
}

size_t Terminal::PendingItems() const {
    std::lock_guard lock(core_.mu);
    return items_.size() + (outgoing_ ? 1 : 0);
}

void Terminal::SetSilent(bool silent) {
    std::lock_guard lock(core_.mu);
    silent_ = silent;
}

void Terminal::WithholdAcks(int count) {
    std::lock_guard lock(core_.mu);
    acksToWithhold_ = std::max(0, count);
}

void Terminal::DamageEchoes(int count, EchoDamage how) {
    std::lock_guard lock(core_.mu);
    echoesToDamage_ = std::max(0, count);
    echoDamage_ = how;
}

void Terminal::DelayEchoes(int count, uint32_t delayMs) {
    std::lock_guard lock(core_.mu);
    echoesToDelay_ = std::max(0, count);
    echoDelayMs_ = delayMs;
}

void Terminal::IgnoreSearch(bool on) {
    std::lock_guard lock(core_.mu);
    ignoreSearch_ = on;
}

void Terminal::StopLineAcksAfter(uint32_t lines) {
    std::lock_guard lock(core_.mu);
    lineAckLimit_ = lines;
    linesAckedSinceLimit_ = 0;
    lastLineAcked_.reset();
}

void Terminal::CorruptDataFrames(int count) {
    std::lock_guard lock(core_.mu);
    dataFramesToCorrupt_ = std::max(0, count);
}

void Terminal::RepeatFragment(uint8_t number) {
    std::lock_guard lock(core_.mu);
    fragmentToRepeat_ = number;
}

std::vector<Reply> Terminal::Replies() const {
    std::lock_guard lock(core_.mu);
    return replies_;
}

bool Terminal::ReplyUnderWay() const {
    std::lock_guard lock(core_.mu);
    return assembly_.has_value();
}

std::vector<ReplyFragment> Terminal::Fragments() const {
    std::lock_guard lock(core_.mu);
    return fragments_;
}

std::vector<ShortMessage> Terminal::ShortMessages() const {
    std::lock_guard lock(core_.mu);
    return messages_;
}

std::vector<DownloadLine> Terminal::DownloadLines() const {
    std::lock_guard lock(core_.mu);
    return lines_;
}

TerminalCounters Terminal::Counters() const {
    std::lock_guard lock(core_.mu);
    return counters_;
}

void Terminal::HandleLocked(const Frame& frame, const Bytes& raw, Out& out) {
    if (silent_) {
        ++counters_.ignoredWhileSilent;
        return;
    }
    switch (frame.kind) {
        case FrameKind::kBeacon:
            ++counters_.beacons;
            OnBeaconLocked(out);
            return;
        case FrameKind::kControl:
            OnControlLocked(frame.command, out);
            return;
        case FrameKind::kData:
            OnDataLocked(frame, raw, out);
            return;
        case FrameKind::kTest:
            OnTestLocked(raw, out);
            return;
        case FrameKind::kBroadcast:
        case FrameKind::kMalformed:
            return;
    }
}

void Terminal::HandleBroadcastLocked(const Frame& frame) {
    if (silent_) {
        ++counters_.ignoredWhileSilent;
        return;
    }
    if (!frame.checksumOk || frame.command < kFirstDownloadCommand ||
        frame.command > kLastDownloadCommand) {
        ++counters_.badFrames;
        return;
    }
    lines_.push_back(
        DownloadLine{frame.command, frame.recordTotal, frame.recordNumber, frame.payload});
    // The run collects one acknowledgement per line, by beaconing each
    // terminal after the broadcast.
    lineAckOwed_ = true;
    owedLine_ = {frame.command, frame.recordNumber};
}

void Terminal::OnBeaconLocked(Out& out) {
    if (lineAckOwed_) {
        lineAckOwed_ = false;
        // A line broadcast again because its acknowledgement was lost is
        // the same line, not a further one.
        const bool again = lastLineAcked_ == owedLine_;
        if (again || lineAckLimit_ == kNoLineAckLimit || linesAckedSinceLimit_ < lineAckLimit_) {
            if (SendAckLocked(out) && !again) {
                ++linesAckedSinceLimit_;
                lastLineAcked_ = owedLine_;
            }
            return;
        }
        ++counters_.lineAcksWithheld;
    }
    if (outgoing_) {
        if (outgoing_->awaitingAck) {
            // The manager beacons again without having acknowledged the
            // fragment: it did not get it, so it goes again.
            const Bytes frame = outgoing_->fragments[outgoing_->next];
            SendDataLocked(frame, out);
            return;
        }
        SendFragmentLocked(out);
        return;
    }
    if (!items_.empty()) {
        StartNextItemLocked(out);
        return;
    }
    out.push_back({BeaconFrame(dcbId_)});
}

void Terminal::OnControlLocked(uint8_t command, Out& out) {
    switch (command) {
        case kCmdAck:
            OnAckLocked(out);
            return;
        case kCmdChecksumError: {
            ++counters_.checksumErrors;
            if (!lastDataSent_.empty()) {
                const Bytes again = lastDataSent_;
                SendDataLocked(again, out);
            }
            return;
        }
        case kCmdMessageBeacon:
            // Answered by the plain beacon frame; the message follows as a
            // data frame.
            ++counters_.messageBeacons;
            out.push_back({BeaconFrame(dcbId_)});
            return;
        case kCmdDownloadDone:
            // Acknowledged even after StopLineAcksAfter has run out.
            ++counters_.downloadDone;
            lineAckOwed_ = false;
            lastLineAcked_.reset();
            SendAckLocked(out);
            return;
        case kCmdSearch:
            OnSearchLocked(out);
            return;
        default:
            return;
    }
}

void Terminal::OnDataLocked(const Frame& frame, const Bytes& raw, Out& out) {
    if (!frame.checksumOk) {
        // Not acknowledged: the manager sends it again.
        ++counters_.badFrames;
        return;
    }
    if (raw == lastDataReceived_ && !lastDataAcked_) {
        // The manager repeats a frame whose acknowledgement this terminal
        // kept back; it has been taken in already.
        ++counters_.retransmissions;
        lastDataAcked_ = SendAckLocked(out);
        return;
    }
    if (raw == lastDataReceived_)
        ++counters_.repeatsAfterAck;
    lastDataReceived_ = raw;
    lastDataAcked_ = SendAckLocked(out);
    if (frame.command == kCmdShortMessage) {
        messages_.push_back(DecodeShortMessage(frame.payload));
        messages_.back().fragmentsBefore = fragments_.size();
        return;
    }
    OnReplyFragmentLocked(frame);
}

void Terminal::OnTestLocked(const Bytes& raw, Out& out) {
    ++counters_.testFrames;
    Bytes echo = raw;
    if (echoesToDamage_ > 0) {
        --echoesToDamage_;
        switch (echoDamage_) {
            case EchoDamage::kPatternByte:
                DamageTestByte(echo, kTestPatternOffset, 0x02);
                break;
            case EchoDamage::kSequence:
                DamageTestByte(
                    echo, kTestSequenceOffset,
                    static_cast<uint8_t>(echo[kTestSequenceOffset] % kLastTestSequence + 1));
                break;
            case EchoDamage::kChecksum: {
                uint8_t& checksum = echo[echo.size() - kChecksumFromEnd];
                checksum = checksum >= 0xFE ? 0x01 : static_cast<uint8_t>(checksum + 1);
                break;
            }
        }
    }
    if (echoesToDelay_ > 0) {
        --echoesToDelay_;
        ++counters_.echoesDelayed;
        out.push_back({std::move(echo), echoDelayMs_});
        return;
    }
    out.push_back({std::move(echo)});
}

void Terminal::OnSearchLocked(Out& out) {
    if (ignoreSearch_) {
        ++counters_.searchesIgnored;
        return;
    }
    ++counters_.searches;
    out.push_back({ControlFrame(dcbId_, kCmdSearch)});
}

void Terminal::OnAckLocked(Out& out) {
    ++counters_.acksReceived;
    if (!outgoing_ || !outgoing_->awaitingAck) {
        return;
    }
    outgoing_->awaitingAck = false;
    const size_t number = outgoing_->next + 1;
    if (fragmentToRepeat_ == number) {
        // Send the acknowledged fragment once more before going on.
        fragmentToRepeat_ = 0;
    } else {
        ++outgoing_->next;
    }
    if (pacing_ == FragmentPacing::kAfterAck) {
        SendFragmentLocked(out);
    }
}

void Terminal::OnReplyFragmentLocked(const Frame& frame) {
    fragments_.push_back(ReplyFragment{frame.command, frame.total, frame.number, frame.payload});
    if (!assembly_ || assembly_->command != frame.command || assembly_->total != frame.total) {
        assembly_ = Assembly{frame.command, frame.total, {}, 0};
    }
    Assembly& assembly = *assembly_;
    assembly.parts[frame.number] = frame.payload;
    if (assembly.parts.size() == assembly.total) {
        Reply reply{assembly.command, assembly.total, {}};
        for (const auto& [number, part] : assembly.parts) {
            reply.data.insert(reply.data.end(), part.begin(), part.end());
        }
        replies_.push_back(std::move(reply));
        assembly_.reset();
        return;
    }
    const uint8_t k = frame.number;
    if (autoPaging_ && k % kFragmentsPerPage == 0 && k < assembly.total &&
        k > assembly.pageAskedAfter && PageComplete(assembly, k)) {
        // The page request continues the exchange under way, so it goes
        // ahead of anything else this terminal has to say.
        items_.push_front(Item{kCmdPageForward, {}, true});
        assembly.pageAskedAfter = k;
    }
}

bool Terminal::PageComplete(const Assembly& assembly, uint8_t lastOfPage) {
    for (size_t k = lastOfPage + 1 - kFragmentsPerPage; k <= lastOfPage; ++k) {
        if (!assembly.parts.contains(static_cast<uint8_t>(k))) {
            return false;
        }
    }
    return true;
}

void Terminal::StartNextItemLocked(Out& out) {
    Item item = std::move(items_.front());
    items_.pop_front();
    if (item.control) {
        out.push_back({ControlFrame(dcbId_, item.command)});
        return;
    }
    const size_t total = (item.payload.size() + kFragmentSize - 1) / kFragmentSize;
    Outgoing outgoing;
    for (size_t i = 0; i < total; ++i) {
        const size_t from = i * kFragmentSize;
        const size_t length = std::min(kFragmentSize, item.payload.size() - from);
        outgoing.fragments.push_back(DataFrame(dcbId_, item.command, static_cast<uint8_t>(total),
                                               static_cast<uint8_t>(i + 1),
                                               std::span(item.payload).subspan(from, length)));
    }
    outgoing_ = std::move(outgoing);
    SendFragmentLocked(out);
}

void Terminal::SendFragmentLocked(Out& out) {
    Outgoing& outgoing = *outgoing_;
    const Bytes frame = outgoing.fragments[outgoing.next];
    const size_t number = outgoing.next + 1;
    SendDataLocked(frame, out);
    if (number < outgoing.fragments.size()) {
        outgoing.awaitingAck = true;
        return;
    }
    // The last fragment is not acknowledged: the reply answers it.
    if (fragmentToRepeat_ == number) {
        fragmentToRepeat_ = 0;
        SendDataLocked(frame, out);
    }
    outgoing_.reset();
}

void Terminal::SendDataLocked(const Bytes& frame, Out& out) {
    lastDataSent_ = frame;
    if (dataFramesToCorrupt_ <= 0) {
        out.push_back({frame});
        return;
    }
    --dataFramesToCorrupt_;
    Bytes damaged = frame;
    uint8_t& checksum = damaged[damaged.size() - kChecksumFromEnd];
    // A checksum is at most 128, so one more never becomes a frame marker.
    checksum = checksum >= 0xFE ? 0x01 : static_cast<uint8_t>(checksum + 1);
    out.push_back({std::move(damaged)});
}

bool Terminal::SendAckLocked(Out& out) {
    if (acksToWithhold_ > 0) {
        --acksToWithhold_;
        ++counters_.acksWithheld;
        return false;
    }
    ++counters_.acksSent;
    out.push_back({ControlFrame(dcbId_, kCmdAck)});
    return true;
}

}  // namespace qm::devsim
