// The soak's books: what the terminals were told to send, what the back-end
// found in the request files, what it replied, what reached the terminals,
// and the short messages and clock requests, each kept per terminal. Settle
// compares them and counts every difference by its cause.
//
// Request file contents are unique within a terminal (the soak numbers every
// request with data and never repeats a control request of a terminal), so
// each file read names exactly one request, and a reply's text names exactly
// one reply.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qm::soak {

using Bytes = std::vector<uint8_t>;

struct Figures {
    uint64_t requestsQueued = 0;
    uint64_t requestsUnsent = 0;   // still with the terminal at the end (no beacon came)
    uint64_t requestsCarried = 0;  // read by the back-end exactly once
    uint64_t requestsLost = 0;
    uint64_t requestsDuplicated = 0;
    uint64_t requestsForeign = 0;  // a file that no terminal sent
    // The station's next request replaced T<host>.txt before the back-end
    // read it: the manager wrote and announced both, the back-end found the
    // second twice. One request file per station is how the exchange works.
    uint64_t requestsReplacedBeforeRead = 0;
    // Lost on a terminal whose fragments the manager dropped as out of order
    // (and said so in its log): the beacon left the terminal part-way through
    // a long request, after its ten rounds of holding, and the next
    // terminal's first fragment took over the station's reassembly.
    uint64_t requestsInterrupted = 0;

    uint64_t repliesWritten = 0;
    uint64_t repliesDelivered = 0;
    // Refused by the manager, the terminal having asked again before the
    // back-end wrote the reply: a reply answers the terminal's most recent
    // request only.
    uint64_t repliesRefusedStale = 0;
    // Refused although it answered the terminal's most recent request.
    uint64_t repliesRefusedCurrent = 0;
    uint64_t repliesSendFailed = 0;  // accepted, but the terminal did not acknowledge
    // A long reply whose paging ended when a short message reached the
    // terminal between its pages: delivering a message starts a new one-frame
    // exchange with the terminal, and later page requests find no pages.
    uint64_t repliesCutShort = 0;
    uint64_t repliesLost = 0;  // neither delivered nor reported by the manager
    uint64_t repliesDuplicated = 0;
    uint64_t repliesForeign = 0;
    uint64_t repliesOverReported = 0;  // the manager reported more failures than went undelivered

    uint64_t shortMessagesSent = 0;
    uint64_t shortMessagesDelivered = 0;
    uint64_t shortMessagesLost = 0;
    uint64_t shortMessagesDuplicated = 0;
    uint64_t shortMessagesForeign = 0;

    uint64_t clockRequests = 0;
    uint64_t clockUnsent = 0;
    uint64_t clockAnswers = 0;
    uint64_t clockAnswersMissing = 0;
    uint64_t clockAnswersExtra = 0;
    uint64_t clockAnswersBad = 0;

    // Deliveries counted twice because the manager sent a frame again after
    // its acknowledgement came late: the terminal takes the repeat as new.
    uint64_t repeatedAfterLateAck = 0;

    // Everything the protocol does not explain: the run fails on any.
    uint64_t Faults() const {
        return requestsLost + requestsDuplicated + requestsForeign + repliesRefusedCurrent +
               repliesSendFailed + repliesLost + repliesDuplicated + repliesForeign +
               repliesOverReported + shortMessagesLost + shortMessagesDuplicated +
               shortMessagesForeign + clockAnswersMissing + clockAnswersExtra + clockAnswersBad;
    }
};

// What one terminal received, as the simulated device reassembled it.
struct Received {
    std::vector<Bytes> replies;    // transaction replies, in order
    uint64_t repliesCutShort = 0;  // long replies whose paging a short message ended
    // The terminal's last request or clock request had not gone out yet.
    bool requestUnsent = false;
    bool clockUnsent = false;
    uint64_t clockAnswers = 0;
    uint64_t clockAnswersBad = 0;
    std::vector<std::pair<int, Bytes>> shortMessages;  // number, text
    uint64_t repeatsAfterAck = 0;  // frames the terminal got again after acknowledging them
};

// What the manager wrote to its log about replies, per host id.
struct ReplyReports {
    std::map<uint8_t, uint64_t> refused;     // "SDKGetRxFile Error"
    std::map<uint8_t, uint64_t> sendErrors;  // "Send Error": refused or not acknowledged
    // "Reply refused", by host id and the DCB id the reply named, and by its
    // reason.
    std::map<std::pair<uint8_t, uint8_t>, uint64_t> refusedFor;
    std::map<std::string, uint64_t> refusalReasons;
    // "Fragment out of order, dropped", by host id and DCB id.
    std::map<std::pair<uint8_t, uint8_t>, uint64_t> fragmentsDropped;
};

class Ledger {
  public:
    using Terminal = std::pair<uint8_t, uint8_t>;  // host id, DCB id

    void RequestQueued(Terminal t, std::string fileContents);
    // The back-end read a request file at a notice of the host. False when it
    // is the file already read at that host's previous notice: then it is
    // not answered again.
    bool RequestFileRead(Terminal t, const std::string& contents);
    // stale: the terminal had asked again by the time the reply was written.
    void ReplyWritten(Terminal t, Bytes atTerminal, bool stale = false);
    void ClockQueued(Terminal t);
    void ShortMessageSent(uint8_t dcbId, int number, Bytes text);

    Figures Settle(const std::map<Terminal, Received>& received, const ReplyReports& reports) const;

  private:
    struct Books {
        std::vector<std::string> queued;
        std::vector<std::string> read;
        std::vector<Bytes> replies;
        uint64_t staleReplies = 0;
        uint64_t clockRequests = 0;
    };
    struct ShortMessage {
        uint8_t dcbId;
        int number;
        Bytes text;
    };

    std::map<Terminal, Books> books_;
    std::map<uint8_t, std::string> lastRead_;  // by host id
    std::map<uint8_t, uint64_t> reread_;       // by host id
    std::vector<ShortMessage> shortMessages_;
};

}  // namespace qm::soak
