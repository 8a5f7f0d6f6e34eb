// One simulated handheld terminal.
//
// A terminal speaks only when spoken to: it answers a beacon addressed to it
// with the same four bytes when it has nothing to say, otherwise with its
// next pending item (a request, the first or next fragment of a request, a
// clock request or a page request). Items go in the order queued, except an
// automatic page request, which continues the reply under way and so goes
// first. A beacon that comes while a fragment still awaits its
// acknowledgement means the manager did not get it: the fragment goes again. It acknowledges every
// data frame addressed to it, reassembles replies and, when auto-paging is on, asks for the next
// 200-byte page of a long reply at the following beacon. It answers the short-message beacon, the
// download search, download lines and the download's done frame, and echoes link test frames.
//
// A download line is acknowledged at the first beacon after it was heard; a
// terminal that missed a line answers that beacon as any other.
//
// Faults can be switched on per terminal, so that the manager's error paths
// meet a misbehaving peer for real.
//
// All methods are thread-safe; the observers return copies.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "tools/devsim/frame.h"
#include "tools/devsim/records.h"

namespace qm::devsim {

class SimCore;
class Station;

// When the fragments of a multi-fragment request after the first go out.
enum class FragmentPacing {
    kAfterAck,  // at once when the manager acknowledges the previous one
    kAtBeacon,  // at the first beacon after that acknowledgement
};

// How a damaged link test echo is damaged.
enum class EchoDamage {
    kPatternByte,  // first pattern byte changed, checksum made to match
    kSequence,     // sequence number changed, checksum made to match
    kChecksum,     // checksum byte wrong
};

class Terminal {
  public:
    // StopLineAcksAfter's "acknowledge every line".
    static constexpr uint32_t kNoLineAckLimit = UINT32_MAX;

    // Terminals are made by Station::AddTerminal only.
    class Key {
        friend class Station;
        Key() = default;
    };
    Terminal(Key, SimCore& core, uint8_t dcbId);
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    uint8_t DcbId() const { return dcbId_; }

    // --- What the terminal has to say --------------------------------------
    // A request with data: sent as data frames of at most 50 bytes, fragment
    // 1 at the next beacon. An empty payload makes it a control request.
    // Returns false, queuing nothing, for a payload the terminal could not
    // send: more than 254 fragments, or a 0x00 or 0xFF byte (frame markers;
    // use Station::InjectRaw for such line faults).
    bool QueueRequest(uint8_t command, std::vector<uint8_t> payload);
    // A request without data: one control frame.
    void QueueControlRequest(uint8_t command);
    // The start-up request for date, time and venue title (control 0x05).
    void QueueClockRequest();
    // Next (0x04) or previous (0x03) page of the current long reply.
    void QueuePageRequest(bool forward);
    void SetFragmentPacing(FragmentPacing pacing);
    // On by default: after a complete page of a longer reply, ask for the
    // next one at the following beacon.
    void SetAutoPaging(bool on);
    // Items still to be sent, including a request part-way through.
    size_t PendingItems() const;

    // --- Faults --------------------------------------------------------------
    // Out of reach: hears and answers nothing until switched back.
    void SetSilent(bool silent);
    // The next `count` acknowledgements this terminal would send are not sent.
    void WithholdAcks(int count);
    // The next `count` link test echoes are damaged.
    void DamageEchoes(int count, EchoDamage how = EchoDamage::kPatternByte);
    // The next `count` link test echoes go out `delayMs` after the test frame
    // came instead of at once. Each waits on its own: answers made meanwhile,
    // by this terminal or others on the line, go out at once and so overtake
    // it. Stopping the simulator drops echoes still waiting.
    void DelayEchoes(int count, uint32_t delayMs);
    // The download search goes unanswered while on; lines, beacons and all
    // else are still heard and answered.
    void IgnoreSearch(bool on);
    // Acknowledges `lines` more download lines from now on, then no further
    // one: the beacon after such a line finds the terminal as if it had
    // missed the line, though the line is recorded. A line broadcast again
    // after its acknowledgement is acknowledged again and counts once. The
    // done frame is still acknowledged, as a terminal that lost some lines
    // still hears the end of the run. kNoLineAckLimit switches back.
    void StopLineAcksAfter(uint32_t lines);
    // The next `count` data frames this terminal sends carry a wrong checksum
    // (the copy kept for a resend after 0x02 is the correct one).
    void CorruptDataFrames(int count);
    // Fragment `number` of the next multi-fragment request goes out twice:
    // once more after its acknowledgement (or, for the last fragment, which
    // is not acknowledged, twice in a row).
    void RepeatFragment(uint8_t number);

    // --- Observations --------------------------------------------------------
    std::vector<Reply> Replies() const;
    // Whether some fragments of a reply have come and the reply is not whole
    // yet (a long reply being paged).
    bool ReplyUnderWay() const;
    std::vector<ReplyFragment> Fragments() const;
    std::vector<ShortMessage> ShortMessages() const;
    std::vector<DownloadLine> DownloadLines() const;
    TerminalCounters Counters() const;

  private:
    friend class Station;
    struct Item {
        uint8_t command = 0;
        Bytes payload;
        bool control = true;
    };
    struct Outgoing {
        std::vector<Bytes> fragments;
        size_t next = 0;           // index of the fragment to send or awaiting its ack
        bool awaitingAck = false;  // fragment `next` is out, its ack has not come
    };
    struct Assembly {
        uint8_t command = 0;
        uint8_t total = 0;
        std::map<uint8_t, Bytes> parts;
        uint8_t pageAskedAfter = 0;  // last fragment number that triggered a page request
    };
    struct Answer {
        Bytes bytes;
        uint32_t delayMs = 0;  // after the frame answered; 0: at once
    };
    using Out = std::vector<Answer>;

    // Called by the station with the core's mutex held.
    void HandleLocked(const Frame& frame, const Bytes& raw, Out& out);
    void HandleBroadcastLocked(const Frame& frame);

    void OnBeaconLocked(Out& out);
    void OnControlLocked(uint8_t command, Out& out);
    void OnDataLocked(const Frame& frame, const Bytes& raw, Out& out);
    void OnTestLocked(const Bytes& raw, Out& out);
    void OnSearchLocked(Out& out);
    void OnAckLocked(Out& out);
    void OnReplyFragmentLocked(const Frame& frame);
    void StartNextItemLocked(Out& out);
    void SendFragmentLocked(Out& out);
    void SendDataLocked(const Bytes& frame, Out& out);
    bool SendAckLocked(Out& out);
    static bool PageComplete(const Assembly& assembly, uint8_t lastOfPage);

    SimCore& core_;
    const uint8_t dcbId_;

    std::deque<Item> items_;
    std::optional<Outgoing> outgoing_;
    Bytes lastDataSent_;
    FragmentPacing pacing_ = FragmentPacing::kAfterAck;
    bool autoPaging_ = true;
    bool lineAckOwed_ = false;
    std::pair<uint8_t, uint32_t> owedLine_;  // file command and record of the last line heard
    std::optional<std::pair<uint8_t, uint32_t>> lastLineAcked_;

    bool silent_ = false;
    int acksToWithhold_ = 0;
    int echoesToDamage_ = 0;
    EchoDamage echoDamage_ = EchoDamage::kPatternByte;
    int echoesToDelay_ = 0;
    uint32_t echoDelayMs_ = 0;
    bool ignoreSearch_ = false;
    uint32_t lineAckLimit_ = kNoLineAckLimit;
    uint32_t linesAckedSinceLimit_ = 0;
    int dataFramesToCorrupt_ = 0;
    uint8_t fragmentToRepeat_ = 0;
    bool repeatSent_ = false;

    Bytes lastDataReceived_;
    bool lastDataAcked_ = true;
    std::optional<Assembly> assembly_;

    std::vector<Reply> replies_;
    std::vector<ReplyFragment> fragments_;
    std::vector<ShortMessage> messages_;
    std::vector<DownloadLine> lines_;
    TerminalCounters counters_;
};

}  // namespace qm::devsim
