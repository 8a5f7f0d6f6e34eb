// Base stations and handheld terminals on real pseudo-terminals.
//
// The manager under test opens <program folder>/ports/<name> as it would a
// serial port; behind it the simulator answers as the devices do. One thread
// of the simulator's own serves every station: it waits in one poll() on all
// lines, on the port open/close notices and on a wake-up event, and answers a
// frame as soon as it is complete (the manager waits only 100 ms for a
// beacon answer); an answer a terminal holds back on purpose goes out when it
// is due, and the thread's wait ends then.
//
//   DeviceSimulator sim(home);
//   Station& com3 = sim.AddStation("COM3");
//   Terminal& t12 = com3.AddTerminal(12);
//   t12.QueueRequest(0x0D, bytes);
//   sim.Start();
//   ... start the manager ...
//   sim.WaitFor([&] { return !t12.Replies().empty(); }, 2000);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tools/devsim/records.h"
#include "tools/devsim/station.h"
#include "tools/devsim/terminal.h"

namespace qm::devsim {

class SimCore;

class DeviceSimulator {
  public:
    // `programDir` must exist; its ports/ folder is created when missing.
    explicit DeviceSimulator(std::string programDir);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Creates the line for `portName` and links ports/<portName> to it. A
    // name already added gives that station. Check Station::Ok().
    Station& AddStation(std::string portName);
    Station* FindStation(const std::string& portName);

    // Starts the I/O thread; false if it cannot (then Error() says why).
    // Stations and terminals may be added before or after.
    bool Start();
    // Stops and joins the I/O thread. The lines stay open: a manager sees a
    // station that has gone quiet, not a vanished port. Answers held back on
    // purpose and not yet due are dropped.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    std::string Error() const;

    const std::string& ProgramDir() const { return programDir_; }
    const std::string& PortsDir() const { return portsDir_; }

    // Every frame on every line so far, in order.
    std::vector<FrameRecord> Frames() const;
    size_t FrameCount() const;
    // Keeps only the newest `maxFrames` records (0: all). For long runs.
    void SetHistoryLimit(size_t maxFrames);
    // Called for each frame record, in order, outside the simulator's lock,
    // from whichever thread recorded it. The sink may read the simulator but
    // must not call Station::InjectRaw (that would wait for the sink itself).
    void SetTraceSink(std::function<void(const FrameRecord&)> sink);

    // Waits until `pred` holds, re-checking it whenever something new is
    // recorded, for at most `timeoutMs`. `pred` may call any accessor.
    bool WaitFor(const std::function<bool()>& pred, int timeoutMs) const;

  private:
    void Run();
    void HandlePortNotices();
    void FailLocked(std::string error);

    const std::string programDir_;
    const std::string portsDir_;
    std::unique_ptr<SimCore> core_;
    UniqueFd wake_;
    UniqueFd notices_;  // inotify: the manager opening and closing a port
    std::vector<std::unique_ptr<Station>> stations_;  // guarded by core_->mu
    std::vector<int> watches_;                        // per station; guarded by core_->mu
    std::string error_;                               // guarded by core_->mu
    bool stopping_ = false;                           // guarded by core_->mu
    std::thread thread_;
};

}  // namespace qm::devsim
