// The station port over a real pseudo-terminal: the test holds the master
// side, playing the base station, and links the slave as <home>/ports/COM3.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "tests/common/test_support.h"

namespace qm::test {
namespace {

constexpr uint32_t kPatienceMs = 10000;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(home_.path().empty());
        ASSERT_EQ(0, mkdir((home_ / "ports").c_str(), 0755));
        ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
        ASSERT_EQ(0, fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK));
        char name[128];
        ASSERT_EQ(0, ttyname_r(slave_, name, sizeof name));
        slavePath_ = name;
        ASSERT_EQ(0, symlink(slavePath_.c_str(), (home_ / "ports/COM3").c_str()));
    }
    void TearDown() override {
        CloseMaster();
        if (slave_ >= 0)
            close(slave_);
    }

    void CloseMaster() {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

    std::unique_ptr<SerialPort> OpenCom3() {
        int err = -1;
        auto port = SerialPort::Open("COM3", home_.path(), &err);
        EXPECT_TRUE(port) << "errno " << err;
        EXPECT_EQ(port ? 0 : err, err);
        return port;
    }

    // Collects n bytes at the station's end, waiting on the descriptor.
    std::vector<uint8_t> ReadAtMaster(size_t n) {
        std::vector<uint8_t> got;
        ReadableFd readable(master_);
        Deadline deadline(kPatienceMs);
        while (got.size() < n && !deadline.Expired()) {
            int w = WaitAny({&readable}, static_cast<uint32_t>(deadline.RemainingMs()));
            if (w != 0)
                break;
            uint8_t buf[4096];
            ssize_t r = read(master_, buf, sizeof buf);
            if (r > 0)
                got.insert(got.end(), buf, buf + r);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR))
                break;
        }
        return got;
    }

    // Collects n bytes through the port, waiting on Readable().
    std::vector<uint8_t> ReadAtPort(SerialPort& port, size_t n) {
        std::vector<uint8_t> got;
        Deadline deadline(kPatienceMs);
        while (got.size() < n && !deadline.Expired()) {
            int w = WaitAny({&port.Readable()}, static_cast<uint32_t>(deadline.RemainingMs()));
            if (w != 0)
                break;
            uint8_t buf[512];
            ssize_t r = port.Read(buf, sizeof buf);
            if (r < 0)
                break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    TempDir home_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

TEST_F(SerialPortTest, OpenSetsTheStationLine) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);

    termios t{};
    ASSERT_EQ(0, tcgetattr(slave_, &t));
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetispeed(&t));
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&t));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), t.c_cflag & CSIZE);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(0, t.c_cc[VMIN]);
    EXPECT_EQ(0, t.c_cc[VTIME]);

    int flags = fcntl(port->Fd(), F_GETFL);
    EXPECT_TRUE(flags & O_NONBLOCK);
    EXPECT_EQ(O_RDWR, flags & O_ACCMODE);
    EXPECT_TRUE(fcntl(port->Fd(), F_GETFD) & FD_CLOEXEC);
}

// A pseudo-terminal has no modem lines and refuses the call; only that kind
// of refusal passes.
TEST_F(SerialPortTest, LoweringModemLinesPassesOnlyALineWithoutThem) {
    EXPECT_EQ(0, LowerModemLines(slave_));
    EXPECT_EQ(EBADF, LowerModemLines(-1));
}

TEST_F(SerialPortTest, SecondOpenIsRefusedUntilTheFirstCloses) {
    auto first = OpenCom3();
    ASSERT_TRUE(first);

    int err = 0;
    EXPECT_EQ(nullptr, SerialPort::Open("COM3", home_.path(), &err));
    EXPECT_EQ(EBUSY, err);

    // The refused open must not have disturbed the holder's line.
    termios t{};
    ASSERT_EQ(0, tcgetattr(slave_, &t));
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&t));

    first.reset();
    EXPECT_TRUE(OpenCom3());
}

TEST_F(SerialPortTest, BytesTravelBothWaysUntouched) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);
    port->Purge();

    // Every byte value, including XON/XOFF, CR, LF and the interrupt
    // character, which a cooked or flow-controlled line would eat.
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);

    Event stop(Event::Mode::kManualReset, false);
    ASSERT_TRUE(port->Write(all.data(), all.size(), stop));
    EXPECT_EQ(all, ReadAtMaster(all.size()));

    ASSERT_EQ(static_cast<ssize_t>(all.size()), write(master_, all.data(), all.size()));
    EXPECT_EQ(all, ReadAtPort(*port, all.size()));
    EXPECT_FALSE(port->HungUp());
}

TEST_F(SerialPortTest, InputQueuedCountsAndPurgeDiscards) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);
    uint8_t buf[16];
    // Nothing there is zero, not a hang-up.
    EXPECT_EQ(0, port->Read(buf, sizeof buf));
    EXPECT_FALSE(port->HungUp());
    EXPECT_EQ(0, port->InputQueued());
    EXPECT_EQ(0, port->Read(buf, 0));
    const uint8_t frame[] = {0x00, 0x05, 0xFA, 0x01, 0xFE, 0xFF};
    ASSERT_EQ(6, write(master_, frame, sizeof frame));
    // One write at the master reaches the line discipline in one piece.
    ASSERT_EQ(0, WaitAny({&port->Readable()}, kPatienceMs));
    EXPECT_EQ(6, port->InputQueued());

    port->Purge();
    EXPECT_EQ(0, port->InputQueued());
    EXPECT_EQ(0, port->Read(buf, sizeof buf));
}

TEST_F(SerialPortTest, WriteWaitsForRoomAndDropsNothing) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);

    // Far more than the pty buffers, so the writer meets a full queue and
    // must wait for the station end to drain it.
    const std::vector<uint8_t> block = Pattern(512 * 1024);
    Event stop(Event::Mode::kManualReset, false);
    Event done(Event::Mode::kManualReset, false);
    bool ok = false;
    std::thread writer([&] {
        ok = port->Write(block.data(), block.size(), stop);
        done.Set();
    });
    std::vector<uint8_t> got = ReadAtMaster(block.size());
    if (!done.Wait(kPatienceMs))
        stop.Set();
    writer.join();

    EXPECT_TRUE(ok) << "errno " << port->LastError();
    ASSERT_EQ(block.size(), got.size());
    EXPECT_TRUE(block == got);
}

TEST_F(SerialPortTest, WriteOnAFullQueueEndsAtStop) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);
    Event stop(Event::Mode::kManualReset, true);
    const std::vector<uint8_t> block = Pattern(4 * 1024 * 1024);
    EXPECT_FALSE(port->Write(block.data(), block.size(), stop));
    EXPECT_EQ(ECANCELED, port->LastError());
}

TEST_F(SerialPortTest, HangUpIsAnEventNotEndlessInput) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);
    CloseMaster();

    ASSERT_EQ(0, WaitAny({&port->Readable()}, kPatienceMs));
    uint8_t buf[16];
    EXPECT_EQ(kReadHungUp, port->Read(buf, sizeof buf));
    EXPECT_TRUE(port->HungUp());
    EXPECT_EQ(kReadHungUp, port->Read(buf, sizeof buf));

    Event stop(Event::Mode::kManualReset, false);
    const uint8_t frame[] = {0x00, 0x05, 0xFA, 0xFF};
    EXPECT_FALSE(port->Write(frame, sizeof frame, stop));
    EXPECT_NE(0, port->LastError());
    EXPECT_NE(ECANCELED, port->LastError());
}

TEST_F(SerialPortTest, WriteWaitingForRoomEndsAtHangUp) {
    auto port = OpenCom3();
    ASSERT_TRUE(port);
    const std::vector<uint8_t> block = Pattern(4 * 1024 * 1024);
    Event stop(Event::Mode::kManualReset, false);
    Event done(Event::Mode::kManualReset, false);
    bool ok = true;
    std::thread writer([&] {
        ok = port->Write(block.data(), block.size(), stop);
        done.Set();
    });
    CloseMaster();
    bool endedByItself = done.Wait(kPatienceMs);
    if (!endedByItself)
        stop.Set();
    writer.join();

    EXPECT_TRUE(endedByItself) << "the writer waited on a port that had gone";
    EXPECT_FALSE(ok);
    EXPECT_NE(ECANCELED, port->LastError());
}

TEST_F(SerialPortTest, OpenFailureReportsErrno) {
    // A regular file is no terminal: the exclusivity request fails.
    ASSERT_TRUE(WriteBytes(home_ / "ports/COM5", "not a tty"));
    int err = 0;
    EXPECT_EQ(nullptr, SerialPort::Open("COM5", home_.path(), &err));
    EXPECT_EQ(ENOTTY, err);

    // A mapping to an unplugged adapter fails; it does not fall back to the
    // built-in port of the same number.
    ASSERT_EQ(0, symlink("/dev/qm-no-such-adapter", (home_ / "ports/COM1").c_str()));
    err = 0;
    EXPECT_EQ(nullptr, SerialPort::Open("COM1", home_.path(), &err));
    EXPECT_EQ(ENOENT, err);

    err = 0;
    EXPECT_EQ(nullptr, SerialPort::Open("LPT1", home_.path(), &err));
    EXPECT_EQ(ENOENT, err);
}

// What the log says of a failed open: the system's text, and what to do
// where that is known. Root opens any device, so this is told apart here.
TEST(DescribeOpenFailure, TextAndWhatToDo) {
    const std::string mapping =
        ": link /opt/qm/ports/COM3 to the device, e.g. its udev link below "
        "/dev/serial/by-id";
    const struct {
        int err;
        std::string text;
    } cases[] = {
        {EACCES, "Permission denied: add the user to the dialout group"},
        {EPERM, "Operation not permitted: add the user to the dialout group"},
        {ENOENT, "No such file or directory" + mapping},
        {ENODEV, "No such device" + mapping},
        {EBUSY, "Device or resource busy: another program holds the port"},
        {EIO, "Input/output error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeOpenFailure(c.err, "COM3", "/opt/qm"), c.text) << c.err;
    // Six bytes without a NUL are read as six bytes.
    const char field[6] = {'B', 'A', 'S', 'E', '1', '2'};
    EXPECT_NE(DescribeOpenFailure(ENOENT, field, "/q").find("/q/ports/BASE12 "), std::string::npos);
}

class ResolvePortPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(home_.path().empty());
        ASSERT_EQ(0, mkdir((home_ / "ports").c_str(), 0755));
    }
    std::string Resolve(const char* name, int* err) {
        return ResolvePortPath(name, home_.path(), err);
    }
    TempDir home_;
};

TEST_F(ResolvePortPathTest, PortsFolderEntryFirstThenComNumbersElseNotFound) {
    ASSERT_EQ(0, symlink("/dev/null", (home_ / "ports/COM3").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", (home_ / "ports/BASE1").c_str()));  // any name may be mapped
    ASSERT_TRUE(WriteBytes(home_ / "QM", "x"));
    const struct {
        const char* name;
        std::string path;  // "" : not found
    } cases[] = {
        {"COM3", home_ / "ports/COM3"},
        {"BASE1", home_ / "ports/BASE1"},
        {"com3", "/dev/ttyS2"},  // entry names are exact
        {"COM1", "/dev/ttyS0"},
        {"CoM9", "/dev/ttyS8"},
        {"com10", "/dev/ttyS9"},
        {"COM256", "/dev/ttyS255"},
        {"", ""},
        {"COM", ""},
        {"COM0", ""},
        {"COM01", ""},
        {"COM1A", ""},
        {"COMX", ""},
        {"LPT1", ""},
        {" COM1", ""},
        {"COM-1", ""},
        {"../QM", ""},
        {"..", ""},
        {".", ""},
    };
    for (const auto& c : cases) {
        int err = -1;
        EXPECT_EQ(c.path, Resolve(c.name, &err)) << c.name;
        EXPECT_EQ(c.path.empty() ? ENOENT : 0, err) << c.name;
    }
    int err = 0;
    EXPECT_EQ("", ResolvePortPath(nullptr, home_.path(), &err));
    EXPECT_EQ(ENOENT, err);
    EXPECT_EQ("", ResolvePortPath("LPT1", home_.path(), nullptr));
}

TEST_F(ResolvePortPathTest, SixByteNameWithoutNul) {
    // Exactly six bytes on the heap: reading a seventh is caught by the
    // address sanitizer.
    auto name = std::make_unique<char[]>(6);
    std::memcpy(name.get(), "COM123", 6);
    int err = -1;
    EXPECT_EQ("/dev/ttyS122", ResolvePortPath(name.get(), home_.path(), &err));
    EXPECT_EQ(0, err);

    // Bytes after the sixth are not part of the name.
    ASSERT_EQ(0, symlink("/dev/null", (home_ / "ports/BASE12").c_str()));
    const char field[8] = {'B', 'A', 'S', 'E', '1', '2', 'X', 'Y'};
    EXPECT_EQ(home_ / "ports/BASE12", ResolvePortPath(field, home_.path(), &err));
}

}  // namespace
}  // namespace qm::test
