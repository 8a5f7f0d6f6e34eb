#include "tools/soak/run.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/window_message.h"
#include "service/code_table.h"
#include "service/qmsdk.h"
#include "service/request_files.h"
#include "tools/backsim/file_io.h"
#include "tools/backsim/reply_file.h"
#include "tools/backsim/request_file.h"
#include "tools/backsim/short_message_file.h"
#include "tools/devsim/device_simulator.h"
#include "tools/pktlog/decode.h"
#include "tools/process/child_process.h"
#include "tools/process/process_memory.h"
#include "tools/soak/answerer.h"
#include "tools/soak/ledger.h"
#include "tools/soak/manager_files.h"

namespace qm::soak {
namespace {

namespace fs = std::filesystem;

constexpr char kTitle[] = "SOAK HOUSE";
constexpr size_t kTitleBytes = 20;
constexpr size_t kClockStampBytes = 13;
constexpr size_t kSlot = 20;
constexpr int kOnePageSlots = 10;  // 200 bytes
constexpr size_t kMaxSingleFrame = 50;
constexpr size_t kRecordBlock = 40;  // an order ("DC  ") is read in blocks of 40 bytes
constexpr size_t kLogonReplyBytes = 11;
constexpr int64_t kSettleCheckMs = 500;
constexpr uint32_t kLongestWaitMs = 100;
// --- The soak ---------------------------------------------------------------

struct SimTerminal {
    Ledger::Terminal id;
    devsim::Terminal* device = nullptr;
    std::set<uint8_t> controlCodesSent;
    bool lastWasClock = false;  // the kind of the item queued last
};

class Soak {
  public:
    Soak(const Settings& s, const RunOptions& o) : s_(s), o_(o), rng_(s.seed) {
        for (int c = 0; c < static_cast<int>(kCodeCount); ++c)
            if (CodeName(static_cast<uint8_t>(c)) && c != kCodeClock)
                codes_.push_back(static_cast<uint8_t>(c));
    }

    int Run();

  private:
    bool SetUp();
    bool StartManager();
    void Loop();
    void QueueItem(SimTerminal& t);
    void OnRequestNotice(uint8_t host);
    // Books the answers the answerer has written since the last call.
    void TakeAnswers();
    std::atomic<uint64_t>& RequestSerial(Ledger::Terminal t) {
        return requestSerials_[static_cast<size_t>(t.first - 1) * s_.terminals + t.second - 1];
    }
    void SendShortMessage();
    std::map<Ledger::Terminal, Received> Collect() const;
    // Long replies among the fragments whose paging a short message ended;
    // *lastCut tells whether the reply still under way is one.
    static uint64_t CutShort(const std::vector<devsim::ReplyFragment>& fragments,
                             const std::vector<devsim::ShortMessage>& messages, bool* lastCut);
    // Whether the terminal still has something to send or a reply to finish.
    static bool WorkLeft(const SimTerminal& t);
    bool Settled();
    bool CloseManager();
    int Report();

    uint32_t Random(uint32_t from, uint32_t to) {  // inclusive
        return std::uniform_int_distribution<uint32_t>(from, to)(rng_);
    }
    bool Chance(int percent) { return static_cast<int>(Random(0, 99)) < percent; }
    std::string Tag(char kind, uint32_t serial) const {
        char text[16];
        std::snprintf(text, sizeof text, "%c%07u", kind, serial);
        return text;
    }
    std::string Filler(size_t n) {
        std::string s(n, ' ');
        for (char& c : s) c = static_cast<char>(Random('a', 'z'));
        return s;
    }

    const Settings& s_;
    const RunOptions& o_;
    std::mt19937 rng_;
    std::vector<uint8_t> codes_;
    ProgramFolder folder_;
    std::unique_ptr<devsim::DeviceSimulator> sim_;
    std::vector<SimTerminal> terminals_;
    std::unique_ptr<MessageWindow> window_;
    ChildProcess manager_;
    WindowHandle managerWindow_ = 0;
    Ledger ledger_;
    // By terminal: how many of its requests the back-end has read.
    std::unique_ptr<std::atomic<uint64_t>[]> requestSerials_;
    std::unique_ptr<Answerer> answerer_;
    uint32_t requestSerial_ = 0;
    uint32_t replySerial_ = 0;
    uint32_t messageSerial_ = 0;

    int64_t startMs_ = 0;
    int64_t trafficEndMs_ = 0;
    int64_t endMs_ = 0;
    bool settled_ = false;
    bool draining_ = false;
    uint64_t backEndErrors_ = 0;
    uint64_t shortMessagesPostponed_ = 0;
    uint64_t dxRequestsUnanswered_ = 0;
    ProcessMemory warm_;
    ProcessMemory last_;
    int exitStatus_ = -1;
    int64_t closeMs_ = -1;
    std::vector<std::string> failures_;
};

bool Soak::SetUp() {
    std::string error;
    if (!folder_.Make(o_.folder, o_.keep, &error)) {
        std::fprintf(stderr, "qm-soak: %s\n", error.c_str());
        return false;
    }
    setenv("QM_HOME", folder_.Path().c_str(), 1);
    setenv("QM_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
    char ini[256];
    std::snprintf(ini, sizeof ini,
                  "[CONFIG]\r\nDebugLevel=%d\r\nRetryTimes=%d\r\nBeaconInterVal=%d\r\n"
                  "BeaconTimeout=%d\r\n",
                  s_.debugLevel, s_.retryTimes, s_.beaconInterval, s_.beaconTimeout);
    std::string stations, terminals;
    for (int h = 1; h <= s_.stations; ++h) {
        stations += std::to_string(h) + " COM" + std::to_string(h) + "\r\n";
        for (int d = 1; d <= s_.terminals; ++d)
            terminals += std::to_string(d) + " " + std::to_string(h) + "\r\n";
    }
    if (!folder_.Write("QM.ini", ini) || !folder_.Write("TXT/基站.TXT", stations) ||
        !folder_.Write("TXT/点菜机.TXT", terminals) ||
        !folder_.Write("TXT/BT.txt", std::string(kTitle) + "\r\n")) {
        std::fprintf(stderr, "qm-soak: cannot write the site files in %s\n",
                     folder_.Path().c_str());
        return false;
    }

    sim_ = std::make_unique<devsim::DeviceSimulator>(folder_.Path());
    // The frame history is for tests that look back; a long run keeps little.
    sim_->SetHistoryLimit(1024);
    for (int h = 1; h <= s_.stations; ++h) {
        devsim::Station& station = sim_->AddStation("COM" + std::to_string(h));
        if (!station.Ok()) {
            std::fprintf(stderr, "qm-soak: station COM%d: %s\n", h, station.Error().c_str());
            return false;
        }
        for (int d = 1; d <= s_.terminals; ++d) {
            SimTerminal t;
            t.id = {static_cast<uint8_t>(h), static_cast<uint8_t>(d)};
            t.device = &station.AddTerminal(static_cast<uint8_t>(d));
            terminals_.push_back(std::move(t));
        }
    }
    if (!sim_->Start()) {
        std::fprintf(stderr, "qm-soak: device simulator: %s\n", sim_->Error().c_str());
        return false;
    }
    int err = 0;
    window_ = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
    if (!window_) {
        std::fprintf(stderr, "qm-soak: cannot create the back-end's window: %s\n",
                     std::strerror(err));
        return false;
    }
    if (!StartManager())
        return false;
    requestSerials_ = std::make_unique<std::atomic<uint64_t>[]>(static_cast<size_t>(s_.stations) *
                                                                static_cast<size_t>(s_.terminals));
    answerer_ =
        std::make_unique<Answerer>(folder_ / "TXT", managerWindow_, s_.sameStationGapMs,
                                   [this](Ledger::Terminal t) { return RequestSerial(t).load(); });
    for (int h = 1; h <= s_.stations; ++h)
        sim_->FindStation("COM" + std::to_string(h))
            ->SetSilenceLimit(static_cast<uint32_t>(s_.silenceLimitMs));
    return true;
}

bool Soak::StartManager() {
    ChildProcess::Options options;
    options.cwd = folder_.Path();
    options.setEnv = {"QM_HEADLESS=1"};
    options.outputFile = folder_ / "qm.out";
    options.nullInput = true;
    options.endWithParent = true;
    if (!manager_.Start(o_.manager, {std::to_string(window_->Handle())}, options)) {
        std::fprintf(stderr, "qm-soak: cannot start %s: %s\n", o_.manager.c_str(),
                     std::strerror(errno));
        return false;
    }
    const int64_t deadline = MonotonicMs() + s_.startSeconds * 1000LL;
    WindowMessage m;
    while (MonotonicMs() < deadline) {
        const auto left = static_cast<uint32_t>(std::max<int64_t>(1, deadline - MonotonicMs()));
        if (!window_->GetMessage(&m, left))
            break;
        if (m.message == WM_POS_NOTICE && ValidWindowHandle(static_cast<WindowHandle>(m.lParam))) {
            managerWindow_ = static_cast<WindowHandle>(m.lParam);
            return true;
        }
    }
    std::fprintf(stderr, "qm-soak: the manager did not announce its window within %d s\n",
                 s_.startSeconds);
    return false;
}

void Soak::QueueItem(SimTerminal& t) {
    t.lastWasClock = false;
    const int roll = static_cast<int>(Random(0, 99));
    if (roll < s_.clockPercent) {
        t.device->QueueClockRequest();
        ledger_.ClockQueued(t.id);
        t.lastWasClock = true;
        return;
    }
    if (roll < s_.clockPercent + s_.controlPercent) {
        // A control request's file is its header alone; one code a terminal
        // sends only once keeps every file of the terminal distinct.
        std::vector<uint8_t> unused;
        for (uint8_t c : codes_)
            if (!t.controlCodesSent.contains(c))
                unused.push_back(c);
        if (!unused.empty()) {
            const uint8_t code = unused[Random(0, static_cast<uint32_t>(unused.size() - 1))];
            t.controlCodesSent.insert(code);
            t.device->QueueControlRequest(code);
            ledger_.RequestQueued(t.id, FormatRequestFile(t.id.second, code, {}));
            return;
        }
    }
    const uint8_t code = codes_[Random(0, static_cast<uint32_t>(codes_.size() - 1))];
    size_t n = Chance(s_.multiFragmentPercent)
                   ? Random(kMaxSingleFrame + 1, static_cast<uint32_t>(s_.maxRequestBytes))
                   : Random(3, kMaxSingleFrame);
    if (code == kCodeRecordBlock)  // whole dish blocks, or the file holds nothing of them
        n = std::max(kRecordBlock, n / kRecordBlock * kRecordBlock);
    if (code == kCodeShortMessage && n == 4)  // four bytes are a message reference
        n = 5;
    // The first three bytes number the request (base 90, printable), so that
    // every request file says which request it is.
    const uint32_t serial = requestSerial_++;
    std::vector<uint8_t> payload(n);
    payload[0] = static_cast<uint8_t>(0x21 + serial / 8100 % 90);
    payload[1] = static_cast<uint8_t>(0x21 + serial / 90 % 90);
    payload[2] = static_cast<uint8_t>(0x21 + serial % 90);
    for (size_t i = 3; i < n; ++i) payload[i] = static_cast<uint8_t>(Random(0x21, 0x7E));
    if (!t.device->QueueRequest(code, payload)) {
        ++backEndErrors_;
        return;
    }
    ledger_.RequestQueued(t.id, FormatRequestFile(t.id.second, code, payload));
}

void Soak::OnRequestNotice(uint8_t host) {
    const std::string txt = folder_ / "TXT";
    const auto bytes = ReadWholeFile(txt + "/T" + std::to_string(host) + ".txt", 1 << 20);
    const auto request = bytes ? backsim::ParseRequestFile(*bytes) : std::nullopt;
    if (!request) {
        ++backEndErrors_;
        return;
    }
    const Ledger::Terminal terminal{host, request->dcbId};
    if (!ledger_.RequestFileRead(terminal, *bytes))
        return;
    // A request file names a terminal of the site only if the manager wrote
    // it; anything else is no request to answer.
    if (host < 1 || host > s_.stations || request->dcbId < 1 || request->dcbId > s_.terminals) {
        ++backEndErrors_;
        return;
    }
    const uint64_t serial = ++RequestSerial(terminal);
    const std::string code = backsim::NormaliseCodeName(request->code);
    // Replies to a terminal's short message are refused by the manager
    // whatever they say: such messages are only filed.
    if (code == "DX  ") {
        ++dxRequestsUnanswered_;
        return;
    }
    std::vector<std::string> lines;
    Bytes atTerminal;
    const std::string tag = Tag('R', replySerial_++);
    if (code == "DL  ") {
        // The verdict: '1' accepts; the terminal gets 11 bytes, the success
        // byte first when accepted, then the text after the blanks.
        const bool accepted = Chance(50);
        lines.push_back(std::string(accepted ? "1 " : "0 ") + tag);
        atTerminal.assign(kLogonReplyBytes, ' ');
        size_t at = 0;
        if (accepted)
            atTerminal[at++] = 0x01;
        for (size_t i = 0; i < tag.size() && at < kLogonReplyBytes; ++i) atTerminal[at++] = tag[i];
    } else {
        int slots = 1;
        const int roll = static_cast<int>(Random(0, 99));
        if (roll < s_.pagedReplyPercent && !draining_)
            slots = static_cast<int>(Random(kOnePageSlots + 1, s_.maxReplySlots));
        else if (roll < s_.pagedReplyPercent + s_.onePageReplyPercent)
            slots = static_cast<int>(Random(3, kOnePageSlots));
        else
            slots = static_cast<int>(Random(0, 2));
        // Lines of one or two slots, the first carrying the tag; a reply
        // without lines reaches the terminal as one blank slot.
        int used = 0;
        while (used < slots) {
            const int take = slots - used >= 2 && Chance(30) ? 2 : 1;
            size_t length = Random(1, kSlot) + (take - 1) * kSlot;
            if (used == 0)
                length = std::max(length, tag.size());
            std::string line = used == 0 ? tag + Filler(length - tag.size()) : Filler(length);
            line[line.size() - 1] = '.';
            atTerminal.insert(atTerminal.end(), line.begin(), line.end());
            atTerminal.resize(atTerminal.size() + (take * kSlot - line.size()), ' ');
            lines.push_back(std::move(line));
            used += take;
        }
        if (lines.empty())
            atTerminal.assign(kSlot, ' ');
    }
    // The answer time is drawn only for a slow back-end, so that an instant
    // one plays the same traffic for the same seed as before.
    const int64_t answerMs = s_.answerMaxMs > 0 ? Random(static_cast<uint32_t>(s_.answerMinMs),
                                                         static_cast<uint32_t>(s_.answerMaxMs))
                                                : 0;
    answerer_->Schedule(
        MonotonicMs() + answerMs,
        Answerer::Answer{terminal, backsim::FormatReplyFile(request->code, request->dcbId, lines),
                         std::move(atTerminal), serial});
}

void Soak::TakeAnswers() {
    for (Answerer::Written& w : answerer_->TakeWritten())
        ledger_.ReplyWritten(w.terminal, std::move(w.atTerminal), w.stale);
}

void Soak::SendShortMessage() {
    const std::string txt = folder_ / "TXT";
    // One DX.txt at a time: the manager deletes it once it has read it.
    if (fs::exists(txt + "/" + backsim::kShortMessageFileName)) {
        ++shortMessagesPostponed_;
        return;
    }
    const uint32_t serial = messageSerial_++;
    const int number = static_cast<int>(1 + serial % 255);
    const auto dcb = static_cast<uint8_t>(Random(1, static_cast<uint32_t>(s_.terminals)));
    std::string text = Tag('S', serial);
    text += Filler(Random(0, backsim::kShortMessageTextBytes - text.size()));
    const auto line = backsim::FormatShortMessage(number, dcb, text);
    if (!line || !backsim::WriteWholeFile(txt + "/" + backsim::kShortMessageFileName, *line)) {
        ++backEndErrors_;
        return;
    }
    ledger_.ShortMessageSent(dcb, number, Bytes(text.begin(), text.end()));
    if (!PostMessage(managerWindow_, WM_POS_NOTICE, 0, 0))
        ++backEndErrors_;
}

std::map<Ledger::Terminal, Received> Soak::Collect() const {
    std::string title(kTitleBytes, ' ');
    const size_t titleLength = std::strlen(kTitle);
    title.replace((kTitleBytes - titleLength) / 2, titleLength, kTitle);
    std::map<Ledger::Terminal, Received> all;
    for (const SimTerminal& t : terminals_) {
        Received& r = all[t.id];
        // A terminal is given its next item only when it has sent the last,
        // so what it still holds is that one item.
        if (t.device->PendingItems() > 0)
            (t.lastWasClock ? r.clockUnsent : r.requestUnsent) = true;
        for (devsim::Reply& reply : t.device->Replies()) {
            if (reply.command != kCodeClock) {
                r.replies.push_back(std::move(reply.data));
                continue;
            }
            const Bytes& d = reply.data;
            const bool stamp = d.size() == kClockStampBytes + kTitleBytes &&
                               std::all_of(d.begin(), d.begin() + kClockStampBytes,
                                           [](uint8_t b) { return b >= '0' && b <= '9'; });
            const bool titled =
                stamp && std::equal(title.begin(), title.end(), d.begin() + kClockStampBytes);
            ++(titled ? r.clockAnswers : r.clockAnswersBad);
        }
        const auto messages = t.device->ShortMessages();
        for (const devsim::ShortMessage& m : messages)
            r.shortMessages.emplace_back(m.number, m.text);
        r.repliesCutShort = CutShort(t.device->Fragments(), messages, nullptr);
        r.repeatsAfterAck = t.device->Counters().repeatsAfterAck;
    }
    return all;
}

uint64_t Soak::CutShort(const std::vector<devsim::ReplyFragment>& fragments,
                        const std::vector<devsim::ShortMessage>& messages, bool* lastCut) {
    // Fragments in the order received fall into replies as the terminal
    // assembles them: a fragment of another command or total starts a new
    // one, and so does any fragment after a reply was whole.
    uint64_t cut = 0;
    size_t start = 0;
    std::set<uint8_t> numbers;
    const auto close = [&](size_t end, bool last) {
        if (end == start || numbers.size() == fragments[start].total)
            return;
        const bool messageBetween =
            std::any_of(messages.begin(), messages.end(), [&](const devsim::ShortMessage& m) {
                return m.fragmentsBefore > start && m.fragmentsBefore <= end;
            });
        cut += messageBetween ? 1 : 0;
        if (last && lastCut)
            *lastCut = messageBetween;
    };
    for (size_t i = 0; i < fragments.size(); ++i) {
        const bool whole = i > start && numbers.size() == fragments[start].total;
        if (i > start && (whole || fragments[i].command != fragments[start].command ||
                          fragments[i].total != fragments[start].total)) {
            close(i, false);
            start = i;
            numbers.clear();
        }
        numbers.insert(fragments[i].number);
    }
    close(fragments.size(), true);
    return cut;
}

bool Soak::WorkLeft(const SimTerminal& t) {
    if (t.device->PendingItems() > 0)
        return true;
    if (!t.device->ReplyUnderWay())
        return false;
    bool lastCut = false;
    CutShort(t.device->Fragments(), t.device->ShortMessages(), &lastCut);
    return !lastCut;
}

bool Soak::Settled() {
    TakeAnswers();
    if (answerer_->Waiting() > 0)
        return false;
    for (const SimTerminal& t : terminals_)
        if (WorkLeft(t))
            return false;
    if (fs::exists(folder_ / ("TXT/" + std::string(backsim::kShortMessageFileName))))
        return false;
    const Figures f = ledger_.Settle(Collect(), ReadReplyReports(folder_ / "QMLog.txt", nullptr));
    return f.requestsCarried + f.requestsReplacedBeforeRead + f.requestsInterrupted >=
               f.requestsQueued &&
           f.repliesDelivered + f.repliesRefusedStale + f.repliesRefusedCurrent +
                   f.repliesSendFailed + f.repliesCutShort >=
               f.repliesWritten &&
           f.shortMessagesDelivered >= f.shortMessagesSent && f.clockAnswers >= f.clockRequests;
}

void Soak::Loop() {
    using Due = std::pair<int64_t, size_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> due;
    startMs_ = MonotonicMs();
    trafficEndMs_ = startMs_ + s_.trafficSeconds * 1000LL;
    const int64_t drainEndMs = trafficEndMs_ + s_.drainSeconds * 1000LL;
    const auto think = [&] { return static_cast<int64_t>(Random(0, 2 * s_.thinkMs)); };
    for (size_t i = 0; i < terminals_.size(); ++i) due.emplace(startMs_ + think(), i);
    int64_t nextMessageMs = startMs_ + s_.shortMessageMs;
    int64_t nextSettleMs = trafficEndMs_;
    const int64_t warmMs = startMs_ + s_.warmupSeconds * 1000LL;
    bool warmTaken = false;

    for (;;) {
        int64_t now = MonotonicMs();
        draining_ = now >= trafficEndMs_;
        if (!warmTaken && now >= warmMs) {
            warm_ = ReadProcessMemory(std::to_string(manager_.Pid()));
            warmTaken = true;
        }
        while (!draining_ && !due.empty() && due.top().first <= now) {
            const size_t i = due.top().second;
            due.pop();
            SimTerminal& t = terminals_[i];
            // One item at a time: a terminal says its next thing only after
            // the last one has gone out.
            if (t.device->PendingItems() == 0)
                QueueItem(t);
            due.emplace(now + think(), i);
        }
        if (!draining_ && now >= nextMessageMs) {
            SendShortMessage();
            nextMessageMs = now + s_.shortMessageMs;
        }
        if (draining_ && now >= nextSettleMs) {
            if (Settled()) {
                settled_ = true;
                break;
            }
            if (now >= drainEndMs)
                break;
            nextSettleMs = now + kSettleCheckMs;
        }
        if (manager_.Reap())
            break;

        int64_t wake = draining_ ? nextSettleMs : std::min(nextMessageMs, trafficEndMs_);
        if (!draining_ && !due.empty())
            wake = std::min(wake, due.top().first);
        if (!warmTaken)
            wake = std::min(wake, warmMs);
        const auto waitMs =
            static_cast<uint32_t>(std::clamp<int64_t>(wake - MonotonicMs(), 0, kLongestWaitMs));
        TakeAnswers();
        WindowMessage m;
        if (!window_->GetMessage(&m, waitMs))
            continue;
        do {
            if (m.message == WM_POS_NOTICE && m.lParam >= 1 && m.lParam <= s_.stations)
                OnRequestNotice(static_cast<uint8_t>(m.lParam));
        } while (window_->PeekMessage(&m));
    }
    endMs_ = MonotonicMs();
}

bool Soak::CloseManager() {
    if (manager_.Exited()) {
        exitStatus_ = manager_.ExitCode();
        failures_.push_back("the manager ended by itself during the run");
        return false;
    }
    last_ = ReadProcessMemory(std::to_string(manager_.Pid()));
    const int64_t asked = MonotonicMs();
    if (!SetNamedEvent("__QM_MUTEXT"))
        failures_.push_back("cannot set the close event");
    exitStatus_ = manager_.WaitExit(s_.closeSeconds * 1000LL);
    closeMs_ = MonotonicMs() - asked;
    if (exitStatus_ < 0) {
        manager_.Signal(SIGKILL);
        manager_.Wait(s_.closeSeconds * 1000LL);
        failures_.push_back("the manager did not close within " + std::to_string(s_.closeSeconds) +
                            " s of the close event");
        return false;
    }
    if (exitStatus_ != 0)
        failures_.push_back("the manager exited with status " + std::to_string(exitStatus_));
    return exitStatus_ == 0;
}

int Soak::Report() {
    std::map<std::string, uint64_t> logTexts;
    const ReplyReports reports = ReadReplyReports(folder_ / "QMLog.txt", &logTexts);
    const Figures f = ledger_.Settle(Collect(), reports);
    const double seconds = static_cast<double>(endMs_ - startMs_) / 1000.0;
    const double trafficSeconds = static_cast<double>(trafficEndMs_ - startMs_) / 1000.0;
    uint64_t stalled = 0;
    for (const SimTerminal& t : terminals_) {
        if (!WorkLeft(t))
            continue;
        const size_t pending = t.device->PendingItems();
        const bool underWay = t.device->ReplyUnderWay();
        ++stalled;
        const auto fragments = t.device->Fragments();
        std::printf("work left: COM%u DCB %03u: %zu items to send%s", t.id.first, t.id.second,
                    pending, underWay ? ", a reply under way" : "");
        if (!fragments.empty())
            std::printf(" (last fragment %u of %u)", fragments.back().number,
                        fragments.back().total);
        std::printf("\n");
    }

    std::printf("soak: %d stations x %d terminals, seed %u, %s\n", s_.stations, s_.terminals,
                s_.seed, folder_.Path().c_str());
    std::printf("time: traffic %.1f s, drain %.1f s (%s), run %.1f s\n", trafficSeconds,
                seconds - trafficSeconds, settled_ ? "settled" : "NOT SETTLED", seconds);
    std::printf(
        "requests: queued %llu, not sent by the end %llu, carried %llu (%.1f/s over the run), "
        "lost %llu, duplicated %llu, "
        "foreign %llu; replaced by the station's next request before the back-end read them "
        "%llu; interrupted mid-request (fragments dropped as out of order) %llu; DX requests "
        "filed, never answered %llu\n",
        (unsigned long long)f.requestsQueued, (unsigned long long)f.requestsUnsent,
        (unsigned long long)f.requestsCarried, static_cast<double>(f.requestsCarried) / seconds,
        (unsigned long long)f.requestsLost, (unsigned long long)f.requestsDuplicated,
        (unsigned long long)f.requestsForeign, (unsigned long long)f.requestsReplacedBeforeRead,
        (unsigned long long)f.requestsInterrupted, (unsigned long long)dxRequestsUnanswered_);
    std::printf(
        "replies: written %llu, delivered %llu, refused after the terminal asked again %llu, "
        "refused though answering the terminal's last request %llu, "
        "paging ended by a short message %llu, not acknowledged %llu, lost %llu, duplicated "
        "%llu, foreign %llu, over-reported %llu\n",
        (unsigned long long)f.repliesWritten, (unsigned long long)f.repliesDelivered,
        (unsigned long long)f.repliesRefusedStale, (unsigned long long)f.repliesRefusedCurrent,
        (unsigned long long)f.repliesCutShort, (unsigned long long)f.repliesSendFailed,
        (unsigned long long)f.repliesLost, (unsigned long long)f.repliesDuplicated,
        (unsigned long long)f.repliesForeign, (unsigned long long)f.repliesOverReported);
    std::printf(
        "short messages: sent %llu, delivered %llu, lost %llu, duplicated %llu, foreign %llu "
        "(held back while DX.txt waited: %llu)\n",
        (unsigned long long)f.shortMessagesSent, (unsigned long long)f.shortMessagesDelivered,
        (unsigned long long)f.shortMessagesLost, (unsigned long long)f.shortMessagesDuplicated,
        (unsigned long long)f.shortMessagesForeign, (unsigned long long)shortMessagesPostponed_);
    std::printf(
        "clock: requests %llu, not sent by the end %llu, answers %llu, missing %llu, extra %llu, "
        "bad %llu\n",
        (unsigned long long)f.clockRequests, (unsigned long long)f.clockUnsent,
        (unsigned long long)f.clockAnswers, (unsigned long long)f.clockAnswersMissing,
        (unsigned long long)f.clockAnswersExtra, (unsigned long long)f.clockAnswersBad);
    const long growth = warm_.rssKiB >= 0 && last_.rssKiB >= 0 ? last_.rssKiB - warm_.rssKiB : 0;
    std::printf(
        "memory: VmRSS %ld KiB after %d s, %ld KiB at the end, growth %ld KiB (bound %d); "
        "peak VmHWM %ld KiB\n",
        warm_.rssKiB, s_.warmupSeconds, last_.rssKiB, growth, s_.rssGrowthKiB, last_.hwmKiB);
    for (const auto& [reason, n] : reports.refusalReasons)
        std::printf("  refused, %s: %llu\n", reason.c_str(), (unsigned long long)n);
    std::printf("back-end: answers in %d..%d ms, at least %d ms apart per station\n",
                s_.answerMinMs, s_.answerMaxMs, s_.sameStationGapMs);
    std::printf("repeated frames taken twice after a late acknowledgement: %llu\n",
                (unsigned long long)f.repeatedAfterLateAck);
    uint64_t silences = 0;
    int64_t longestUs = 0;
    for (int h = 1; h <= s_.stations; ++h) {
        const devsim::StationCounters c = sim_->FindStation("COM" + std::to_string(h))->Counters();
        silences += c.longSilences;
        longestUs = std::max(longestUs, c.longestSilenceUs);
    }
    if (s_.silenceLimitMs > 0) {
        std::printf(
            "stations held up: %llu silences of the line of %d ms or more; longest silence "
            "%lld ms\n",
            (unsigned long long)silences, s_.silenceLimitMs,
            static_cast<long long>(longestUs / 1000));
        if (silences > 0)
            failures_.push_back(std::to_string(silences) +
                                " stretches of a silent line: a station's beacon was held up");
    }
    std::printf("manager: exit status %d, %lld ms after the close event\n", exitStatus_,
                static_cast<long long>(closeMs_));
    for (const auto& [text, n] : logTexts)
        std::printf("  log: %-32s x %llu\n", text.c_str(), (unsigned long long)n);

    if (f.Faults() > 0)
        failures_.push_back(std::to_string(f.Faults()) + " losses, duplicates or bad answers");
    if (!settled_)
        failures_.push_back("did not settle within the drain time; terminals with work left: " +
                            std::to_string(stalled));
    const uint64_t backEndErrors = backEndErrors_ + answerer_->Errors();
    if (backEndErrors > 0)
        failures_.push_back(std::to_string(backEndErrors) + " back-end errors");
    if (warm_.rssKiB < 0 || last_.rssKiB < 0)
        failures_.push_back("resident memory not sampled");
    else if (s_.rssGrowthKiB > 0 && growth > s_.rssGrowthKiB)
        failures_.push_back("resident memory grew by " + std::to_string(growth) + " KiB");

    if (s_.debugLevel >= 4) {
        const PacketLogFigures p = DecodePacketLog(folder_ / "QMPktLog.txt");
        std::printf("packet log: %llu lines, %llu malformed\n", (unsigned long long)p.lines,
                    (unsigned long long)p.malformed);
        for (const auto& [kind, n] : p.kinds)
            std::printf("  %-40s x %llu\n", kind.c_str(), (unsigned long long)n);
        if (p.malformed > 0)
            failures_.push_back("the packet log has malformed lines");
        for (const std::string& kind : ExpectedEntryKinds())
            if (!HasKind(p, kind))
                failures_.push_back("the packet log has no \"" + kind + "\" entry");
    }
    for (const std::string& why : failures_) std::printf("FAIL: %s\n", why.c_str());
    std::printf("soak %s\n", failures_.empty() ? "passed" : "FAILED");
    std::fflush(stdout);
    return failures_.empty() ? 0 : 1;
}

int Soak::Run() {
    if (!SetUp())
        return 2;
    Loop();
    TakeAnswers();
    CloseManager();
    sim_->Stop();
    return Report();
}

}  // namespace

int RunSoak(const Settings& settings, const RunOptions& options) {
    Soak soak(settings, options);
    return soak.Run();
}

}  // namespace qm::soak
