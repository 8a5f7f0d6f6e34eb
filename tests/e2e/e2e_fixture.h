// End to end: the real manager program, simulated base stations and
// terminals, and the test playing the POS back-end's window.
#pragma once

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tests/common/test_site.h"
#include "tools/devsim/device_simulator.h"
#include "tools/process/child_process.h"

namespace qm::test {

using devsim::Bytes;

class EndToEnd : public WindowSiteTest {
  protected:
    void SetUp() override {
        WindowSiteTest::SetUp();
        headless_ = std::make_unique<ScopedEnv>("QM_HEADLESS", "1");
        WriteFile(*home_ / "QM.ini", "[CONFIG]\r\nDebugLevel=4\r\n");
        WriteFile(*home_ / "TXT/基站.TXT", "1 COM3\r\n2 COM4\r\n");
        WriteFile(*home_ / "TXT/点菜机.TXT", "7 1\r\n8 1\r\n12 2\r\n");
        WriteFile(*home_ / "TXT/BT.txt", "TEST HOUSE\r\n");
        sim_ = std::make_unique<devsim::DeviceSimulator>(home_->path());
        for (auto [port, ids] :
             {std::pair<const char*, std::vector<uint8_t>>{"COM3", {7, 8}}, {"COM4", {12}}}) {
            devsim::Station& s = sim_->AddStation(port);
            ASSERT_TRUE(s.Ok()) << s.Error();
            for (uint8_t id : ids) s.AddTerminal(id);
        }
        ASSERT_TRUE(sim_->Start());
    }

    void TearDown() override {
        managers_.clear();
        sim_.reset();
        headless_.reset();
        WindowSiteTest::TearDown();
    }

    static std::string ManagerPath() { return std::string(QM_BINARY_DIR) + "/app/qm"; }

    // Starts a manager and waits for the window handle it posts at start.
    ChildProcess& StartManager() {
        managers_.push_back(std::make_unique<ChildProcess>());
        ChildProcess& m = *managers_.back();
        EXPECT_TRUE(m.Start(ManagerPath(), {std::to_string(kWindow)}, home_->path()));
        auto notice = NextNotice(10000);
        EXPECT_TRUE(notice);
        if (notice)
            managerWindow_ = static_cast<WindowHandle>(*notice);
        return m;
    }

    // The next WM_POS_NOTICE's lParam.
    std::optional<int64_t> NextNotice(uint32_t timeoutMs) {
        const int64_t end = MonotonicMs() + timeoutMs;
        WindowMessage m;
        for (;;) {
            const int64_t left = std::max<int64_t>(0, end - MonotonicMs());
            if (!window_->GetMessage(&m, static_cast<uint32_t>(left)))
                return std::nullopt;
            if (m.message == WM_POS_NOTICE)
                return m.lParam;
        }
    }

    bool Notify(int64_t code) { return PostMessage(managerWindow_, WM_POS_NOTICE, 0, code); }

    devsim::Terminal& Term(const char* port, uint8_t id) {
        return sim_->FindStation(port)->AddTerminal(id);
    }

    std::unique_ptr<ScopedEnv> headless_;
    std::unique_ptr<devsim::DeviceSimulator> sim_;
    std::vector<std::unique_ptr<ChildProcess>> managers_;
    WindowHandle managerWindow_ = 0;
};

}  // namespace qm::test
