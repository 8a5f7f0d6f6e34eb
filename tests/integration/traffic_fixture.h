// The link against simulated base stations and terminals, over real
// pseudo-terminals: the link runs in this process through the service API,
// the devices run in the simulator's thread, and the test plays the
// application window that receives the request notices.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/link_params.h"
#include "link/link_state.h"
#include "link/request_notice.h"
#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tests/common/test_site.h"
#include "tools/devsim/device_simulator.h"

namespace qm::test {

using devsim::Bytes;
using devsim::Direction;
using devsim::FrameRecord;

struct ReceivedRequest {
    _REQUESTRECORD record{};
    Bytes data;
};

class TrafficFixture : public WindowSiteTest {
  protected:
    void SetUp() override {
        WindowSiteTest::SetUp();
        sim_ = std::make_unique<devsim::DeviceSimulator>(home_->path());
        SetDebugLevel(4);
        SDKSetParam(5, 3000, 100);
    }

    void TearDown() override {
        SDKDeInit();
        sim_.reset();
        SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, kDefaultBeaconInterval);
        SetDebugLevel(1);
        WindowSiteTest::TearDown();
    }

    // Starts the simulator and the link with one station per port, each
    // listing the given terminals (which the simulator also gets).
    void Start(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& stations,
               uint8_t firstHostId = 1) {
        std::vector<_DEVINFO> entries;
        uint8_t host = firstHostId;
        for (const auto& [port, dcbs] : stations) {
            devsim::Station& s = sim_->AddStation(port);
            ASSERT_TRUE(s.Ok()) << s.Error();
            for (uint8_t dcb : dcbs) s.AddTerminal(dcb);
            entries.push_back(Station(host++, port, dcbs));
        }
        ASSERT_TRUE(sim_->Start()) << sim_->Error();
        ASSERT_EQ(Init(entries), 1);
    }

    devsim::Terminal& Term(const std::string& port, uint8_t dcbId) {
        // An existing terminal is returned as it is.
        return sim_->FindStation(port)->AddTerminal(dcbId);
    }

    // The next request notice posted to the window, if one comes in time.
    std::optional<ReceivedRequest> NextRequest(uint32_t timeoutMs) {
        const auto end = MonotonicMs() + timeoutMs;
        WindowMessage m;
        for (;;) {
            const int64_t left = end - MonotonicMs();
            if (left <= 0 || !window_->GetMessage(&m, static_cast<uint32_t>(left)))
                return std::nullopt;
            if (m.message != WM_REQUEST_RECEIVED)
                continue;
            ReceivedRequest r;
            std::memcpy(&r.record, reinterpret_cast<const void*>(m.wParam), sizeof r.record);
            const auto* data = reinterpret_cast<const uint8_t*>(m.lParam);
            r.data.assign(data, data + r.record.length);
            return r;
        }
    }

    // Frames the manager wrote to a station, in order.
    std::vector<Bytes> FromManager(const std::string& port) const {
        std::vector<Bytes> out;
        for (const FrameRecord& f : sim_->Frames())
            if (f.station == port && f.direction == Direction::kFromManager && !f.raw)
                out.push_back(f.bytes);
        return out;
    }
    std::vector<FrameRecord> Records(const std::string& port, Direction d) const {
        std::vector<FrameRecord> out;
        for (const FrameRecord& f : sim_->Frames())
            if (f.station == port && f.direction == d && !f.raw)
                out.push_back(f);
        return out;
    }

    static bool IsControl(const Bytes& f, uint8_t id, uint8_t cmd) {
        return f.size() == 6 && f[1] == id && f[3] == cmd;
    }
    static bool IsBeacon(const Bytes& f, uint8_t id) { return f.size() == 4 && f[1] == id; }
    // Whether a beacon to terminal id went out on port after its first `mark` frames.
    bool BeaconSince(const std::string& port, size_t mark, uint8_t id) const {
        const auto f = FromManager(port);
        return std::any_of(f.begin() + std::min(mark, f.size()), f.end(),
                           [&](const Bytes& b) { return IsBeacon(b, id); });
    }
    static bool IsData(const Bytes& f, uint8_t id) { return f.size() >= 10 && f[1] == id; }

    std::string Home(const std::string& rel) const { return *home_ / rel; }

    std::unique_ptr<devsim::DeviceSimulator> sim_;
};

inline Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>('A' + i % 26);
    return b;
}

}  // namespace qm::test
