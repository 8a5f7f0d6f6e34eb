// What a panel of the main window needs from the window that holds it,
// whatever draws it: a modal message box, and the road to the back-end for
// the notices a panel posts (the download panel's notice 11).
#pragma once

#include <cstdint>

namespace qm {

class PanelHost {
  public:
    virtual ~PanelHost() = default;
    // A modal message box with an OK button and the application's title.
    virtual void MessageBox(const char* text) = 0;
    // Posts WM_POS_NOTICE with the code to the back-end's window, in order
    // with the window's other notices to it and without waiting; false when
    // it could not be posted.
    virtual bool NotifyBackEnd(int64_t code) = 0;
};

}  // namespace qm
