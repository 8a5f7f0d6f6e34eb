// One simulated base station: a pseudo-terminal line and the terminals that
// hang on it by radio.
//
// A base station relays frames unchanged in both directions and is never
// addressed itself, so here it is the line: it cuts the manager's byte
// stream into frames, hands each to the terminal it names (or to all of them
// for a broadcast) and writes the terminals' answers back in order. An answer
// a terminal holds back on purpose waits in a list of its own until its due
// time and then goes behind whatever is waiting to be written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/devsim/frame.h"
#include "tools/devsim/pty_port.h"
#include "tools/devsim/records.h"
#include "tools/devsim/terminal.h"

namespace qm::devsim {

class SimCore;
class DeviceSimulator;

class Station {
  public:
    // Stations are made by DeviceSimulator::AddStation only.
    class Key {
        friend class DeviceSimulator;
        Key() = default;
    };
    Station(Key, SimCore& core, std::string portName, const std::string& portsDir);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Whether the line exists and the manager can open it; if not, Error()
    // says why.
    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    const std::string& PortName() const { return portName_; }
    const std::string& LinkPath() const { return linkPath_; }
    const std::string& SlavePath() const { return port_.SlavePath(); }

    // Adds a terminal to the station; a DCB id already present gives the
    // terminal that has it. Ids 0x00 and 0xFF can never be addressed on the
    // line, and 0xFE is the broadcast address.
    Terminal& AddTerminal(uint8_t dcbId);
    Terminal* FindTerminal(uint8_t dcbId);

    // Puts bytes on the line as they are, towards the manager (garbage,
    // torn frames, frames from unknown terminals).
    void InjectRaw(std::vector<uint8_t> bytes);

    StationCounters Counters() const;
    // Starts counting the silences of the line of at least limitMs
    // (longSilences in the counters) from the next frame on; 0 stops.
    void SetSilenceLimit(uint32_t limitMs);

  private:
    friend class DeviceSimulator;
    // What the line holds back towards the manager before it drops bytes; a
    // manager that does not read for a while must not make us grow.
    static constexpr size_t kOutboxLimit = 64 * 1024;

    // The I/O thread's side; the core's mutex is held.
    int MasterFd() const { return port_.MasterFd(); }
    bool WantsWriteLocked() const { return !outbox_.empty(); }
    bool HungUpLocked() const { return counters_.hungUp; }
    void ReadLocked();
    void FlushLocked();
    void HangUpLocked();
    void PortOpenedLocked();
    void PortClosedLocked();
    // The earliest due time of a held-back answer (MonotonicUs), if any.
    std::optional<int64_t> NextDueLocked() const;
    // Queues the held-back answers due by `nowUs`, earliest first.
    void ReleaseDueLocked(int64_t nowUs);
    void DropDelayedLocked();

    void DispatchLocked(const Bytes& raw);
    void SendLocked(Bytes bytes, bool raw);
    void TakeAssemblerCountsLocked();

    SimCore& core_;
    const std::string portName_;
    std::string linkPath_;
    std::string error_;
    bool ok_ = false;
    PtyPort port_;
    FrameAssembler assembler_;
    std::vector<std::unique_ptr<Terminal>> terminals_;
    Bytes outbox_;
    std::multimap<int64_t, Bytes> delayed_;  // by due time; equal times in arrival order
    StationCounters counters_;
    void NoteFrameLocked(int64_t nowUs);
    int64_t silenceLimitUs_ = 0;
    int64_t lastFrameUs_ = -1;  // since the limit was set
};

}  // namespace qm::devsim
