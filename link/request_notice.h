// The request notice: a terminal's complete request on its way to the
// application window as WM_REQUEST_RECEIVED.
//
// Each notice owns a copy of its record and bytes, carried as the message's
// payload, so a request that arrives while an earlier notice is still queued
// can never overwrite it; the copy is released with the message, after the
// window's handler has run. wParam and lParam point into the copy.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "platform/window_message.h"
#include "service/qmsdk.h"

namespace qm {

struct RequestNotice {
    _REQUESTRECORD record{};
    std::vector<uint8_t> data;
};

// Posts the notice to the window; false when the window refused it.
bool PostRequestNotice(WindowHandle window, uint8_t hostId, uint8_t dcbId, uint8_t command,
                       std::span<const uint8_t> data);

}  // namespace qm
