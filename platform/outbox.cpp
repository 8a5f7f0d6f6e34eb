#include "platform/outbox.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "platform/app_log.h"
#include "platform/local_socket.h"

namespace qm {
namespace {

void LogOutbox(const char* text) {
    LogError(text, 255, 255);
}

}  // namespace

std::unique_ptr<Outbox> Outbox::Create(WindowHandle target, size_t capacity, SentHook onSent,
                                       int* err) {
    int unused = 0;
    if (!err)
        err = &unused;
    *err = 0;
    std::unique_ptr<Outbox> box(
        new Outbox(target, std::max<size_t>(capacity, 1), std::move(onSent)));
    if (!box->work_.Valid() || !box->stop_.Valid()) {
        *err = EMFILE;
        return nullptr;
    }
    try {
        box->thread_ = std::thread(&Outbox::Run, box.get());
    } catch (const std::system_error& e) {
        *err = e.code().value();
        return nullptr;
    }
    return box;
}

Outbox::Outbox(WindowHandle target, size_t capacity, SentHook onSent)
    : target_(target), capacity_(capacity), onSent_(std::move(onSent)) {}

Outbox::~Outbox() {
    Stop();
}

bool Outbox::Post(uint32_t message, uint64_t wParam, int64_t lParam, std::shared_ptr<void> keep) {
    if (!ValidWindowHandle(target_)) {
        errno = EINVAL;
        return false;
    }
    if (IsWindowOfThisProcess(target_))
        return PostMessage(target_, message, wParam, lParam, std::move(keep));

    Entry entry;
    EncodeWindowMessage(message, wParam, lParam, entry.wire);
    entry.keep = std::move(keep);
    int err = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopped_) {
            err = ESHUTDOWN;
        } else if (!queue_.empty()) {
            // Behind the others, whatever room the window has now: order.
            if (queue_.size() < capacity_) {
                EndRefusalsLocked();
                queue_.push_back(std::move(entry));
                return true;
            }
            if (refused_++ == 0) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "Window %u busy: %zu messages waiting, further ones refused", target_,
                              queue_.size());
                LogOutbox(text);
            }
            err = ENOBUFS;
        } else {
            err = SendLocked(entry);
            if (err == 0) {
                if (onSent_)
                    onSent_(std::move(entry.keep));
                return true;
            }
            if (err == EAGAIN && !senderEnded_) {
                queue_.push_back(std::move(entry));
                work_.Set();
                return true;
            }
        }
    }
    entry.keep.reset();  // released before errno is set, so that it stays ours
    errno = err;
    return false;
}

void Outbox::Stop() {
    stop_.Set();
    if (thread_.joinable())
        thread_.join();
    std::deque<Entry> dropped;  // released outside the lock
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopped_)
            return;
        stopped_ = true;
        EndRefusalsLocked();
        dropped = DropLocked("stopping");
        DisconnectLocked();
    }
}

size_t Outbox::Queued() const {
    std::lock_guard<std::mutex> hold(lock_);
    return queue_.size();
}

void Outbox::Run() {
    for (;;) {
        // While the queue is not empty only this thread touches the socket
        // (a post then only queues), so the watched descriptor stays valid
        // during the wait.
        const Waitable* next = nullptr;
        {
            std::lock_guard<std::mutex> hold(lock_);
            // A queue waits only behind a socket that said "full", so the
            // watch is there whenever the queue is not empty.
            next = queue_.empty() || !writable_ ? static_cast<const Waitable*>(&work_)
                                                : writable_.get();
        }
        const int woken = WaitAny({&stop_, next}, kInfinite);
        if (woken == 0)
            return;
        std::deque<Entry> dropped;  // released outside the lock
        std::lock_guard<std::mutex> hold(lock_);
        if (woken != 1) {
            // Not seen with valid descriptors. Rather than spin, the thread
            // ends: posts are then sent only while the window has room.
            char text[128];
            std::snprintf(text, sizeof text,
                          "Window %u: the outbox cannot wait (%d), messages no longer queued",
                          target_, errno);
            LogOutbox(text);
            senderEnded_ = true;
            dropped = DropLocked("without its sender");
            DisconnectLocked();
            return;
        }
        if (next != &work_)
            SendQueuedLocked(&dropped);
    }
}

void Outbox::SendQueuedLocked(std::deque<Entry>* dropped) {
    bool sent = false;
    while (!queue_.empty()) {
        const int err = SendLocked(queue_.front());
        if (err == EAGAIN)
            break;
        if (err != 0) {
            char why[64];
            std::snprintf(why, sizeof why, "cannot be reached (%d)", err);
            *dropped = DropLocked(why);
            break;
        }
        std::shared_ptr<void> keep = std::move(queue_.front().keep);
        queue_.pop_front();
        if (onSent_)
            onSent_(std::move(keep));
        sent = true;
    }
    if (sent)
        EndRefusalsLocked();
}

int Outbox::SendLocked(const Entry& entry) {
    // A socket connected to a window that has ended says so once
    // (ECONNREFUSED, then ENOTCONN); a fresh one reaches whoever is bound at
    // the path now, such as a back-end that started again.
    int err = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (socket_ < 0) {
            err = ConnectLocked();
            if (err != 0)
                return err;
        }
        err = SendConnected(socket_, entry.wire, sizeof entry.wire);
        if (err == 0 || err == EAGAIN)
            return err;
        DisconnectLocked();
    }
    return err;
}

int Outbox::ConnectLocked() {
    int err = 0;
    const std::string path = WindowSocketPath(target_, &err);
    if (path.empty())
        return err;
    int fd = -1;
    err = ConnectDatagramSocket(path, &fd);
    if (err != 0)
        return err;
    auto writable = std::make_unique<WritableFd>(fd);
    if (!writable->Valid()) {
        err = errno ? errno : EMFILE;
        writable.reset();
        close(fd);
        return err;
    }
    socket_ = fd;
    writable_ = std::move(writable);
    return 0;
}

void Outbox::DisconnectLocked() {
    writable_.reset();
    if (socket_ >= 0)
        close(socket_);
    socket_ = -1;
}

void Outbox::EndRefusalsLocked() {
    if (refused_ == 0)
        return;
    char text[128];
    std::snprintf(text, sizeof text, "Window %u: %zu messages refused while it was busy", target_,
                  refused_);
    LogOutbox(text);
    refused_ = 0;
}

std::deque<Outbox::Entry> Outbox::DropLocked(const char* why) {
    std::deque<Entry> dropped;
    dropped.swap(queue_);
    if (!dropped.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "Window %u %s: %zu waiting messages dropped", target_, why,
                      dropped.size());
        LogOutbox(text);
    }
    return dropped;
}

}  // namespace qm
