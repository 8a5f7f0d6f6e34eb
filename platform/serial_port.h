// The serial port of one base station.
//
// A base station's port is named in the station file by a short name such as
// COM3 (at most 6 bytes). On Linux the name is resolved in this order:
//   1. <program folder>/ports/<name> if that entry exists: a symlink to a
//      device (/dev/ttyUSB0, a pseudo-terminal, ...) or a device node. The
//      entry wins even when its target is missing (an unplugged adapter):
//      the open then fails with ENOENT rather than silently taking another
//      port that may carry a different device;
//   2. otherwise COM<n> (n >= 1, letters in any case, no leading zero)
//      names /dev/ttyS<n-1>;
//   3. otherwise the name is unknown: ENOENT.
// A name holding '/' or being "." or ".." never leaves the ports folder: it
// is not looked up there and, not being COM<n>, it resolves to nothing.
//
// The port runs raw at 19200 baud, 8N1, receiver on, modem lines ignored,
// no hardware or software flow control, DTR and RTS low, and never blocks: reads return what
// is there (VMIN=0, VTIME=0) and the reader waits on Readable() beside the
// stop event.
//
// Queue sizes: the Linux tty layer has no setting for the driver's input and
// output queues. The line discipline buffers 4 KiB of input, the driver and
// the UART FIFO add their own, and none of it can be sized from here. The
// sizes therefore are what the kernel gives; nothing is lost by it because
// Write() waits for room rather than dropping bytes, and the reader drains
// the input as soon as it is readable.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/writable_fd.h"

namespace qm {

// The longest port name of a station entry, in bytes, without a NUL.
inline constexpr size_t kPortNameMax = 6;

// Result of SerialPort::Read when the device has gone: a USB adapter was
// unplugged, the far end of a pseudo-terminal closed. Once seen, every
// further read gives the same.
inline constexpr ssize_t kReadHungUp = -2;

// Resolves a port name (at most kPortNameMax bytes, NUL-terminated only when
// shorter; never read beyond that) to a device path, as described above.
// Returns the path with *err = 0, or an empty string with *err = ENOENT.
// err may be null.
std::string ResolvePortPath(const char* name6, const std::string& programDir, int* err);

// Lowers DTR and RTS. Some base stations take their power or the line's
// direction from these lines, and the tty layer raises both when a port is
// opened or its speed set. Returns 0, or the errno of the refusal. A line
// without modem control (a pseudo-terminal, an adapter wired without the
// lines) refuses with ENOTTY or EINVAL: there is nothing to lower, so that
// counts as done.
int LowerModemLines(int fd);

// The system's text for a failed open, and what to do about it where that is
// known: "Permission denied: add the user to the dialout group". name6 and
// programDir name the ports/ entry to suggest for a missing device.
std::string DescribeOpenFailure(int err, const char* name6, const std::string& programDir);

class SerialPort {
    struct Key {
        explicit Key() = default;
    };

  public:
    // Opens and configures the port of the given name for this process
    // alone. On failure returns null with *err = errno of the failing step;
    // a port that another manager holds fails with EBUSY. err may be null.
    static std::unique_ptr<SerialPort> Open(const char* name6, const std::string& programDir,
                                            int* err);
    // The same for a device path as ResolvePortPath gives it. A symlink in
    // it is followed afresh at each open, so a re-pointed link leads to the
    // device it names now.
    static std::unique_ptr<SerialPort> OpenPath(const std::string& path, int* err);

    // Only Open() makes ports; the key keeps the constructor to it.
    SerialPort(Key, int fd);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int Fd() const { return fd_; }

    // Discards everything in both the input and the output queue.
    void Purge();

    // Bytes waiting in the input queue, or -1 on error.
    int InputQueued() const;

    // Reads what is there, at most max bytes, without waiting. Returns the
    // count (0 when nothing is there), -1 with errno on an error, or
    // kReadHungUp when the device has gone (then HungUp() is true).
    ssize_t Read(uint8_t* buf, size_t max);

    // Writes all len bytes. When the output queue is full, waits for room
    // or for stop, so no byte is ever dropped. Returns false only when stop
    // was set while waiting (LastError() is ECANCELED) or on a real error
    // (LastError() tells which; EIO after a hang-up).
    bool Write(const uint8_t* data, size_t len, const Event& stop);

    // The errno of the last failed Read or Write, 0 when none failed.
    int LastError() const { return lastError_.load(std::memory_order_relaxed); }

    // Whether the device has gone. A hung-up port stays readable for
    // WaitAny, so a reader must stop waiting on it once this is true.
    bool HungUp() const { return hungUp_.load(std::memory_order_relaxed); }

    // Whether the device has gone, asking the line now instead of waiting
    // for a read to tell: a port that opened on a line already hung up.
    bool GoneNow() { return HungUp() || CheckHangUp(); }

    // Signalled while input is waiting, or when the port has hung up.
    const Waitable& Readable() const { return readable_; }

  private:
    void NoteError(int err) { lastError_.store(err, std::memory_order_relaxed); }
    bool CheckHangUp();

    int fd_;
    ReadableFd readable_;
    WritableFd writable_;
    std::atomic<int> lastError_{0};
    std::atomic<bool> hungUp_{false};
};

}  // namespace qm
