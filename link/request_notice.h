// The request notice: a terminal's complete request on its way to the
// application window as kRequestNoticeMessage.
//
// Each notice has a copy of its record and bytes of its own, so a request
// that arrives while an earlier notice is still queued can never overwrite
// it; wParam and lParam point into the copy.
//
// A window of this process's own table (the manager's main window) gets the
// copy as the message's payload, released with the message after the
// window's handler has run. Any other window is one that a program linking
// the service binds itself: the link runs in that program's process, so the
// addresses are valid there too, but nothing tells when the program is done
// with them. Such a notice is kept until kKeptRequestNotices later ones have
// been posted to such windows (SDKDeInit does not release them).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "link/link_records.h"
#include "platform/window_message.h"

namespace qm {

struct RequestNotice {
    RequestRecord record{};
    std::vector<uint8_t> data;
};

// Posts the notice to the window; false when the window refused it.
bool PostRequestNotice(WindowHandle window, uint8_t hostId, uint8_t dcbId, uint8_t command,
                       std::span<const uint8_t> data);

}  // namespace qm
