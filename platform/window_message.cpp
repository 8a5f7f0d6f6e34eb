#include "platform/window_message.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/app_log.h"
#include "platform/clock.h"
#include "platform/local_socket.h"
#include "platform/runtime_dir.h"

namespace qm {

struct MessageWindow::State {
    ~State();

    // Moves *msg into the queue unless the queue is full. The receiver
    // passes overCap: it reads the socket only while the queue has room, but
    // a post within the process may take the last place meanwhile, and a
    // datagram already read must not be lost.
    bool Push(WindowMessage* msg, bool overCap);
    bool Pop(WindowMessage* out);
    bool Full() const;
    void ReceiveLoop();
    void Drain();

    WindowHandle handle = 0;
    std::string dir;
    std::string path;
    BoundSocket socket;

    mutable std::mutex lock;  // guards queue; taken after the registry's lock
    std::deque<WindowMessage> queue;
    Event ready{Event::Mode::kManualReset, false};  // set while queue is not empty
    Event space{Event::Mode::kAutoReset, false};    // set when a full queue gets room
    Event stop{Event::Mode::kManualReset, false};
    std::thread receiver;
};

namespace {

// The windows of this process by handle, so that a post within the process
// never touches a socket (and may carry a payload).
struct Registry {
    std::mutex lock;
    std::unordered_map<WindowHandle, MessageWindow::State*> windows;
};

Registry& TheRegistry() {
    // Never destroyed: a window may still be ending while the process exits.
    static Registry* registry = new Registry;
    return *registry;
}

enum class LocalPost { kPosted, kFull, kNotHere };

LocalPost PostInProcess(WindowHandle target, WindowMessage* msg) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    auto it = registry.windows.find(target);
    if (it == registry.windows.end())
        return LocalPost::kNotHere;
    return it->second->Push(msg, false) ? LocalPost::kPosted : LocalPost::kFull;
}

std::string SocketFile(WindowHandle handle) {
    return "hwnd-" + std::to_string(handle);
}

std::string SocketPath(const std::string& dir, WindowHandle handle) {
    return dir + "/" + SocketFile(handle);
}

void LogWindow(WindowHandle handle, const char* what, long detail) {
    if (!LogEnabled(kLogErrors))
        return;
    char text[160];
    std::snprintf(text, sizeof text, "Window %u: %s (%ld)", handle, what, detail);
    AppLog(text, 255, 255);
}

void PutLe(uint8_t* out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace

bool ValidWindowHandle(WindowHandle handle) {
    return handle > 0 && handle < 0x80000000u;
}

void EncodeWindowMessage(uint32_t message, uint64_t wParam, int64_t lParam,
                         uint8_t out[kWindowWireSize]) {
    PutLe(out, message, 4);
    PutLe(out + 4, 0, 4);
    PutLe(out + 8, wParam, 8);
    PutLe(out + 16, static_cast<uint64_t>(lParam), 8);
}

bool DecodeWindowMessage(const uint8_t* data, size_t size, WindowMessage* out) {
    if (size != kWindowWireSize)
        return false;
    out->message = static_cast<uint32_t>(GetLe(data, 4));
    out->wParam = GetLe(data + 8, 8);
    out->lParam = static_cast<int64_t>(GetLe(data + 16, 8));
    out->payload.reset();
    return true;
}

// ---- the queue and its receiver thread ----

MessageWindow::State::~State() {
    stop.Set();
    if (receiver.joinable())
        receiver.join();
    ReleaseDatagramSocket(dir, path, &socket);
    // What is still queued goes with the deque, outside every lock, so a
    // payload's deleter may do what it likes.
}

bool MessageWindow::State::Push(WindowMessage* msg, bool overCap) {
    std::lock_guard<std::mutex> hold(lock);
    if (!overCap && queue.size() >= kWindowQueueCap)
        return false;
    queue.push_back(std::move(*msg));
    if (queue.size() == 1)
        ready.Set();
    return true;
}

bool MessageWindow::State::Pop(WindowMessage* out) {
    WindowMessage taken;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (queue.empty())
            return false;
        taken = std::move(queue.front());
        queue.pop_front();
        if (queue.empty())
            ready.Reset();
        // Each pop lowers the size by one, so a queue that was full passes
        // through this size on its way down.
        if (queue.size() == kWindowQueueCap - 1)
            space.Set();
    }
    // The message that *out held before is released here, outside the lock.
    *out = std::move(taken);
    return true;
}

bool MessageWindow::State::Full() const {
    std::lock_guard<std::mutex> hold(lock);
    return queue.size() >= kWindowQueueCap;
}

void MessageWindow::State::ReceiveLoop() {
    const ReadableFd incoming(socket.fd);
    for (;;) {
        // A full queue stops the reading: the socket's own queue then fills
        // and further senders are told "full" (EAGAIN) instead of having
        // their messages taken and thrown away.
        const Waitable* next = Full() ? static_cast<const Waitable*>(&space) : &incoming;
        int woken = WaitAny({&stop, next}, kInfinite);
        if (woken == 0)
            return;
        if (woken != 1) {
            LogWindow(handle, "receiver wait failed, no more messages from other processes", errno);
            return;
        }
        if (next == &incoming)
            Drain();
    }
}

void MessageWindow::State::Drain() {
    while (!Full()) {
        // A longer datagram is judged (and logged) by its real size.
        uint8_t data[kWindowWireSize];
        uid_t sender;
        const ssize_t n = ReceiveDatagram(socket.fd, data, sizeof data, &sender);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Not seen on a healthy socket (memory pressure at most); a pause
            // keeps a persistent error from spinning the thread.
            LogWindow(handle, "receive failed", errno);
            stop.Wait(100);
            return;
        }
        if (!IsThisUser(sender)) {
            LogWindow(handle, "dropped a datagram from another user, uid",
                      static_cast<long>(static_cast<int>(sender)));
            continue;
        }
        WindowMessage received;
        if (!DecodeWindowMessage(data, static_cast<size_t>(n), &received)) {
            LogWindow(handle, "dropped a datagram of the wrong size, bytes", static_cast<long>(n));
            continue;
        }
        Push(&received, true);
    }
}

// ---- MessageWindow ----

std::unique_ptr<MessageWindow> MessageWindow::Create(WindowHandle handle, int* err) {
    int unused = 0;
    if (!err)
        err = &unused;
    *err = 0;
    if (!ValidWindowHandle(handle)) {
        *err = EINVAL;
        return nullptr;
    }
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> hold(registry.lock);
        if (registry.windows.count(handle)) {
            *err = EEXIST;
            return nullptr;
        }
    }
    std::string dir = RuntimeDir(err);
    if (dir.empty())
        return nullptr;

    auto state = std::make_unique<State>();
    state->handle = handle;
    state->dir = dir;
    state->path = SocketPath(dir, handle);
    switch (BindDatagramSocket(state->dir, state->path, &state->socket, err)) {
        case BindResult::kBound:
            break;
        case BindResult::kHeld:
            *err = EADDRINUSE;
            return nullptr;
        case BindResult::kFailed:
            return nullptr;
    }
    try {
        state->receiver = std::thread(&State::ReceiveLoop, state.get());
    } catch (const std::system_error& e) {
        *err = e.code().value();
        return nullptr;
    }
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> hold(registry.lock);
        // Another thread may have made a window with this handle in another
        // runtime folder meanwhile; the first one keeps it.
        if (!registry.windows.emplace(handle, state.get()).second) {
            *err = EEXIST;
            return nullptr;
        }
    }
    return std::unique_ptr<MessageWindow>(new MessageWindow(std::move(state)));
}

MessageWindow::MessageWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

MessageWindow::~MessageWindow() {
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> hold(registry.lock);
        registry.windows.erase(state_->handle);
    }
    state_.reset();
}

WindowHandle MessageWindow::Handle() const {
    return state_->handle;
}

bool MessageWindow::GetMessage(WindowMessage* out, uint32_t timeoutMs) {
    const bool forever = timeoutMs == kInfinite;
    const Deadline deadline(forever ? 0 : timeoutMs);
    for (;;) {
        if (state_->Pop(out))
            return true;
        uint32_t wait = forever ? kInfinite : static_cast<uint32_t>(deadline.RemainingMs());
        if (!forever && wait == 0)
            return false;
        if (!state_->ready.Wait(wait))
            return state_->Pop(out);
    }
}

bool MessageWindow::PeekMessage(WindowMessage* out) {
    return state_->Pop(out);
}

const Waitable& MessageWindow::QueueReady() const {
    return state_->ready;
}

size_t MessageWindow::Pending() const {
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->queue.size();
}

// ---- posting ----

bool IsWindowOfThisProcess(WindowHandle handle) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> hold(registry.lock);
    return registry.windows.count(handle) != 0;
}

std::string WindowSocketPath(WindowHandle handle, int* err) {
    const std::string dir = RuntimeDir(err);
    return dir.empty() ? dir : SocketPath(dir, handle);
}

bool WindowExists(WindowHandle handle) {
    if (!ValidWindowHandle(handle)) {
        errno = EINVAL;
        return false;
    }
    if (IsWindowOfThisProcess(handle))
        return true;
    int err = 0;
    const std::string path = WindowSocketPath(handle, &err);
    int fd = -1;
    if (!path.empty())
        err = ConnectDatagramSocket(path, &fd);
    if (err != 0) {
        errno = err;
        return false;
    }
    close(fd);
    return true;
}

namespace {

bool Post(WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam,
          std::shared_ptr<void> payload, int waitMs) {
    if (!ValidWindowHandle(target)) {
        payload.reset();
        errno = EINVAL;
        return false;
    }
    WindowMessage msg{message, wParam, lParam, std::move(payload)};
    switch (PostInProcess(target, &msg)) {
        case LocalPost::kPosted:
            return true;
        case LocalPost::kFull:
            msg.payload.reset();  // released before errno is set, so it stays ours
            errno = EAGAIN;
            return false;
        case LocalPost::kNotHere:
            break;
    }
    // Addresses mean nothing in another process, and the data behind them
    // could not be released there.
    if (msg.payload) {
        msg.payload.reset();
        errno = EINVAL;
        return false;
    }
    uint8_t wire[kWindowWireSize];
    EncodeWindowMessage(message, wParam, lParam, wire);
    const int err = SendToRuntimeSocket(SocketFile(target), wire, sizeof wire, waitMs);
    if (err != 0) {
        errno = err;
        return false;
    }
    return true;
}

}  // namespace

bool PostMessage(WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam,
                 std::shared_ptr<void> payload) {
    return Post(target, message, wParam, lParam, std::move(payload), 0);
}

bool PostMessageWithin(WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam,
                       int waitMs) {
    return Post(target, message, wParam, lParam, nullptr, waitMs);
}

}  // namespace qm
