#include "tests/devsim/manager_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "tools/devsim/records.h"

namespace qm::devsim::test {

bool ManagerLine::Open(const std::string& path) {
    fd_.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.Valid()) {
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd_.Get(), &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag |= CLOCAL | CREAD;
    pending_.clear();
    return ::tcsetattr(fd_.Get(), TCSANOW, &tio) == 0;
}

void ManagerLine::Close() {
    fd_.Reset();
    pending_.clear();
}

bool ManagerLine::Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
    return true;
}

bool ManagerLine::Fill(int64_t deadlineUs) {
    const int64_t leftUs = deadlineUs - MonotonicUs();
    if (leftUs <= 0) {
        return false;
    }
    pollfd pfd{fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>((leftUs + 999) / 1000));
    if (ready <= 0) {
        return ready < 0 && errno == EINTR;
    }
    std::array<uint8_t, 1024> buffer{};
    const ssize_t n = ::read(fd_.Get(), buffer.data(), buffer.size());
    if (n > 0) {
        pending_.insert(pending_.end(), buffer.begin(), buffer.begin() + n);
    }
    return true;
}

std::optional<Bytes> ManagerLine::ReadFrame(int timeoutMs) {
    const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
    for (;;) {
        const auto start = std::find(pending_.begin(), pending_.end(), kFrameStart);
        pending_.erase(pending_.begin(), start);
        const auto end = std::find(pending_.begin(), pending_.end(), kFrameEnd);
        if (!pending_.empty() && end != pending_.end()) {
            Bytes frame(pending_.begin(), end + 1);
            pending_.erase(pending_.begin(), end + 1);
            return frame;
        }
        if (!Fill(deadline)) {
            return std::nullopt;
        }
    }
}

}  // namespace qm::devsim::test
