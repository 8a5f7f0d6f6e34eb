#include "platform/named_event.h"

#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/app_log.h"
#include "platform/runtime_dir.h"

namespace qm {
namespace {

std::string EventFile(const std::string& name) {
    return "event-" + name;
}

std::string EventPath(const std::string& dir, const std::string& name) {
    return dir + "/" + EventFile(name);
}

// An inotify watch on the runtime folder, made before the first attempt to
// bind, so that a listener released between that attempt and the wait still
// wakes the waiter.
class FolderWatch {
  public:
    FolderWatch(const std::string& dir, int* err) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0) {
            *err = errno;
            return;
        }
        // A listener ends by removing its path; a rename away frees it too.
        // The folder itself going away ends the watch, which the next attempt
        // to bind then reports.
        if (inotify_add_watch(
                fd_, dir.c_str(),
                IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
            *err = errno;
            close(fd_);
            fd_ = -1;
        }
    }
    ~FolderWatch() {
        if (fd_ >= 0)
            close(fd_);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Whatever changed, the caller simply tries again, so the events are read
    // only to clear the descriptor.
    void Clear() const {
        alignas(inotify_event) char buffer[4096];
        while (read(fd_, buffer, sizeof buffer) > 0) {
        }
    }

  private:
    int fd_;
};

}  // namespace

bool ValidEventName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name != "." && name != "..";
}

bool SetNamedEvent(const std::string& name) {
    if (!ValidEventName(name)) {
        errno = EINVAL;
        return false;
    }
    const uint8_t set = 1;
    const int err = SendToRuntimeSocket(EventFile(name), &set, sizeof set);
    if (err == 0 || err == EAGAIN)
        return true;
    errno = err;
    return false;
}

std::unique_ptr<NamedEventListener> NamedEventListener::Create(const std::string& name,
                                                               const Waitable& stop, int* err,
                                                               Event* holding) {
    int unused = 0;
    if (!err)
        err = &unused;
    *err = 0;
    if (!ValidEventName(name)) {
        *err = EINVAL;
        return nullptr;
    }
    std::string dir = RuntimeDir(err);
    if (dir.empty())
        return nullptr;
    std::string path = EventPath(dir, name);
    if (!FitsSocketPath(path)) {
        *err = ENAMETOOLONG;
        return nullptr;
    }

    FolderWatch watch(dir, err);
    if (!watch.Valid())
        return nullptr;
    const ReadableFd changed(watch.Fd());
    bool toldHolding = false;
    for (;;) {
        BoundSocket socket;
        switch (BindDatagramSocket(dir, path, &socket, err)) {
            case BindResult::kBound:
                return std::unique_ptr<NamedEventListener>(
                    new NamedEventListener(std::move(dir), std::move(path), socket));
            case BindResult::kFailed:
                return nullptr;
            case BindResult::kHeld:
                break;
        }
        if (holding && !toldHolding) {
            holding->Set();
            toldHolding = true;
        }
        int woken = WaitAny({&stop, &changed}, kInfinite);
        if (woken == 0) {
            *err = ECANCELED;
            return nullptr;
        }
        if (woken != 1) {
            *err = errno ? errno : EIO;
            return nullptr;
        }
        watch.Clear();
    }
}

NamedEventListener::NamedEventListener(std::string dir, std::string path, BoundSocket socket)
    : dir_(std::move(dir)), path_(std::move(path)), socket_(socket) {}

NamedEventListener::~NamedEventListener() {
    ReleaseDatagramSocket(dir_, path_, &socket_);
}

bool NamedEventListener::DrainSets() const {
    bool any = false;
    for (;;) {
        // Any datagram from this user is a set; its bytes carry nothing.
        uint8_t byte[8];
        uid_t sender;
        pid_t pid = 0;
        if (ReceiveDatagram(socket_.fd, byte, sizeof byte, &sender, &pid) < 0) {
            if (errno == EINTR)
                continue;
            return any;
        }
        if (IsThisUser(sender)) {
            any = true;
            lastSetter_ = static_cast<uint32_t>(pid);
            continue;
        }
        // Closing the manager is the owner's business alone.
        if (LogEnabled(kLogErrors)) {
            char text[160];
            std::snprintf(text, sizeof text, "Event %s: dropped a set from another user, uid %ld",
                          path_.c_str() + dir_.size() + 1,
                          static_cast<long>(static_cast<int>(sender)));
            AppLog(text, 255, 255);
        }
    }
}

bool NamedEventListener::Acquire() const {
    return DrainSets();
}

void NamedEventListener::Reset() {
    DrainSets();
}

bool NamedEventListener::Wait(uint32_t timeoutMs) const {
    const Waitable* self = this;
    return WaitAny(std::span<const Waitable* const>(&self, 1), timeoutMs) == 0;
}

}  // namespace qm
