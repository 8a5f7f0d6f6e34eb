// Unix datagram sockets at a path in the runtime folder: the one transport
// under window messages and named events (internal to platform/).
//
// A path is owned by the live socket bound to it. Binding replaces a stale
// file (one that refuses connections: its socket was closed without the path
// being removed, or it is not a socket at all) and never a live one. The
// check-then-replace step and the "remove only if still mine" step each run
// under an exclusive flock of the runtime folder, so that two processes
// following these rules cannot both judge a file stale and then remove the
// socket that the other one has just bound.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace qm {

struct BoundSocket {
    int fd = -1;
    dev_t device = 0;  // of the socket file, to recognise it later
    ino_t inode = 0;
};

enum class BindResult {
    kBound,   // *out holds the new socket
    kHeld,    // a live socket owns the path; nothing was changed
    kFailed,  // *err says why
};

// Whether the path fits in sockaddr_un.
bool FitsSocketPath(const std::string& path);

// Binds a non-blocking, close-on-exec datagram socket at `path` inside the
// folder `dir`. The socket file is the owner's alone (mode 0600), and every
// datagram that arrives carries its sender's credentials (SO_PASSCRED).
BindResult BindDatagramSocket(const std::string& dir, const std::string& path, BoundSocket* out,
                              int* err);

// Removes `path` if it is still the file that `socket` was bound to (same
// device and inode), then closes the socket. Leaves a path that someone else
// has bound since alone.
void ReleaseDatagramSocket(const std::string& dir, const std::string& path, BoundSocket* socket);

// Receives one datagram from a socket bound above, without waiting. Returns
// its whole length (also when it was longer than `size` and cut short) and
// sets *sender to the sender's uid, or (uid_t)-1 when the kernel gave none,
// and *pid (when given) to the sender's process id, or 0. Returns -1 with
// errno when there is none (EAGAIN) or on an error. Descriptors passed along
// with it are closed, never kept.
ssize_t ReceiveDatagram(int fd, void* data, size_t size, uid_t* sender, pid_t* pid = nullptr);

// Whether a sender's uid is this process's user: its real uid, or its
// effective one for a program of ours running set-uid.
bool IsThisUser(uid_t uid);

// Sends one datagram to the socket at `path` without ever blocking. Returns
// 0, or the errno: ENOENT or ECONNREFUSED when nobody is bound there, EAGAIN
// when the receiver's queue is full.
int SendDatagram(const std::string& path, const void* data, size_t size);

// A non-blocking, close-on-exec datagram socket connected to the socket at
// `path`: 0 with *fd set, or the errno (ENOENT or ECONNREFUSED when nobody
// is bound there). Connected, it polls writable exactly while the
// receiver's queue has room, and its sends go to that receiver until it
// closes (then ECONNREFUSED once, ENOTCONN after).
int ConnectDatagramSocket(const std::string& path, int* fd);

// One datagram on a connected socket without blocking: 0, or the errno
// (EAGAIN when the receiver's queue is full).
int SendConnected(int fd, const void* data, size_t size);

// SendDatagram, but when the receiver's queue is full, waits up to waitMs
// for room in it before giving up with EAGAIN. Blocks only in that case.
int SendDatagramWithin(const std::string& path, const void* data, size_t size, int waitMs);

// SendDatagramWithin to the socket file `name` in the runtime folder; the
// runtime folder's errno when it cannot be used.
int SendToRuntimeSocket(const std::string& name, const void* data, size_t size, int waitMs = 0);

}  // namespace qm
