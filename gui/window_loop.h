// The manager's life with its windows: the Qt application, the main window
// with its panels, and the Qt loop that drives the window's queue.
#pragma once

#include <QWidget>
#include <cstdint>

#include "gui/station_panel.h"
#include "platform/event.h"

namespace qm {

// A WindowLoop for CQMApp::Run: kNoDisplay when Qt reaches no display.
int RunWindows(uint32_t backEndWindow, const Waitable* stop);

// The three panels of this build, in the window's order.
PanelSet OperatorPanels(PanelHost& host, QWidget* parent);

}  // namespace qm
