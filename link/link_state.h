// The link's state: one StationLink per opened base station, one
// TerminalLink per terminal of it, and the link-wide events and flags.
//
// Threads of a station: writer, beacon, frame handler, reader and reply
// sender, started by StartLink and joined by StopLink; short-lived workers (retries, page
// senders, short-message senders) are owned by the link's WorkerSet and
// joined at StopLink as well, so no thread outlives the link.
//
// A station whose port hangs up (a USB adapter pulled out) keeps its place,
// terminals and queues: its reader closes the port and opens the same device
// path again once the device is back. The name is never resolved again: with
// its ports/ entry gone it would fall back to /dev/ttyS<n> and take whatever
// device sits there. Only the reader changes `port`, and only
// under the port lock; every other thread uses it under that lock and finds
// it null while the device is gone.
//
// Lock order, where two are held together: port lock, then receive lock (the
// reader). The queue lock and the reply queue lock are each held alone.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "link/link_records.h"
#include "link/run_routes.h"
#include "link/worker_set.h"
#include "platform/event.h"
#include "platform/outbox.h"
#include "platform/serial_port.h"
#include "platform/window_message.h"

namespace qm {

inline constexpr uint8_t kNotFound = 255;
inline constexpr size_t kMessageBufferSize = 5000;
// Frames the assembler may hand to the frame handler before it has taken
// them. A burst from one station never comes near this; a full queue drops
// the oldest frame with a log line rather than grow without bound.
inline constexpr size_t kHandOffDepth = 64;
// Frames a station's transmit queue holds. A busy station queues a beacon,
// the acknowledgements of the frames it receives and one frame of each
// exchange awaiting its acknowledgement: even a download run to 200
// terminals with retries pending for every one stays far below. Beyond it
// something appends faster than the writer sends (fewer than 100 frames a
// second, each after its 10 ms pause), and the queue would grow without end.
inline constexpr size_t kTxQueueMax = 1024;

// The reply a terminal is being sent. Written by SDKSendData, by the paging
// steps of the frame handler and by the page senders, so it changes only as a
// whole, under the terminal's reply lock.
struct ReplyState {
    uint8_t command = 0;          // command of the reply
    uint32_t pageIndex = 0;       // page being sent or last sent
    uint32_t fragmentTotal = 0;   // fragments of the whole reply (N)
    uint32_t savedPageIndex = 0;  // page to return to when a page fails
    uint32_t generation = 0;      // counts replies: a page of an older reply
                                  // never rewinds a newer one
    uint32_t pagesSending = 0;    // pages going out now; no paging meanwhile
};

// Short messages of one DCB id. Its file is shared by every station that
// lists the id, and so are the count of messages waiting in it and the right
// to deliver the first one: whichever station reaches the terminal delivers
// it, and never two at once.
struct ShortMessageSlot {
    std::atomic<uint32_t> pending{0};
    std::atomic<bool> sending{false};
};

struct TerminalLink {
    TerminalLink(uint8_t id, ShortMessageSlot& messages)
        : dcbId(id),
          pendingShortMessages(messages.pending),
          shortMessageSending(messages.sending) {}

    const uint8_t dcbId;
    // Waited on only together with other events: no descriptor each.
    Event ack{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};  // an acknowledgement came
    Event activity{Event::Mode::kAutoReset, false,
                   Event::Reach::kInProcess};  // a frame reached the handler
    Event idle{Event::Mode::kManualReset, true,
               Event::Reach::kInProcess};  // no exchange outstanding
    // The DCB id's short-message count and sender flag, shared with every
    // station that lists the same id.
    std::atomic<uint32_t>& pendingShortMessages;
    std::atomic<bool>& shortMessageSending;

    ReplyState Reply() const {
        std::lock_guard<std::mutex> hold(replyLock);
        return reply;
    }
    // A new reply of fragmentTotal fragments, at page 0; with firstPage, its
    // first page is counted as going out. Returns the reply's generation.
    uint32_t BeginReply(uint8_t command, uint32_t fragmentTotal, bool firstPage = false) {
        std::lock_guard<std::mutex> hold(replyLock);
        reply.command = command;
        reply.pageIndex = 0;
        reply.savedPageIndex = 0;
        reply.fragmentTotal = fragmentTotal;
        if (firstPage)
            ++reply.pagesSending;
        return ++reply.generation;
    }
    // A page has gone out (ok) or failed; a failed page of the current reply
    // puts the page index back.
    void EndPage(uint32_t generation, bool ok) {
        std::lock_guard<std::mutex> hold(replyLock);
        if (!ok && reply.generation == generation)
            reply.pageIndex = reply.savedPageIndex;
        --reply.pagesSending;
    }

    mutable std::mutex replyLock;
    ReplyState reply;  // guarded by replyLock
};

// A reply the application handed over, waiting for the station's reply
// sender.
struct PendingReply {
    uint8_t dcbId = 0;
    uint8_t command = 0;
    std::vector<uint8_t> data;
};

struct StationLink {
    uint8_t hostId = 0;
    uint8_t position = 0;
    std::array<char, kPortNameMax> portName{};  // NUL-terminated only when shorter
    std::string portPath;              // the device path of the first open; every reopen takes it
    std::unique_ptr<SerialPort> port;  // null while the device is gone
    // Whether the port is open; read without the port lock by senders that
    // refuse at once rather than queue for a gone device.
    std::atomic<bool> portUp{false};
    // Frames the writer threw away while the device was gone.
    std::atomic<uint32_t> framesDropped{0};
    Event frameReady{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};
    Event wake{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};

    std::mutex portLock;     // around every write to and read from the port
    std::mutex queueLock;    // guards txQueue
    std::mutex receiveLock;  // guards assembler and handOff

    std::deque<Frame> txQueue;  // at most kTxQueueMax frames
    // While the queue is full and until it has drained to half: the frames
    // refused meanwhile, for one log line at each end of the stretch.
    bool txQueueFull = false;  // guarded by queueLock
    uint32_t txRefused = 0;    // guarded by queueLock
    FrameAssembler assembler;
    std::deque<Frame> handOff;

    // Reassembly of a multi-fragment request; touched by the frame handler
    // thread only. The buffer belongs to one request of one terminal at a
    // time: fragments of anyone else never mix into it.
    struct MessageOwner {
        uint8_t dcbId = 0;
        uint8_t command = 0;
        uint8_t total = 0;  // N
        bool operator==(const MessageOwner&) const = default;
    };
    std::array<uint8_t, kMessageBufferSize> message{};
    uint32_t messageLength = 0;
    bool messageOverflow = false;
    std::optional<MessageOwner> messageOwner;  // none: the buffer holds nothing usable
    bool messagePosted = false;  // the owner's request went out; its last fragment may come again
    // Read by the beacon thread: keeps it on a terminal that is sending a
    // multi-fragment request.
    std::atomic<uint8_t> holdFlag{0};
    std::atomic<uint8_t> lastFragment{0};

    std::vector<std::unique_ptr<TerminalLink>> terminals;

    // Replies handed over by the application, sent in order by the reply
    // sender (link/reply_sender.cpp).
    std::mutex replyQueueLock;  // guards replyQueue
    std::deque<PendingReply> replyQueue;
    Event replyReady{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};

    std::thread writer, beacon, handler, reader, replySender;
};

struct Link {
    Event run{Event::Mode::kManualReset, true, Event::Reach::kInProcess};  // set: beacons run
    Event stop{Event::Mode::kManualReset, false};  // set: station threads end
    // Set by the stop of a download run; its worker waits on it.
    Event abortEvent{Event::Mode::kManualReset, false, Event::Reach::kInProcess};

    // The download run and the link test (run_routes.h). The flags say
    // whether one is active; the routes say whose answers go to it.
    std::mutex routeLock;  // guards the routes; taken last, held briefly
    std::atomic<uint32_t> downloadRunning{0};
    std::atomic<uint32_t> testActive{0};
    // The link test's sequence number: 1..254, kept from one test to the
    // next. Written by the test sender, read by the frame handler.
    std::atomic<uint8_t> testSequence{1};
    std::optional<DownloadRoute> downloadRoute;  // guarded by routeLock
    std::optional<TestRoute> testRoute;          // guarded by routeLock

    std::string programDir;
    std::string txtDir;
    std::string swapDir;
    WindowHandle notifyWindow = 0;
    // Carries the request notices to notifyWindow: from StartLink, stopped
    // by StopLink once no thread posts any more.
    std::unique_ptr<Outbox> notices;

    // By DCB id; declared before the stations, whose terminals refer to it.
    std::array<ShortMessageSlot, 256> shortMessages;
    std::vector<std::unique_ptr<StationLink>> stations;  // opened ones, from position 0
    WorkerSet workers;
};

// The running link, or null while stopped. Only StartLink and StopLink
// change it, on the application's thread.
Link* CurrentLink();

// A call of the service API inside the running link. While one is alive,
// StopLink waits before it frees anything; none begins once a stop has
// begun. False when there is no running link to enter.
class LinkCall {
  public:
    LinkCall();
    ~LinkCall();
    LinkCall(const LinkCall&) = delete;
    LinkCall& operator=(const LinkCall&) = delete;
    explicit operator bool() const { return link_ != nullptr; }
    Link& link() const { return *link_; }

  private:
    Link* link_ = nullptr;
};

// 1 if at least one station's port opened and its threads started.
int StartLink(WindowHandle notifyWindow, std::span<const StationEntry> entries);
// Stops the beacons, sets the stop event, waits for every LinkCall to leave,
// then joins the threads and frees the link.
void StopLink();

// Position of the opened station with this host id, 255 (logged) if none.
uint8_t FindStation(Link& link, uint8_t hostId);
// Position of a terminal in a station's table, 255 (logged) if none.
uint8_t FindTerminal(Link& link, uint8_t station, uint8_t dcbId);

// Shows "打开%s失败-%d": by the application's message box when it has set
// one, else on standard error.
using MessageBoxFunction = void (*)(const char* text);
void SetMessageBoxFunction(MessageBoxFunction fn);
void ShowLinkMessage(const char* text);

}  // namespace qm
