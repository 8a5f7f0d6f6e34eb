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
// with them. Such a notice goes through the link's outbox, so that a program
// whose window is busy for a while loses none and the frame handler never
// waits for it; the copy is alive while the notice waits there, and once
// sent it is kept until kKeptRequestNotices later ones have been sent to
// such windows (SDKDeInit does not release those). Notices still waiting at
// SDKDeInit were never seen by the program: they are dropped, and counted
// in the log.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "link/link_records.h"
#include "platform/outbox.h"
#include "platform/window_message.h"

namespace qm {

struct RequestNotice {
    RequestRecord record{};
    std::vector<uint8_t> data;
};

// Posts the notice to the outbox's window. False when it was refused:
// errno ENOBUFS for a full outbox (which has logged it), else as
// Outbox::Post.
bool PostRequestNotice(Outbox& outbox, uint8_t hostId, uint8_t dcbId, uint8_t command,
                       std::span<const uint8_t> data);

// The sent hook of the link's outbox: keeps a notice that has gone to a
// window of another process until kKeptRequestNotices later ones have.
void KeepSentNotice(std::shared_ptr<void> notice);

}  // namespace qm
