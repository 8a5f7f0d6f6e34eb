// Window messages: how the manager, its service threads and the POS back-end
// post notices to each other's windows (the README's integrator section
// gives the datagram layout).
//
// A window is a queue with a number. Posting to a window of this process puts
// the message straight into its queue; posting to a window of another process
// sends one 24-byte datagram to the socket <runtime folder>/hwnd-<handle>,
// which the window's own receiver thread moves into its queue at once. The
// window's owner takes messages out with GetMessage or PeekMessage, or waits
// for QueueReady() together with anything else (a main loop watches its
// descriptor).
//
// A post never blocks and never waits for the message to be handled. It
// fails (returns false, errno set) when the window does not exist, when its
// queue is full, or when a message that carries a payload would have to leave
// the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"

namespace qm {

// A positive number below 2^31. The manager's main window uses its process
// id; a back-end chooses its own.
using WindowHandle = uint32_t;

bool ValidWindowHandle(WindowHandle handle);

struct WindowMessage {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
    // Owned data behind addresses in wParam/lParam (the request record and
    // its bytes behind WM_REQUEST_RECEIVED). Released with the message,
    // whether it is handled, refused or still queued when the window ends.
    // Only posts within the process may carry one.
    std::shared_ptr<void> payload;
};

// A posted message beyond this many waiting in one queue fails: far more than
// what a working site has waiting at once, and small enough that a
// window that stopped reading cannot eat the machine.
inline constexpr size_t kWindowQueueCap = 100000;

// The datagram between processes: u32 message, u32 zero, u64 wParam,
// i64 lParam, all little-endian.
inline constexpr size_t kWindowWireSize = 24;
void EncodeWindowMessage(uint32_t message, uint64_t wParam, int64_t lParam,
                         uint8_t out[kWindowWireSize]);
// False unless `size` is exactly kWindowWireSize. The zero field is not
// checked: it carries nothing. The payload of *out is left empty.
bool DecodeWindowMessage(const uint8_t* data, size_t size, WindowMessage* out);

class MessageWindow {
  public:
    // Creates the window: registers it for posts within the process and binds
    // its socket, replacing a stale socket file but never a live one. Null
    // with *err set on failure: EINVAL for an invalid handle, EEXIST when
    // this process already has a window with that handle, EADDRINUSE when a
    // live socket holds the path, or the runtime folder's or the socket's
    // errno.
    static std::unique_ptr<MessageWindow> Create(WindowHandle handle, int* err);

    // Stops and joins the receiver thread, unregisters, removes the socket
    // file (if it is still this window's) and drops what is still queued.
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    WindowHandle Handle() const;

    // Takes the oldest message, waiting up to timeoutMs (kInfinite: no
    // limit). False when none came in time.
    bool GetMessage(WindowMessage* out, uint32_t timeoutMs);
    // Takes the oldest message if there is one; never waits.
    bool PeekMessage(WindowMessage* out);
    // Set while messages are queued (a manual-reset event); waiting on it
    // does not take a message.
    const Waitable& QueueReady() const;
    // Messages waiting now.
    size_t Pending() const;

    struct State;

  private:
    explicit MessageWindow(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Whether a window with this handle belongs to this process: a post to it
// stays in the process and may carry a payload.
bool IsWindowOfThisProcess(WindowHandle handle);

// The socket path of the window `handle` of another process; empty with
// *err set when the runtime folder cannot be used.
std::string WindowSocketPath(WindowHandle handle, int* err);

// Whether a post to the window could reach it now: a window of this process,
// or a live socket at its path (which may still have its queue full). False
// with errno ENOENT or ECONNREFUSED when nobody is bound there (a socket
// file left by a process that ended refuses), EINVAL for an invalid handle,
// or the runtime folder's errno. Sends nothing.
bool WindowExists(WindowHandle handle);

// Posts a message to a window. Returns false (errno: EINVAL for an invalid
// handle or a payload bound for another process, ENOENT or ECONNREFUSED when
// the window does not exist, EAGAIN when its queue is full, or the runtime
// folder's errno) and releases the payload at once when the post fails.
bool PostMessage(WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam,
                 std::shared_ptr<void> payload = nullptr);

// PostMessage without a payload that, when the window of another process has
// its queue full, waits up to waitMs for the window to take messages again
// before it fails with EAGAIN. For a notice whose loss would lose data: the
// sender blocks only while the receiver is stalled.
bool PostMessageWithin(WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam,
                       int waitMs);

}  // namespace qm
