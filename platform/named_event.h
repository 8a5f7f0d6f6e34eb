// Named events between processes.
//
// The named event NAME is the datagram socket <runtime folder>/event-NAME.
// Setting it sends one byte there; the one process that waits on it holds
// the socket. A set when nobody waits is lost, which is the same as a set that
// the next waiter resets before it waits. The manager's single-instance rule
// rests on this: a new manager sets "__QM_MUTEXT" and the running one, whose
// close watcher waits on it, closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/local_socket.h"

namespace qm {

// A name is not empty, has no '/' and fits the socket path.
bool ValidEventName(const std::string& name);

// Sets the named event. True when a waiter holds it (a set that finds the
// waiter's queue full of earlier sets also counts: the event is set already).
// False with errno set otherwise: ENOENT or ECONNREFUSED when nobody waits
// (the set is lost), EINVAL for a bad name, or the runtime folder's errno.
bool SetNamedEvent(const std::string& name);

// The waiting side: an auto-reset event that other processes set by name.
// Waiting on it (WaitAny, or Wait) takes every set that arrived since the
// last wait, so sets pile up no more than an event's signalled state does.
class NamedEventListener final : public Waitable {
  public:
    // Binds the path, replacing a stale file. While a live listener still
    // holds it (an ending manager), waits until that one releases it,
    // watching the runtime folder with inotify; sets `holding` (when given)
    // as it starts to wait. Gives up when `stop` is released: null with
    // *err = ECANCELED. Other failures: null with *err from the runtime
    // folder, inotify or the socket; EINVAL for a bad name.
    //
    // A listener that dies without removing its path (killed) leaves no trace
    // that inotify could report: a waiter already waiting on it then waits
    // until `stop`; any listener created later replaces the stale file at
    // once.
    static std::unique_ptr<NamedEventListener> Create(const std::string& name, const Waitable& stop,
                                                      int* err, Event* holding = nullptr);

    // Removes the path only if it is still this listener's socket.
    ~NamedEventListener() override;
    NamedEventListener(const NamedEventListener&) = delete;
    NamedEventListener& operator=(const NamedEventListener&) = delete;

    // Drops the sets received so far.
    void Reset();
    // Waits up to timeoutMs (kInfinite: no limit); true when the event was set.
    bool Wait(uint32_t timeoutMs) const;
    // The process id of whoever made the latest set taken by a wait (the
    // kernel stamps every datagram with its sender's); 0 when none was.
    uint32_t LastSetter() const { return lastSetter_; }
    const std::string& Path() const { return path_; }

    int WaitFd() const override { return socket_.fd; }
    bool Acquire() const override;

  private:
    NamedEventListener(std::string dir, std::string path, BoundSocket socket);
    // Reads every pending datagram; true if there was any.
    bool DrainSets() const;

    std::string dir_;
    std::string path_;
    BoundSocket socket_;
    mutable uint32_t lastSetter_ = 0;  // written and read by the waiting thread
};

}  // namespace qm
