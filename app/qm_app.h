// The application object: reads the back-end's window handle from the
// command line, runs the main window until it ends, and tears it down.
#pragma once

namespace qm {

inline constexpr const char* kAppVersion = "1.05";

class CQMApp {
  public:
    static int Run(int argc, char** argv);
};

}  // namespace qm
