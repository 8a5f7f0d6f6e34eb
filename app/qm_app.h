// The application object: reads the back-end's window handle from the
// command line, runs the main window until it ends, and tears it down.
#pragma once

#include <cstdint>

#include "platform/event.h"
#include "platform/version.h"

namespace qm {

inline constexpr const char* kAppVersion = kVersion;
// The window's caption, the tray icon's tip and the message boxes' title.
inline constexpr const char* kAppTitle = "QM";

// What a window toolkit built into the manager offers: the whole life of the
// main window with its screen, from creation to shut-down, given the
// back-end's window and what stops the manager (null: nothing). Returns the
// exit status, or kNoDisplay when no display can be reached; the manager then
// runs headless.
inline constexpr int kNoDisplay = -1;
using WindowLoop = int (*)(uint32_t backEndWindow, const Waitable* stop);

class CQMApp {
  public:
    // windows: null in a build without windows.
    static int Run(int argc, char** argv, WindowLoop windows = nullptr);
};

}  // namespace qm
