// The reader: takes bytes off a station's port and cuts them into frames.
// Acknowledgements, plain beacon answers and download answers are settled
// here at once, because senders are waiting for them; every other frame goes
// to the station's frame handler.
#include <cerrno>
#include <cstdio>

#include "link/packet_log.h"
#include "link/station_threads.h"
#include "platform/app_log.h"

namespace qm {
namespace {

constexpr size_t kReadBuffer = 2048;

void HandOver(StationLink& station, std::span<const uint8_t> bytes) {
    Frame frame;
    std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
    frame.length = static_cast<uint32_t>(bytes.size());
    if (station.handOff.size() >= kHandOffDepth) {
        station.handOff.pop_front();
        LogError("Frame queue full, oldest frame dropped", station.hostId, 255);
    }
    station.handOff.push_back(frame);
    LogPacket(PacketKind::kReceived, bytes.data(), bytes.size());
    station.frameReady.Set();
}

// Judges one frame from the assembler; the caller holds the receive lock.
void Settle(Link& link, StationLink& station, const AssemblerOutput& out) {
    if (out.event != AssemblerEvent::kFrame) {
        LogPacket(out.event, out.bytes.data(), out.bytes.size());
        return;
    }
    const std::span<const uint8_t> f = out.bytes;
    if (out.kind == FrameKind::kData) {
        HandOver(station, f);
        return;
    }
    if (out.kind == FrameKind::kBeacon) {
        uint8_t t = FindTerminal(link, station.position, f[1]);
        if (t == kNotFound)
            return;
        // A beacon answer matters only when a short message waits for the
        // terminal: it is the terminal's go-ahead for the delivery.
        if (station.terminals[t]->pendingShortMessages > 0) {
            HandOver(station, f);
            return;
        }
        LogPacket(PacketKind::kReceived, f.data(), f.size());
        return;
    }
    const uint8_t command = f[3];
    if (command == kCmdAck || command == kCmdDownloadSearch) {
        // While a download run is active its terminals answer the run; a
        // search answer outside a run means nothing.
        if (!RouteDownloadAnswer(link, station, f[1], command)) {
            uint8_t t = FindTerminal(link, station.position, f[1]);
            if (t == kNotFound)
                return;
            if (command == kCmdAck)
                station.terminals[t]->ack.Set();
        }
        LogPacket(PacketKind::kReceived, f.data(), f.size());
        return;
    }
    HandOver(station, f);
}

// How often a station whose device has gone tries to open its port again. A
// failed open costs a path lookup; the beacons resume well within a second
// of the device's return.
constexpr uint32_t kReopenInterval = 250;

// Closes the port of a device that has gone. The writer finds it null from
// here on and drops what it takes from the queue.
void DropPort(StationLink& station) {
    std::unique_ptr<SerialPort> gone;
    {
        std::lock_guard<std::mutex> hold(station.portLock);
        gone = std::move(station.port);
        station.portUp = false;
    }
}

// Opens the station's port again, at the path of its first open and with the
// same line settings, once its device is back. A ports/ entry that is gone
// fails like an unplugged device and is awaited the same way. A timed wait
// on the stop event spaces the attempts, so the link stops at once
// meanwhile. False when it stopped.
bool AwaitPort(Link& link, StationLink& station) {
    for (;;) {
        if (link.stop.Wait(kReopenInterval))
            return false;
        int err = 0;
        auto port = SerialPort::OpenPath(station.portPath, &err);
        // A line that is hung up already would only be lost again at once.
        if (!port || port->GoneNow())
            continue;
        port->Purge();
        {
            std::lock_guard<std::mutex> portHold(station.portLock);
            std::lock_guard<std::mutex> receiveHold(station.receiveLock);
            // A frame torn by the loss never completes.
            station.assembler.Reset();
            station.port = std::move(port);
            station.portUp = true;
        }
        char text[64];
        std::snprintf(text, sizeof text, "Port reopened, %u frames dropped meanwhile",
                      station.framesDropped.exchange(0, std::memory_order_relaxed));
        LogError(text, station.hostId, 255);
        return true;
    }
}

}  // namespace

void TakeReceivedBytes(Link& link, StationLink& station, std::span<const uint8_t> bytes) {
    for (const uint8_t b : bytes) {
        if (auto out = station.assembler.Feed(b))
            Settle(link, station, *out);
    }
}

// Only this thread changes station.port, so it reads the pointer without the
// port lock; it takes the lock to use the port or to change it.
void ReaderThread(Link& link, StationLink& station, std::latch& ready) {
    ready.count_down();
    uint8_t buf[kReadBuffer];
    for (;;) {
        if (!station.port && !AwaitPort(link, station))
            return;
        int r = WaitAny({&link.stop, &station.port->Readable()}, kInfinite);
        if (r == 0)
            return;
        ssize_t n;
        int err = 0;
        {
            std::lock_guard<std::mutex> portHold(station.portLock);
            std::lock_guard<std::mutex> receiveHold(station.receiveLock);
            n = station.port->Read(buf, sizeof buf);
            if (n == -1)
                err = errno;
            if (n > 0)
                TakeReceivedBytes(link, station, {buf, static_cast<size_t>(n)});
        }
        if (n >= 0 || err == EAGAIN || err == EINTR)
            continue;
        // The device is gone (a USB adapter pulled out, the line hung up) or
        // fails for good: polling it again would report the same at once,
        // for ever. Say so once. A device that has gone may come back, so
        // its port is closed and awaited; one still there but failing would
        // fail again when reopened, so its station waits for the stop.
        char text[40];
        std::snprintf(text, sizeof text, "ReadFile Error %d", n == kReadHungUp ? EIO : err);
        LogError(text, station.hostId, 255);
        if (n != kReadHungUp) {
            link.stop.Wait(kInfinite);
            return;
        }
        DropPort(station);
    }
}

}  // namespace qm
