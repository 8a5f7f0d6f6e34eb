// An outbox: posts to one window, in order, without ever blocking the poster.
//
// A window of another process takes datagrams only as fast as it reads its
// socket, whose queue holds a handful (net.unix.max_dgram_qlen). A window
// busy for a few seconds would make a plain post fail, and the notices of a
// busy restaurant are orders. The outbox sends a post at once when nothing
// is waiting and the window has room; otherwise it queues it, and its own
// thread sends the queue in order as the window's socket becomes writable
// again (a socket connected to the window polls writable exactly while the
// window's queue has room, so the thread sleeps in poll, never in a retry
// loop).
//
// What an outbox promises:
//  - Order: posts reach the window in the order they were accepted.
//  - Bound: at most `capacity` wait. A post beyond it is refused; the first
//    refusal and the count of a stretch of refusals are logged, once each,
//    never one line per post. The oldest stay queued.
//  - A window that does not exist (its socket file gone, or left by a
//    process that ended) fails the post at once, as a plain post does; the
//    notices still waiting when the thread finds the window gone are
//    dropped and counted in one log line.
//  - Stop takes a few milliseconds whatever the window does; what is still
//    waiting is dropped and counted in one log line.
//  - A window of this process never needs one: posts to it go straight into
//    its queue, as PostMessage does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/window_message.h"
#include "platform/writable_fd.h"

namespace qm {

// Far above what a site of 8 stations sends in the seconds that a back-end
// may be busy (a reply's sending blocks it up to RetryTimes x 500 ms), and
// small enough that a window that never reads again costs little memory.
inline constexpr size_t kOutboxCapacity = 4096;

class Outbox {
  public:
    // Called with a post's `keep` once its datagram has been sent, under the
    // outbox's lock and in the order of sending; it must not post to the
    // same outbox. A post refused, failed or dropped releases `keep`
    // instead, since the window never learnt of it.
    using SentHook = std::function<void(std::shared_ptr<void> keep)>;

    // Starts the thread. Null with *err set when it cannot run (no thread,
    // no descriptor for its events).
    static std::unique_ptr<Outbox> Create(WindowHandle target, size_t capacity, SentHook onSent,
                                          int* err);
    // Stops.
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Posts a message without a wait. True when it was sent or queued.
    // False with errno: EINVAL for an invalid handle; ENOENT or
    // ECONNREFUSED when the window does not exist; ENOBUFS when the queue is
    // full (the outbox has logged it); ESHUTDOWN after Stop; or the runtime
    // folder's errno. `keep` is data that the message's addresses point at:
    // to a window of this process it travels as the message's payload; to
    // any other it stays alive while the message waits and then goes to the
    // sent hook.
    bool Post(uint32_t message, uint64_t wParam, int64_t lParam,
              std::shared_ptr<void> keep = nullptr);

    // Ends and joins the thread and drops what is still queued. Further
    // posts fail. Called by the destructor; a second call does nothing.
    void Stop();

    WindowHandle Target() const { return target_; }
    // Posts waiting now.
    size_t Queued() const;

  private:
    struct Entry {
        uint8_t wire[kWindowWireSize];
        std::shared_ptr<void> keep;
    };

    Outbox(WindowHandle target, size_t capacity, SentHook onSent);
    void Run();
    // Sends what waits until the window is full again; what has to be
    // dropped goes to *dropped, to be released outside the lock.
    void SendQueuedLocked(std::deque<Entry>* dropped);
    // 0, EAGAIN (the window is full), or why the window cannot be reached.
    int SendLocked(const Entry& entry);
    int ConnectLocked();
    void DisconnectLocked();
    void EndRefusalsLocked();
    // Empties the queue and logs how many went, and why.
    std::deque<Entry> DropLocked(const char* why);

    const WindowHandle target_;
    const size_t capacity_;
    const SentHook onSent_;

    mutable std::mutex lock_;  // guards everything below
    std::deque<Entry> queue_;
    // Connected to the window while one has been reached; not empty while
    // the queue is not.
    int socket_ = -1;
    std::unique_ptr<WritableFd> writable_;
    size_t refused_ = 0;  // posts refused in the current stretch of a full queue
    bool stopped_ = false;
    bool senderEnded_ = false;  // the thread could not wait and has ended

    Event work_{Event::Mode::kAutoReset, false};  // the queue got its first entry
    Event stop_{Event::Mode::kManualReset, false};
    std::thread thread_;
};

}  // namespace qm
