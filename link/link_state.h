// The link's state: one StationLink per opened base station, one
// TerminalLink per terminal of it, and the link-wide events and flags.
//
// Threads of a station: writer, beacon, frame handler and reader, started by
// StartLink and joined by StopLink; short-lived workers (retries, page
// senders, short-message senders) are owned by the link's WorkerSet and
// joined at StopLink as well, so no thread outlives the link.
//
// Lock order, where two are held together: port lock, then receive lock (the
// reader). The queue lock is held alone by everybody except the frame
// handler's senders, which take it with nothing else held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "link/worker_set.h"
#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"

namespace qm {

inline constexpr uint8_t kNotFound = 255;
inline constexpr size_t kMessageBufferSize = 5000;
// Frames the assembler may hand to the frame handler before it has taken
// them. A burst from one station never comes near this; a full queue drops
// the oldest frame with a log line rather than grow without bound.
inline constexpr size_t kHandOffDepth = 64;

struct TerminalLink {
    TerminalLink(uint8_t id) : dcbId(id) {}

    const uint8_t dcbId;
    std::atomic<uint8_t> replyCommand{0};
    Event ack{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};  // an acknowledgement came
    Event activity{Event::Mode::kAutoReset, false,
                   Event::Reach::kInProcess};  // a frame reached the handler
    Event idle{Event::Mode::kManualReset, true,
               Event::Reach::kInProcess};  // no exchange outstanding
    std::atomic<uint32_t> pageIndex{0};
    std::atomic<uint32_t> fragmentTotal{0};
    std::atomic<uint32_t> savedPageIndex{0};
    std::atomic<uint32_t> pendingShortMessages{0};
    // At most one short-message sender per terminal at a time.
    std::atomic<bool> shortMessageSending{false};
};

struct StationLink {
    uint8_t hostId = 0;
    uint8_t position = 0;
    std::unique_ptr<SerialPort> port;
    Event frameReady{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};
    Event wake{Event::Mode::kAutoReset, false, Event::Reach::kInProcess};

    std::mutex portLock;     // around every write to and read from the port
    std::mutex queueLock;    // guards txQueue
    std::mutex receiveLock;  // guards assembler and handOff

    std::deque<Frame> txQueue;
    FrameAssembler assembler;
    std::deque<Frame> handOff;

    // Reassembly of a multi-fragment request; touched by the frame handler
    // thread only.
    std::array<uint8_t, kMessageBufferSize> message{};
    uint32_t messageLength = 0;
    bool messageOverflow = false;
    // Read by the beacon thread: keeps it on a terminal that is sending a
    // multi-fragment request.
    std::atomic<uint8_t> holdFlag{0};
    std::atomic<uint8_t> lastFragment{0};

    std::vector<std::unique_ptr<TerminalLink>> terminals;

    std::thread writer, beacon, handler, reader;
};

struct Link {
    Event run{Event::Mode::kManualReset, true, Event::Reach::kInProcess};  // set: beacons run
    Event stop{Event::Mode::kManualReset, false};  // set: station threads end
    Event abortEvent{Event::Mode::kManualReset, false, Event::Reach::kInProcess};
    std::atomic<uint32_t> downloadRunning{0};
    std::atomic<uint32_t> testActive{0};
    std::atomic<uint8_t> testSequence{1};

    std::string programDir;
    std::string txtDir;
    std::string swapDir;
    std::array<std::string, kDownloadFileCount> downloadFiles;
    WindowHandle notifyWindow = 0;

    std::vector<std::unique_ptr<StationLink>> stations;  // opened ones, from position 0
    WorkerSet workers;
};

// The running link, or null while stopped. Only StartLink and StopLink
// change it, on the application's thread.
Link* CurrentLink();

// 1 if at least one station's port opened and its threads started.
int StartLink(WindowHandle notifyWindow, const _DEVINFO* entries, uint32_t count);
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
