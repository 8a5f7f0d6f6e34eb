#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace qm {
namespace {

void SetErr(int* err, int value) {
    if (err)
        *err = value;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// COM<n>, n >= 1 without a leading zero, "COM" in any letter case. Returns
// n, or 0 when the name is not of that form.
unsigned ComNumber(const std::string& name) {
    if (name.size() < 4)
        return 0;
    static const char kCom[] = "com";
    for (size_t i = 0; i < 3; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kCom[i])
            return 0;
    }
    if (name[3] == '0')
        return 0;
    unsigned n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!IsDigit(name[i]))
            return 0;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');  // at most 3 digits
    }
    return n;
}

// A name that can stand as one entry of the ports folder and no more.
bool IsPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Gives up the tty's exclusivity on every early return of Open once it was
// taken; dismissed on success.
class ExclusivityGuard {
  public:
    explicit ExclusivityGuard(int fd) : fd_(fd) {}
    ~ExclusivityGuard() {
        if (fd_ < 0)
            return;
        const int saved = errno;
        ioctl(fd_, TIOCNXCL);
        errno = saved;
    }
    ExclusivityGuard(const ExclusivityGuard&) = delete;
    ExclusivityGuard& operator=(const ExclusivityGuard&) = delete;
    void Dismiss() { fd_ = -1; }

  private:
    int fd_;
};

// The line of every base station: raw 19200 8N1, receiver on, modem lines
// ignored, no flow control of either kind (the stations send XON and XOFF
// bytes as data), reads that return at once with whatever is there.
void MakeStationLine(termios* t) {
    t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXON | IXOFF | IXANY | INPCK);
    t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t->c_cflag |= CS8 | CREAD | CLOCAL;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, B19200);
    cfsetospeed(t, B19200);
}

// tcsetattr succeeds when any part of the change took; a driver that quietly
// refuses the speed or the frame format would leave the station unreachable
// with no error shown, so the settings that matter are read back.
bool LineTook(int fd) {
    termios now{};
    if (tcgetattr(fd, &now) != 0)
        return false;
    return cfgetispeed(&now) == B19200 && cfgetospeed(&now) == B19200 &&
           (now.c_cflag & CSIZE) == CS8 && (now.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
           (now.c_iflag & (IXON | IXOFF)) == 0 && (now.c_lflag & ICANON) == 0;
}

}  // namespace

int LowerModemLines(int fd) {
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) == 0)
        return 0;
    return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

std::string ResolvePortPath(const char* name6, const std::string& programDir, int* err) {
    SetErr(err, ENOENT);
    if (!name6)
        return {};
    std::string name(name6, strnlen(name6, kPortNameMax));

    if (IsPlainEntryName(name)) {
        std::string mapped = programDir + "/ports/" + name;
        struct stat st {};
        if (lstat(mapped.c_str(), &st) == 0) {
            SetErr(err, 0);
            return mapped;
        }
    }
    unsigned n = ComNumber(name);
    if (n == 0)
        return {};
    SetErr(err, 0);
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string DescribeOpenFailure(int err, const char* name6, const std::string& programDir) {
    char buf[128];
    // The GNU strerror_r: safe beside the other threads, which log too.
    std::string text = strerror_r(err, buf, sizeof buf);
    switch (err) {
        case EACCES:
        case EPERM:
            return text + ": add the user to the dialout group";
        case ENOENT:
        case ENXIO:
        case ENODEV: {
            const std::string name = name6 ? std::string(name6, strnlen(name6, kPortNameMax)) : "";
            return text + ": link " + programDir + "/ports/" + name +
                   " to the device, e.g. its udev link below /dev/serial/by-id";
        }
        case EBUSY:
            return text + ": another program holds the port";
        default:
            return text;
    }
}

std::unique_ptr<SerialPort> SerialPort::Open(const char* name6, const std::string& programDir,
                                             int* err) {
    const std::string path = ResolvePortPath(name6, programDir, err);
    if (path.empty())
        return nullptr;
    return OpenPath(path, err);
}

std::unique_ptr<SerialPort> SerialPort::OpenPath(const std::string& path, int* err) {
    SetErr(err, ENOENT);
    if (path.empty())
        return nullptr;
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        SetErr(err, errno);
        return nullptr;
    }
    // TIOCEXCL alone does not keep out a second manager running as root
    // (CAP_SYS_ADMIN passes it), so an advisory lock on the device is taken
    // first; a holder of the lock is reported as a busy port.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        SetErr(err, errno == EWOULDBLOCK ? EBUSY : errno);
        return nullptr;
    }
    if (ioctl(fd.Get(), TIOCEXCL) != 0) {
        SetErr(err, errno);
        return nullptr;
    }
    ExclusivityGuard exclusive(fd.Get());

    termios line{};
    if (tcgetattr(fd.Get(), &line) != 0) {
        SetErr(err, errno);
        return nullptr;
    }
    MakeStationLine(&line);
    if (tcsetattr(fd.Get(), TCSANOW, &line) != 0) {
        SetErr(err, errno);
        return nullptr;
    }
    if (!LineTook(fd.Get())) {
        SetErr(err, EINVAL);
        return nullptr;
    }
    // After the line settings: a port that its last user left at speed 0
    // has both lines raised by the tty layer as the speed is set.
    if (const int e = LowerModemLines(fd.Get()); e != 0) {
        SetErr(err, e);
        return nullptr;
    }

    // From here the port owns the descriptor and its destructor undoes the
    // exclusivity and closes it.
    exclusive.Dismiss();
    auto port = std::make_unique<SerialPort>(Key{}, fd.Release());
    if (!port->writable_.Valid()) {
        SetErr(err, errno);
        return nullptr;
    }
    SetErr(err, 0);
    return port;
}

SerialPort::SerialPort(Key, int fd) : fd_(fd), readable_(fd), writable_(fd) {}

SerialPort::~SerialPort() {
    // Exclusivity belongs to the tty, not to this descriptor: give it up so
    // that the next manager (or a test holding the other end) can open it.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
}

void SerialPort::Purge() {
    tcflush(fd_, TCIOFLUSH);
}

int SerialPort::InputQueued() const {
    int n = 0;
    if (ioctl(fd_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

// With VMIN=0 and VTIME=0 an empty queue and a device that has gone both read
// as 0, and a hung-up tty polls ready for ever; poll's hang-up flag is what
// tells them apart, so that the reader sees an event and not endless input.
bool SerialPort::CheckHangUp() {
    pollfd p{fd_, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r == 1 && (p.revents & (POLLHUP | POLLERR))) {
        hungUp_.store(true, std::memory_order_relaxed);
        NoteError(EIO);
        return true;
    }
    return false;
}

ssize_t SerialPort::Read(uint8_t* buf, size_t max) {
    if (HungUp())
        return kReadHungUp;
    if (max == 0)
        return 0;
    for (;;) {
        ssize_t n = read(fd_, buf, max);
        if (n > 0)
            return n;
        if (n == 0)
            return CheckHangUp() ? kReadHungUp : 0;
        int e = errno;
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK)
            return 0;
        // The tty layer answers EIO once the far side is gone; ENXIO and
        // ENODEV come from a device node whose hardware was removed.
        if (e == EIO || e == ENXIO || e == ENODEV || CheckHangUp()) {
            hungUp_.store(true, std::memory_order_relaxed);
            NoteError(e);
            return kReadHungUp;
        }
        NoteError(e);
        errno = e;
        return -1;
    }
}

bool SerialPort::Write(const uint8_t* data, size_t len, const Event& stop) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd_, data + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            // A tty never accepts nothing while reporting room; waiting
            // again would spin, so it counts as a failed device.
            NoteError(EIO);
            return false;
        }
        int e = errno;
        if (e == EINTR)
            continue;
        if (e != EAGAIN && e != EWOULDBLOCK) {
            if (e == EIO || e == ENXIO || e == ENODEV)
                hungUp_.store(true, std::memory_order_relaxed);
            NoteError(e);
            return false;
        }
        // The output queue is full: the UART drains it at 0.52 ms a byte.
        int which = WaitAny({&writable_, &stop}, kInfinite);
        if (which == 0)
            continue;
        NoteError(which == 1 ? ECANCELED : EIO);
        return false;
    }
    return true;
}

}  // namespace qm
