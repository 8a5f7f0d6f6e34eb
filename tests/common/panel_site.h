// A site for the operator panels: a window standing in for the main window
// that records the message boxes a panel shows, and a station table that
// the panels read. Start() also runs the link on the station, against the
// simulated terminals, when a test needs the service to take a run.
#pragma once

#include <string>
#include <vector>

#include "panels/panel_host.h"
#include "site/site_context.h"
#include "tests/integration/traffic_fixture.h"

namespace qm::test {

class RecordingHost final : public PanelHost {
  public:
    explicit RecordingHost(WindowHandle backEnd) : backEnd_(backEnd) {}
    void MessageBox(const char* text) override { boxes.emplace_back(text); }
    bool NotifyBackEnd(int64_t code) override {
        return PostMessage(backEnd_, WM_POS_NOTICE, 0, code);
    }
    std::vector<std::string> boxes;

  private:
    WindowHandle backEnd_;
};

class PanelSite : public TrafficFixture {
  protected:
    // Two stations; only the first one's link can be started. kWindow plays
    // the back-end.
    void SetUp() override {
        TrafficFixture::SetUp();
        site_.stationCount = 2;
        site_.stations[0] = Station(1, "COM3", {7, 9, 12, 15});
        site_.stations[1] = Station(2, "COM4", {4});
        site_.dataReadyEvent = std::make_unique<Event>(Event::Mode::kAutoReset, false);
    }
    void StartLink() { Start({{"COM3", {7, 9, 12, 15}}}); }

    SiteContext site_;
    RecordingHost host_{kWindow};
};

}  // namespace qm::test
