#include "tools/soak/ledger.h"

#include <algorithm>
#include <tuple>

namespace qm::soak {
namespace {

struct Match {
    uint64_t matched = 0;
    uint64_t duplicated = 0;
    uint64_t foreign = 0;
};

// Walks what was observed against what was expected, both in order: an
// observation is the next expected item (perhaps after some that never
// came), one already matched (a duplicate), or none at all.
template <typename T>
Match MatchInOrder(const std::vector<T>& expected, const std::vector<T>& observed) {
    Match m;
    size_t next = 0;
    for (const T& o : observed) {
        const auto ahead = std::find(expected.begin() + static_cast<long>(next), expected.end(), o);
        if (ahead != expected.end()) {
            ++m.matched;
            next = static_cast<size_t>(ahead - expected.begin()) + 1;
        } else if (std::find(expected.begin(), expected.begin() + static_cast<long>(next), o) !=
                   expected.begin() + static_cast<long>(next)) {
            ++m.duplicated;
        } else {
            ++m.foreign;
        }
    }
    return m;
}

uint64_t Of(const std::map<uint8_t, uint64_t>& counts, uint8_t host) {
    const auto it = counts.find(host);
    return it == counts.end() ? 0 : it->second;
}

}  // namespace

void Ledger::RequestQueued(Terminal t, std::string fileContents) {
    books_[t].queued.push_back(std::move(fileContents));
}

bool Ledger::RequestFileRead(Terminal t, const std::string& contents) {
    std::string& last = lastRead_[t.first];
    if (contents == last) {
        ++reread_[t.first];
        return false;
    }
    last = contents;
    books_[t].read.push_back(contents);
    return true;
}

void Ledger::ReplyWritten(Terminal t, Bytes atTerminal, bool stale) {
    Books& books = books_[t];
    books.replies.push_back(std::move(atTerminal));
    books.staleReplies += stale ? 1 : 0;
}

void Ledger::ClockQueued(Terminal t) {
    ++books_[t].clockRequests;
}

void Ledger::ShortMessageSent(uint8_t dcbId, int number, Bytes text) {
    shortMessages_.push_back({dcbId, number, std::move(text)});
}

Figures Ledger::Settle(const std::map<Terminal, Received>& received,
                       const ReplyReports& reports) const {
    static const Received kNothing;
    Figures f;
    std::map<uint8_t, uint64_t> requestsLost, repliesUndelivered, repliesCutShort;
    for (const auto& [t, books] : books_) {
        const auto it = received.find(t);
        const Received& got = it == received.end() ? kNothing : it->second;

        const Match requests = MatchInOrder(books.queued, books.read);
        f.requestsQueued += books.queued.size();
        f.requestsCarried += requests.matched;
        f.requestsDuplicated += requests.duplicated;
        f.requestsForeign += requests.foreign;
        const uint64_t unsent = got.requestUnsent && !books.queued.empty() ? 1 : 0;
        f.requestsUnsent += unsent;
        uint64_t lost = books.queued.size() - unsent -
                        std::min<uint64_t>(requests.matched, books.queued.size() - unsent);
        if (lost > 0 && reports.fragmentsDropped.contains(t)) {
            f.requestsInterrupted += lost;
            lost = 0;
        }
        requestsLost[t.first] += lost;

        const Match replies = MatchInOrder(books.replies, got.replies);
        f.repliesWritten += books.replies.size();
        f.repliesDelivered += replies.matched;
        f.repliesDuplicated += replies.duplicated;
        f.repliesForeign += replies.foreign;
        repliesUndelivered[t.first] += books.replies.size() - replies.matched;
        repliesCutShort[t.first] += got.repliesCutShort;

        const uint64_t clockSent = books.clockRequests - (got.clockUnsent ? 1 : 0);
        f.clockRequests += books.clockRequests;
        f.clockUnsent += books.clockRequests - clockSent;
        f.clockAnswers += got.clockAnswers;
        f.clockAnswersBad += got.clockAnswersBad;
        if (got.clockAnswers < clockSent)
            f.clockAnswersMissing += clockSent - got.clockAnswers;
        else
            f.clockAnswersExtra += got.clockAnswers - clockSent;
    }
    // A file read twice in a row stands for the request it replaced when
    // that one is missing; a second read with nothing missing is a
    // duplicated notice.
    for (const auto& [host, lost] : requestsLost) {
        const uint64_t reread = Of(reread_, host);
        const uint64_t replaced = std::min(lost, reread);
        f.requestsReplacedBeforeRead += replaced;
        f.requestsLost += lost - replaced;
        f.requestsDuplicated += reread - replaced;
    }
    for (const auto& [host, undelivered] : repliesUndelivered) {
        const uint64_t refused = Of(reports.refused, host);
        const uint64_t sendErrors = Of(reports.sendErrors, host);
        const uint64_t failed = sendErrors > refused ? sendErrors - refused : 0;
        const uint64_t cut = Of(repliesCutShort, host);
        f.repliesSendFailed += failed;
        f.repliesCutShort += cut;
        if (undelivered >= refused + failed + cut)
            f.repliesLost += undelivered - refused - failed - cut;
        else
            f.repliesOverReported += refused + failed + cut - undelivered;
    }

    // A refusal is explained by a reply written after its terminal had asked
    // again; any other refusal (or one naming a terminal that was never
    // answered) refused a reply to the terminal's most recent request.
    for (const auto& [t, refused] : reports.refusedFor) {
        const auto it = books_.find(t);
        const uint64_t stale = it == books_.end() ? 0 : it->second.staleReplies;
        f.repliesRefusedStale += std::min(refused, stale);
        f.repliesRefusedCurrent += refused - std::min(refused, stale);
    }

    std::map<std::tuple<uint8_t, int, Bytes>, uint64_t> deliveries;  // by DCB id, number, text
    for (const auto& [t, got] : received)
        for (const auto& [number, text] : got.shortMessages) ++deliveries[{t.second, number, text}];
    uint64_t matchedDeliveries = 0;
    for (const ShortMessage& m : shortMessages_) {
        ++f.shortMessagesSent;
        const auto it = deliveries.find({m.dcbId, m.number, m.text});
        const uint64_t n = it == deliveries.end() ? 0 : it->second;
        matchedDeliveries += n;
        if (n == 0)
            ++f.shortMessagesLost;
        else
            ++f.shortMessagesDelivered;
        f.shortMessagesDuplicated += n > 1 ? n - 1 : 0;
    }
    uint64_t allDeliveries = 0;
    for (const auto& [key, n] : deliveries) allDeliveries += n;
    f.shortMessagesForeign = allDeliveries - matchedDeliveries;

    // Each repeat the terminals saw explains one duplicate at most.
    uint64_t repeats = 0;
    for (const auto& [t, got] : received) repeats += got.repeatsAfterAck;
    for (uint64_t* dup : {&f.shortMessagesDuplicated, &f.repliesDuplicated, &f.clockAnswersExtra}) {
        const uint64_t explained = std::min(*dup, repeats);
        *dup -= explained;
        repeats -= explained;
        f.repeatedAfterLateAck += explained;
    }
    return f;
}

}  // namespace qm::soak
