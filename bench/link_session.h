// The link running in this process against simulated base stations: the
// benchmark plays the application window that receives the request notices,
// as the manager's main window does.
#pragma once

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tools/devsim/device_simulator.h"

namespace qm::bench {

class LinkSession {
  public:
    // Nothing runs yet; check Ok() and add stations through Sim().
    LinkSession() {
        if (!home_.Ok()) {
            error_ = "cannot make the program folder";
            return;
        }
        int err = 0;
        window_ = MessageWindow::Create(static_cast<WindowHandle>(getpid()), &err);
        if (!window_) {
            error_ = std::string("cannot create the window: ") + std::strerror(err);
            return;
        }
        sim_ = std::make_unique<devsim::DeviceSimulator>(home_.Path());
    }
    // The link stops first, while the lines and the window are still there.
    ~LinkSession() {
        if (started_)
            SDKDeInit();
        if (sim_)
            sim_->Stop();
        SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, kDefaultBeaconInterval);
    }
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    devsim::DeviceSimulator& Sim() { return *sim_; }
    MessageWindow& Window() { return *window_; }
    const ProgramFolder& Home() const { return home_; }

    // Starts the simulator and the link with the given station table, at
    // DebugLevel 1 (no packet log) and the given beacon interval.
    bool Start(std::vector<_DEVINFO> table, uint32_t beaconIntervalMs) {
        if (!Ok())
            return false;
        if (!sim_->Start()) {
            error_ = "simulator: " + sim_->Error();
            return false;
        }
        SetDebugLevel(1);
        SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, beaconIntervalMs);
        started_ = SDKInit(reinterpret_cast<void*>(static_cast<uintptr_t>(window_->Handle())),
                           table.data(), static_cast<uint32_t>(table.size())) == 1;
        if (!started_)
            error_ = "SDKInit failed";
        return started_;
    }

    // A site of one station with terminals 1..terminals in the simulator,
    // then Start. `prepare` runs in between, to set the simulator up (trace,
    // faults) with the station table at hand. On any failure the benchmark
    // is skipped with the reason and the table returned empty.
    std::vector<_DEVINFO> StartOneStation(
        benchmark::State& state, size_t terminals, uint32_t beaconIntervalMs,
        const std::function<void(const std::vector<_DEVINFO>&)>& prepare) {
        std::vector<_DEVINFO> table;
        if (Ok()) {
            table = BuildSite(*sim_, 1, terminals, false, &error_);
            if (!table.empty())
                prepare(table);
        }
        if (!Ok() || table.empty() || !Start(table, beaconIntervalMs)) {
            state.SkipWithError(error_.c_str());
            return {};
        }
        return table;
    }

    void Stop() {
        if (started_)
            SDKDeInit();
        started_ = false;
    }

  private:
    ProgramFolder home_;
    std::unique_ptr<MessageWindow> window_;
    std::unique_ptr<devsim::DeviceSimulator> sim_;
    std::string error_;
    bool started_ = false;
};

}  // namespace qm::bench
