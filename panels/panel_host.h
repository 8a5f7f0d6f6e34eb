// What a panel of the main window needs from the window that holds it,
// whatever draws it: a modal message box, and the back-end's window for the
// notices a panel posts (the download panel's notice 11).
#pragma once

#include "platform/window_message.h"

namespace qm {

class PanelHost {
  public:
    virtual ~PanelHost() = default;
    // A modal message box with an OK button and the application's title.
    virtual void MessageBox(const char* text) = 0;
    // The back-end's window, from the command line.
    virtual WindowHandle BackEndWindow() const = 0;
};

}  // namespace qm
