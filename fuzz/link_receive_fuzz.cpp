// The receive side of one base station on a sequence of received bytes and
// frames, in-process and without the station's threads: the bytes go through
// the reader's assembly, and every frame it hands over through the frame
// handler. The station's port counts as open but is absent, so what the link
// sends stays in its transmit queue, where it is checked; with RetryTimes 0
// nothing waits for an acknowledgement, and page senders run on the calling
// thread. A window of this process takes the requests.
//
// The input is a list of steps, each led by a byte:
//   0 raw bytes off the line: a length byte, then the bytes;
//   1 a data fragment: terminal, command, N, k, payload length, a seed the
//     payload's text is made from, and a byte whose low bit spoils the
//     checksum;
//   2 a control frame: terminal, command;
//   3 a beacon answer: terminal;
//   4 a reply from the back-end: terminal, command, length in 8-byte units.
// A terminal byte picks one of the station's four terminals or one it does
// not list.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/frame_codec.h"
#include "link/link_params.h"
#include "link/link_state.h"
#include "link/request_notice.h"
#include "link/station_threads.h"
#include "link/transmit.h"
#include "platform/app_log.h"
#include "platform/window_message.h"

namespace {

using namespace qm;

constexpr uint8_t kHost = 1;
constexpr uint8_t kIds[] = {1, 2, 3, 200, 77};  // the last one is not listed
constexpr size_t kListed = 4;
// Frames whose handling pauses by design (a terminal's short message 20 ms,
// a page sender 5 ms) are taken only this often per input, so that the
// fuzzer keeps its pace.
constexpr int kShortMessageBudget = 1;
constexpr int kPageBudget = 2;

// A reading of the request rules: fragments of one terminal's request under
// one command and count, stored in order from fragment 1; a gap before the
// last fragment loses the request; the last fragment posts it, and posts it
// again when it comes again.
class Requests {
  public:
    struct Owner {
        uint8_t dcbId, command, total;
        bool operator==(const Owner&) const = default;
    };

    // The request that this fragment completes, if any.
    std::optional<std::vector<uint8_t>> Take(Owner o, uint8_t k, std::span<const uint8_t> payload) {
        if (k == 1) {
            owner_ = o;
            next_ = 1;
            data_.clear();
            overflow_ = posted_ = false;
        } else if (owner_ != o) {
            return std::nullopt;
        }
        if (posted_)
            return k == o.total ? std::optional(data_) : std::nullopt;
        if (k == next_) {
            overflow_ = overflow_ || data_.size() + payload.size() > kMessageBufferSize;
            if (!overflow_)
                data_.insert(data_.end(), payload.begin(), payload.end());
            ++next_;
        } else if (k > next_) {
            if (k == o.total)
                owner_.reset();
            return std::nullopt;
        }
        if (k != o.total)
            return std::nullopt;
        if (overflow_) {
            owner_.reset();
            return std::nullopt;
        }
        posted_ = true;
        return data_;
    }

  private:
    std::optional<Owner> owner_;
    int next_ = 1;
    std::vector<uint8_t> data_;
    bool overflow_ = false, posted_ = false;
};

struct Rig {
    fuzz::ScratchDir scratch;
    std::unique_ptr<MessageWindow> window;
    Link link;
    StationLink* station = nullptr;

    Rig() {
        SetDebugLevel(0);  // unknown ids and failed sends are logged: keep QMLog.txt out
        Params().retryTimes = 0;
        ::setenv("QM_RUNTIME_DIR", (scratch.path() / "run").c_str(), 1);
        int err = 0;
        const WindowHandle handle = 4300000 + static_cast<WindowHandle>(::getpid() % 100000);
        window = MessageWindow::Create(handle, &err);
        QM_FUZZ_CHECK(window != nullptr);
        link.notifyWindow = handle;
        // The window is this process's: notices go straight into its queue,
        // and the outbox's own thread only waits.
        link.notices = Outbox::Create(handle, kOutboxCapacity, nullptr, &err);
        QM_FUZZ_CHECK(link.notices != nullptr);
        link.programDir = link.txtDir = scratch.path().string();
        link.swapDir = (scratch.path() / "Swap").string();
        link.workers.SetStarter([](std::function<void()> fn) {
            fn();
            return std::thread();
        });
        auto st = std::make_unique<StationLink>();
        st->hostId = kHost;
        st->portUp = true;
        for (size_t i = 0; i < kListed; ++i)
            st->terminals.push_back(
                std::make_unique<TerminalLink>(kIds[i], link.shortMessages[kIds[i]]));
        station = st.get();
        link.stations.push_back(std::move(st));
    }

    // Every input starts from a quiet station.
    void Reset() {
        StationLink& s = *station;
        s.assembler.Reset();
        s.handOff.clear();
        s.txQueue.clear();
        s.messageOwner.reset();
        s.messageLength = 0;
        s.messagePosted = s.messageOverflow = false;
        s.holdFlag = 0;
        s.lastFragment = 0;
        for (auto& t : s.terminals) t->BeginReply(0, 0);
        std::error_code ignored;
        std::filesystem::remove_all(link.swapDir, ignored);
        WindowMessage m;
        while (window->PeekMessage(&m)) {
        }
    }

    std::vector<Frame> Sent() {
        std::vector<Frame> sent(station->txQueue.begin(), station->txQueue.end());
        station->txQueue.clear();
        return sent;
    }

    std::vector<std::shared_ptr<RequestNotice>> Posted() {
        std::vector<std::shared_ptr<RequestNotice>> posted;
        WindowMessage m;
        while (window->PeekMessage(&m)) {
            QM_FUZZ_CHECK(m.message == kRequestNoticeMessage && m.payload);
            posted.push_back(std::static_pointer_cast<RequestNotice>(m.payload));
        }
        return posted;
    }
};

// Reads the input step by step; a step cut short by the end reads zeros.
struct Reader {
    const uint8_t* p;
    size_t left;
    uint8_t Byte() {
        if (left == 0)
            return 0;
        --left;
        return *p++;
    }
};

bool SameBytes(const Frame& f, const std::optional<Frame>& want) {
    return want && std::ranges::equal(f.view(), want->view());
}

void CheckQuiet(Rig& rig) {
    const StationLink& s = *rig.station;
    QM_FUZZ_CHECK(s.messageLength <= kMessageBufferSize && s.holdFlag <= 1);
    for (const auto& t : s.terminals) {
        const ReplyState r = t->Reply();
        QM_FUZZ_CHECK(r.pagesSending == 0);
        QM_FUZZ_CHECK(r.pageIndex <= (r.fragmentTotal == 0 ? 0 : (r.fragmentTotal - 1) / 4));
    }
}

// Whether a page request finds a page to go to.
bool Moves(const ReplyState& reply, uint8_t command) {
    const uint32_t last = reply.fragmentTotal == 0 ? 0 : (reply.fragmentTotal - 1) / 4;
    if (command == kCmdPageForward)
        return reply.pageIndex < last;
    return command == kCmdPageBack && reply.pageIndex > 0;
}

// A control frame from a listed terminal: a clock request, a page request or
// a request without data.
void CheckControl(const Frame& f, TerminalLink& t, const ReplyState& before,
                  const std::vector<Frame>& sent,
                  const std::vector<std::shared_ptr<RequestNotice>>& posted) {
    const uint8_t command = f.view()[3];
    if (command == kCmdClock) {
        QM_FUZZ_CHECK(sent.size() == 1 && posted.empty());
        const auto reply = sent[0].view();
        QM_FUZZ_CHECK(reply.size() == kDataOverhead + kClockStampLength + kTitleSize);
        QM_FUZZ_CHECK(reply[1] == t.dcbId && reply[3] == kCmdClock && DataChecksumOk(reply));
        QM_FUZZ_CHECK(DataFragmentTotal(reply) == 1 && DataFragmentNumber(reply) == 1);
        return;
    }
    if (command == kCmdPageBack || command == kCmdPageForward) {
        QM_FUZZ_CHECK(posted.empty() && sent.size() <= 1);
        const bool forward = command == kCmdPageForward;
        if (!Moves(before, command)) {
            QM_FUZZ_CHECK(sent.empty());
        } else if (!sent.empty()) {
            // The page's first fragment went out and, unacknowledged, the
            // page failed: the terminal is back on its page.
            const uint32_t page = forward ? before.pageIndex + 1 : before.pageIndex - 1;
            QM_FUZZ_CHECK(DataFragmentNumber(sent[0].view()) == 4 * page + 1);
            QM_FUZZ_CHECK(DataFragmentTotal(sent[0].view()) == before.fragmentTotal);
        }
        QM_FUZZ_CHECK(t.Reply().pageIndex == before.pageIndex);
        return;
    }
    QM_FUZZ_CHECK(sent.empty() && posted.size() == 1);
    QM_FUZZ_CHECK(posted[0]->record.code == command && posted[0]->record.length == 0);
}

// A data frame from a listed terminal.
void CheckData(const Frame& f, const std::optional<std::vector<uint8_t>>& completes,
               const std::vector<Frame>& sent,
               const std::vector<std::shared_ptr<RequestNotice>>& posted) {
    const auto v = f.view();
    const uint8_t command = v[3];
    if (command == kCmdTest) {
        QM_FUZZ_CHECK(sent.empty() && posted.empty());
        return;
    }
    if (!DataChecksumOk(v)) {
        QM_FUZZ_CHECK(posted.empty() && sent.size() == 1);
        QM_FUZZ_CHECK(SameBytes(sent[0], BuildControlFrame(v[1], kCmdChecksumError)));
        return;
    }
    const uint8_t n = DataFragmentTotal(v), k = DataFragmentNumber(v);
    const bool acked = command == kCmdShortMessage || (n > 1 && k < n);
    QM_FUZZ_CHECK(sent.size() == (acked ? 1u : 0u));
    if (acked)
        QM_FUZZ_CHECK(SameBytes(sent[0], BuildControlFrame(v[1], kCmdAck)));
    QM_FUZZ_CHECK(posted.size() == (completes ? 1u : 0u));
    if (completes) {
        const RequestRecord& r = posted[0]->record;
        QM_FUZZ_CHECK(r.hostId == kHost && r.dcbId == v[1] && r.code == command);
        QM_FUZZ_CHECK(r.length == completes->size() && posted[0]->data.size() == r.length + 1);
        QM_FUZZ_CHECK(std::equal(completes->begin(), completes->end(), posted[0]->data.begin()));
    }
}

struct Budget {
    int shortMessages = kShortMessageBudget;
    int pages = kPageBudget;
};

// Hands every frame the reader put aside to the frame handler and checks
// what each one did.
void HandleFrames(Rig& rig, Requests& requests, Budget& budget) {
    StationLink& s = *rig.station;
    while (!s.handOff.empty()) {
        const Frame f = s.handOff.front();
        s.handOff.pop_front();
        const auto v = f.view();
        const auto* id = std::find(kIds, kIds + kListed, v[1]);
        TerminalLink* t = id == kIds + kListed ? nullptr : s.terminals[id - kIds].get();
        const bool data = v.size() >= 9;
        const bool sums = data && DataChecksumOk(v);
        if (t && sums && v[3] == kCmdShortMessage && budget.shortMessages-- <= 0)
            continue;
        const ReplyState before = t ? t->Reply() : ReplyState{};
        if (t && !data && v.size() > kBeaconLength && Moves(before, v[3]) && budget.pages-- <= 0)
            continue;

        HandleReceivedFrame(rig.link, s, f);
        const auto sent = rig.Sent();
        const auto posted = rig.Posted();
        CheckQuiet(rig);
        if (!t) {
            QM_FUZZ_CHECK(sent.empty() && posted.empty());
        } else if (v.size() == kBeaconLength) {
            QM_FUZZ_CHECK(sent.empty() && posted.empty());
        } else if (!data) {
            CheckControl(f, *t, before, sent, posted);
        } else {
            std::optional<std::vector<uint8_t>> completes;
            if (sums && v[3] != kCmdTest)
                completes = requests.Take({v[1], v[3], DataFragmentTotal(v)}, DataFragmentNumber(v),
                                          DataPayload(v));
            CheckData(f, completes, sent, posted);
        }
    }
}

// A data frame as a terminal sends it, with any N and k and up to the
// longest payload a frame holds, of text made from the seed.
std::optional<Frame> Fragment(uint8_t id, uint8_t command, uint8_t n, uint8_t k, size_t length,
                              uint8_t seed, bool spoilChecksum) {
    Frame f;
    f.bytes[0] = kFrameStart;
    f.bytes[1] = id;
    f.bytes[2] = static_cast<uint8_t>(~id);
    f.bytes[3] = command;
    f.bytes[4] = static_cast<uint8_t>(~command);
    f.bytes[5] = static_cast<uint8_t>(length + 2);
    f.bytes[6] = n;
    f.bytes[7] = k;
    for (size_t i = 0; i < length; ++i)
        f.bytes[8 + i] = static_cast<uint8_t>(0x20 + (seed + i) % 0x5F);
    f.bytes[8 + length] = FrameChecksum(f.bytes.data() + 6, length + 2) ^ (spoilChecksum ? 1 : 0);
    f.bytes[9 + length] = kFrameEnd;
    f.length = static_cast<uint32_t>(kDataOverhead + length);
    return f;
}

void Receive(Rig& rig, std::span<const uint8_t> bytes) {
    std::lock_guard<std::mutex> hold(rig.station->receiveLock);
    TakeReceivedBytes(rig.link, *rig.station, bytes);
}

void Receive(Rig& rig, const std::optional<Frame>& frame) {
    if (frame)
        Receive(rig, frame->view());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    rig.Reset();
    Requests requests;
    Budget budget;
    Reader in{data, size};
    while (in.left > 0) {
        const uint8_t step = in.Byte() % 5;
        const uint8_t id = kIds[in.Byte() % std::size(kIds)];
        switch (step) {
            case 0: {
                std::vector<uint8_t> bytes(in.Byte());
                for (auto& b : bytes) b = in.Byte();
                Receive(rig, bytes);
                break;
            }
            case 1: {
                const uint8_t command = in.Byte(), n = in.Byte(), k = in.Byte();
                const size_t length = in.Byte() % (kMaxFrame - kDataOverhead + 1);
                const uint8_t seed = in.Byte();
                Receive(rig, Fragment(id, command, n, k, length, seed, in.Byte() & 1));
                break;
            }
            case 2:
                Receive(rig, BuildControlFrame(id, in.Byte()));
                break;
            case 3:
                Receive(rig, BuildBeaconFrame(id));
                break;
            default: {
                const uint8_t command = in.Byte();
                std::vector<uint8_t> reply(in.Byte() * 8u);
                for (size_t i = 0; i < reply.size(); ++i) reply[i] = 'A' + i % 26;
                SendReply(rig.link, id, kHost, command, reply.data(),
                          static_cast<uint32_t>(reply.size()));
                const auto sent = rig.Sent();
                QM_FUZZ_CHECK(sent.size() <= 1 && rig.Posted().empty());
                if (!sent.empty() && reply.empty()) {
                    // A reply without data goes out as a control frame.
                    QM_FUZZ_CHECK(SameBytes(sent[0], BuildControlFrame(id, command)));
                } else if (!sent.empty()) {
                    const uint32_t total = reply.empty() ? 1 : (reply.size() - 1) / kMaxPayload + 1;
                    QM_FUZZ_CHECK(DataFragmentNumber(sent[0].view()) == 1);
                    QM_FUZZ_CHECK(DataFragmentTotal(sent[0].view()) == total);
                }
                CheckQuiet(rig);
                break;
            }
        }
        HandleFrames(rig, requests, budget);
    }
    return 0;
}
