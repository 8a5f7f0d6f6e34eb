// Window messages within the process and between real processes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/window_message.h"
#include "tests/ipc/ipc_test_util.h"

namespace qm::test {
namespace {

constexpr uint32_t kWmPosNotice = 1280;
constexpr uint32_t kWmRequestReceived = 1536;
constexpr uint32_t kWmTrayNotify = 1025;
constexpr uint32_t kWaitMs = 5000;  // generous: only a broken build waits this long

class WindowMessageTest : public IpcTest {
  protected:
    std::string SocketPath(qm::WindowHandle handle) const {
        return runtime_ + "/hwnd-" + std::to_string(handle);
    }
    std::unique_ptr<qm::MessageWindow> MakeWindow(qm::WindowHandle handle) {
        int err = 0;
        auto window = qm::MessageWindow::Create(handle, &err);
        EXPECT_NE(window, nullptr) << std::strerror(err);
        return window;
    }
    // The runtime folder, made as the code under test would make it.
    void MakeRuntime() { ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0); }
};

// Counts its releases, to show that a payload is released exactly once.
struct Counted {
    explicit Counted(std::atomic<int>* released) : released_(released) {}
    ~Counted() { released_->fetch_add(1); }
    std::atomic<int>* released_;
};

std::shared_ptr<void> CountedPayload(std::atomic<int>* released) {
    return std::make_shared<Counted>(released);
}

std::string Line(uint32_t message, uint64_t wParam, int64_t lParam) {
    return std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam);
}

// ---- the datagram ----

TEST(WindowWireTest, LayoutIsALittleEndianRecordOf24Bytes) {
    uint8_t wire[qm::kWindowWireSize];
    qm::EncodeWindowMessage(0x600, 0x0102030405060708ull, -2, wire);
    const uint8_t expected[24] = {0x00, 0x06, 0x00, 0x00, 0,    0,    0,    0,
                                  0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
                                  0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(wire, expected, sizeof expected), 0);

    qm::WindowMessage back;
    ASSERT_TRUE(qm::DecodeWindowMessage(wire, sizeof wire, &back));
    EXPECT_EQ(back.message, 0x600u);
    EXPECT_EQ(back.wParam, 0x0102030405060708ull);
    EXPECT_EQ(back.lParam, -2);
}

TEST(WindowWireTest, HandlesArePositiveAndBelowTwoToThe31) {
    EXPECT_FALSE(qm::ValidWindowHandle(0));
    EXPECT_TRUE(qm::ValidWindowHandle(1));
    EXPECT_TRUE(qm::ValidWindowHandle(0x7FFFFFFF));
    EXPECT_FALSE(qm::ValidWindowHandle(0x80000000u));
}

// ---- within the process ----

TEST_F(WindowMessageTest, CreateRefusesInvalidHandlesAndOnesInUse) {
    int err = 0;
    EXPECT_EQ(qm::MessageWindow::Create(0, &err), nullptr);
    EXPECT_EQ(err, EINVAL);
    EXPECT_EQ(qm::MessageWindow::Create(0x80000000u, &err), nullptr);
    EXPECT_EQ(err, EINVAL);
    EXPECT_FALSE(qm::PostMessage(0, kWmPosNotice, 0, 0));
    EXPECT_EQ(errno, EINVAL);
    // A second window with a handle in use.
    auto window = MakeWindow(4005);
    ASSERT_TRUE(window);
    EXPECT_EQ(qm::MessageWindow::Create(4005, &err), nullptr);
    EXPECT_EQ(err, EEXIST);
}

TEST_F(WindowMessageTest, PostsWithinTheProcessArriveInOrder) {
    auto window = MakeWindow(4001);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Handle(), 4001u);
    EXPECT_TRUE(qm::PostMessage(4001, kWmPosNotice, 0, 3));
    EXPECT_TRUE(qm::PostMessage(4001, kWmTrayNotify, 3000, 515));
    EXPECT_TRUE(qm::PostMessage(4001, kWmPosNotice, 0, 12));
    EXPECT_EQ(window->Pending(), 3u);

    qm::WindowMessage msg;
    ASSERT_TRUE(window->GetMessage(&msg, 0));
    EXPECT_EQ(Line(msg.message, msg.wParam, msg.lParam), Line(kWmPosNotice, 0, 3));
    ASSERT_TRUE(window->PeekMessage(&msg));
    EXPECT_EQ(Line(msg.message, msg.wParam, msg.lParam), Line(kWmTrayNotify, 3000, 515));
    ASSERT_TRUE(window->GetMessage(&msg, kWaitMs));
    EXPECT_EQ(Line(msg.message, msg.wParam, msg.lParam), Line(kWmPosNotice, 0, 12));
    EXPECT_FALSE(window->PeekMessage(&msg));
}

TEST_F(WindowMessageTest, QueueReadyIsSetExactlyWhileMessagesWait) {
    auto window = MakeWindow(4003);
    ASSERT_TRUE(window);
    const qm::Waitable& ready = window->QueueReady();
    EXPECT_EQ(qm::WaitAny({&ready}, 0), qm::kWaitTimeout);
    ASSERT_TRUE(qm::PostMessage(4003, kWmPosNotice, 0, 1));
    ASSERT_TRUE(qm::PostMessage(4003, kWmPosNotice, 0, 2));
    // Waiting on it takes nothing: it stays set for a main loop to see again.
    EXPECT_EQ(qm::WaitAny({&ready}, 0), 0);
    EXPECT_EQ(qm::WaitAny({&ready}, 0), 0);
    qm::WindowMessage msg;
    ASSERT_TRUE(window->PeekMessage(&msg));
    EXPECT_EQ(qm::WaitAny({&ready}, 0), 0);
    ASSERT_TRUE(window->PeekMessage(&msg));
    EXPECT_EQ(qm::WaitAny({&ready}, 0), qm::kWaitTimeout);
}

TEST_F(WindowMessageTest, PostToAWindowThatDoesNotExistFails) {
    MakeRuntime();
    EXPECT_FALSE(qm::PostMessage(4006, kWmPosNotice, 0, 1));
    EXPECT_EQ(errno, ENOENT);
    // A socket file left by a window that ended without removing it.
    ASSERT_TRUE(qm::test::MakeStaleSocket(SocketPath(4006)));
    EXPECT_FALSE(qm::PostMessage(4006, kWmPosNotice, 0, 1));
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST_F(WindowMessageTest, APayloadIsReleasedExactlyOnceWhateverHappens) {
    std::atomic<int> released{0};
    {
        auto window = MakeWindow(4007);
        ASSERT_TRUE(window);

        // Handled: released when the handler's message goes.
        ASSERT_TRUE(qm::PostMessage(4007, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        EXPECT_EQ(released.load(), 0);
        {
            qm::WindowMessage msg;
            ASSERT_TRUE(window->GetMessage(&msg, 0));
            EXPECT_NE(msg.payload, nullptr);
            EXPECT_EQ(released.load(), 0);
        }
        EXPECT_EQ(released.load(), 1);

        // Taking the next message into the same record releases the old one.
        ASSERT_TRUE(qm::PostMessage(4007, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        ASSERT_TRUE(qm::PostMessage(4007, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        {
            qm::WindowMessage msg;
            ASSERT_TRUE(window->GetMessage(&msg, 0));
            ASSERT_TRUE(window->GetMessage(&msg, 0));
            EXPECT_EQ(released.load(), 2);
        }
        EXPECT_EQ(released.load(), 3);

        // Dropped: a window that does not exist.
        EXPECT_FALSE(qm::PostMessage(4999, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        EXPECT_EQ(released.load(), 4);

        // Left in the queue: released when the window ends.
        ASSERT_TRUE(qm::PostMessage(4007, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        ASSERT_TRUE(qm::PostMessage(4007, kWmRequestReceived, 1, 2, CountedPayload(&released)));
        EXPECT_EQ(released.load(), 4);
    }
    EXPECT_EQ(released.load(), 6);
}

TEST_F(WindowMessageTest, APayloadNeverLeavesTheProcess) {
    MakeRuntime();
    // A window of "another process": a socket no window of ours is behind.
    const int fd = qm::test::BindRaw(SocketPath(4008));
    ASSERT_GE(fd, 0);
    std::atomic<int> released{0};
    EXPECT_FALSE(qm::PostMessage(4008, kWmRequestReceived, 1, 2, CountedPayload(&released)));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(released.load(), 1);
    uint8_t buffer[64];
    EXPECT_LT(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 0);  // nothing was sent
    close(fd);
}

TEST_F(WindowMessageTest, AFullQueueRefusesPostsUntilItHasRoom) {
    auto window = MakeWindow(4009);
    ASSERT_TRUE(window);
    for (size_t i = 0; i < qm::kWindowQueueCap; ++i) {
        ASSERT_TRUE(qm::PostMessage(4009, kWmPosNotice, 0, static_cast<int64_t>(i)));
    }
    std::atomic<int> released{0};
    EXPECT_FALSE(qm::PostMessage(4009, kWmRequestReceived, 1, 2, CountedPayload(&released)));
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(released.load(), 1);

    qm::WindowMessage msg;
    ASSERT_TRUE(window->PeekMessage(&msg));
    EXPECT_EQ(msg.lParam, 0);
    EXPECT_TRUE(qm::PostMessage(4009, kWmPosNotice, 0, -1));
    EXPECT_EQ(window->Pending(), qm::kWindowQueueCap);
}

// ---- the socket file ----

TEST_F(WindowMessageTest, TheSocketFileLivesAsLongAsTheWindow) {
    {
        auto window = MakeWindow(4010);
        ASSERT_TRUE(window);
        EXPECT_TRUE(qm::test::PathExists(SocketPath(4010)));
    }
    EXPECT_FALSE(qm::test::PathExists(SocketPath(4010)));
    EXPECT_FALSE(qm::PostMessage(4010, kWmPosNotice, 0, 1));
}

TEST_F(WindowMessageTest, AStaleSocketFileIsReplaced) {
    MakeRuntime();
    const std::string path = SocketPath(4011);
    ASSERT_TRUE(qm::test::MakeStaleSocket(path));
    ASSERT_EQ(qm::test::SendRaw(path, "x", 1), ECONNREFUSED);
    auto window = MakeWindow(4011);
    ASSERT_TRUE(window);

    // The file is the window's socket now (the file system may well give it
    // the old inode number): a datagram sent by hand arrives.
    uint8_t wire[qm::kWindowWireSize];
    qm::EncodeWindowMessage(kWmPosNotice, 0, 5, wire);
    ASSERT_EQ(qm::test::SendRaw(path, wire, sizeof wire), 0);
    qm::WindowMessage msg;
    ASSERT_TRUE(window->GetMessage(&msg, kWaitMs));
    EXPECT_EQ(msg.lParam, 5);

    // So is a file left over that is no socket at all.
    std::ofstream(SocketPath(4012)) << "left over";
    EXPECT_TRUE(MakeWindow(4012));
}

TEST_F(WindowMessageTest, ALiveSocketIsNeverTaken) {
    MakeRuntime();
    const std::string path = SocketPath(4013);
    const int owner = qm::test::BindRaw(path);
    ASSERT_GE(owner, 0);
    const ino_t live = qm::test::InodeOf(path);
    int err = 0;
    EXPECT_EQ(qm::MessageWindow::Create(4013, &err), nullptr);
    EXPECT_EQ(err, EADDRINUSE);
    EXPECT_EQ(qm::test::InodeOf(path), live);
    close(owner);
}

TEST_F(WindowMessageTest, AnEndingWindowLeavesAPathThatIsNoLongerItsOwn) {
    auto window = MakeWindow(4014);
    ASSERT_TRUE(window);
    const std::string path = SocketPath(4014);
    ASSERT_EQ(unlink(path.c_str()), 0);
    const int other = qm::test::BindRaw(path);
    ASSERT_GE(other, 0);
    const ino_t theirs = qm::test::InodeOf(path);
    window.reset();
    EXPECT_EQ(qm::test::InodeOf(path), theirs);
    close(other);
}

// ---- datagrams by hand: a misbehaving peer ----

TEST_F(WindowMessageTest, DatagramsOfTheWrongSizeAreDropped) {
    auto window = MakeWindow(4015);
    ASSERT_TRUE(window);
    const std::string path = SocketPath(4015);
    uint8_t bytes[1000] = {};
    qm::EncodeWindowMessage(kWmPosNotice, 0, 99, bytes);  // a valid start, but too long
    ASSERT_EQ(qm::test::SendRaw(path, bytes, 23), 0);
    ASSERT_EQ(qm::test::SendRaw(path, bytes, 25), 0);
    ASSERT_EQ(qm::test::SendRaw(path, bytes, 0), 0);
    ASSERT_EQ(qm::test::SendRaw(path, bytes, sizeof bytes), 0);
    uint8_t wire[qm::kWindowWireSize];
    qm::EncodeWindowMessage(kWmPosNotice, 7, 8, wire);
    ASSERT_EQ(qm::test::SendRaw(path, wire, sizeof wire), 0);

    // The receiver reads in order, so once the good one is in, the bad ones
    // before it have been judged.
    qm::WindowMessage msg;
    ASSERT_TRUE(window->GetMessage(&msg, kWaitMs));
    EXPECT_EQ(Line(msg.message, msg.wParam, msg.lParam), Line(kWmPosNotice, 7, 8));
    EXPECT_EQ(window->Pending(), 0u);
}

TEST_F(WindowMessageTest, DatagramsFromAnotherUserAreDropped) {
    if (geteuid() != 0)
        GTEST_SKIP() << "sending as another user needs root";
    auto window = MakeWindow(4016);
    ASSERT_TRUE(window);
    const std::string path = SocketPath(4016);
    uint8_t foreign[qm::kWindowWireSize];
    qm::EncodeWindowMessage(kWmPosNotice, 0, 666, foreign);

    ASSERT_EQ(qm::test::SendRawAsAnotherUser(path, foreign, sizeof foreign), 0);

    uint8_t ours[qm::kWindowWireSize];
    qm::EncodeWindowMessage(kWmPosNotice, 0, 1, ours);
    ASSERT_EQ(qm::test::SendRaw(path, ours, sizeof ours), 0);
    qm::WindowMessage msg;
    ASSERT_TRUE(window->GetMessage(&msg, kWaitMs));
    EXPECT_EQ(msg.lParam, 1);
    EXPECT_EQ(window->Pending(), 0u);
}

TEST_F(WindowMessageTest, AFullQueueHoldsOtherProcessesBackWithoutLosingAnything) {
    auto window = MakeWindow(4017);
    ASSERT_TRUE(window);
    for (size_t i = 0; i < qm::kWindowQueueCap; ++i) {
        ASSERT_TRUE(qm::PostMessage(4017, kWmPosNotice, 0, 0));
    }
    // The receiver stops reading, so the socket's own queue fills and a
    // sender is told so (EAGAIN) instead of having its message thrown away.
    const std::string path = SocketPath(4017);
    int accepted = 0;
    int refusal = 0;
    for (int i = 0; i < 100000 && refusal == 0; ++i) {
        uint8_t wire[qm::kWindowWireSize];
        qm::EncodeWindowMessage(kWmPosNotice, 1, accepted + 1, wire);
        refusal = qm::test::SendRaw(path, wire, sizeof wire);
        if (refusal == 0)
            ++accepted;
    }
    ASSERT_EQ(refusal, EAGAIN);
    ASSERT_GT(accepted, 0);

    // Every message accepted arrives, in order, once the window reads again.
    qm::WindowMessage msg;
    for (size_t i = 0; i < qm::kWindowQueueCap; ++i) {
        ASSERT_TRUE(window->PeekMessage(&msg));
        ASSERT_EQ(msg.wParam, 0u);
    }
    for (int i = 1; i <= accepted; ++i) {
        ASSERT_TRUE(window->GetMessage(&msg, kWaitMs)) << "lost message " << i;
        EXPECT_EQ(msg.wParam, 1u);
        EXPECT_EQ(msg.lParam, i);
    }
    EXPECT_FALSE(window->GetMessage(&msg, 0));
}

TEST_F(WindowMessageTest, AWaitingPostWaitsForAStalledReceiverAndGivesUpInTime) {
    MakeRuntime();
    const std::string path = SocketPath(4019);
    const int fd = qm::test::BindRaw(path);  // a receiver that has stopped reading
    ASSERT_GE(fd, 0);
    uint8_t wire[qm::kWindowWireSize];
    qm::EncodeWindowMessage(kWmPosNotice, 0, 0, wire);
    int queued = 0;
    while (qm::test::SendRaw(path, wire, sizeof wire) == 0 && queued < 100000) ++queued;
    ASSERT_GT(queued, 0);

    EXPECT_FALSE(qm::PostMessage(4019, kWmPosNotice, 0, 7));
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_FALSE(qm::PostMessageWithin(4019, kWmPosNotice, 0, 7, 50));
    EXPECT_EQ(errno, EAGAIN);

    // It is still waiting while nothing is read, and gets through once the
    // receiver reads again.
    auto post = std::async(std::launch::async,
                           [] { return qm::PostMessageWithin(4019, kWmPosNotice, 0, 7, kWaitMs); });
    EXPECT_EQ(post.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    qm::WindowMessage last;
    for (int i = 0; i <= queued; ++i) {
        const ssize_t n = recv(fd, wire, sizeof wire, 0);
        ASSERT_EQ(n, static_cast<ssize_t>(sizeof wire)) << i;
        ASSERT_TRUE(qm::DecodeWindowMessage(wire, sizeof wire, &last));
    }
    EXPECT_TRUE(post.get());
    EXPECT_EQ(last.lParam, 7);
    close(fd);
}

// ---- two real processes ----

TEST_F(WindowMessageTest, PostsFromOtherProcessesArriveWhileTheWindowIsBusy) {
    // The window is not read while more separate senders post than the
    // socket's own queue holds (net.unix.max_dgram_qlen, often 10): this
    // passes only because the receiver thread drains it at once.
    auto window = MakeWindow(4018);
    ASSERT_TRUE(window);
    const std::vector<std::pair<std::vector<std::string>, std::string>> posts = {
        {{"4018", "1280", "7", "-3"}, Line(kWmPosNotice, 7, -3)},
        {{"4018", "4294967295", "18446744073709551615", "-9223372036854775808"},
         Line(UINT32_MAX, UINT64_MAX, INT64_MIN)},
        {{"4018", "0x401", "0xBB8", "0x203"}, Line(kWmTrayNotify, 3000, 515)},
    };
    constexpr size_t kSenders = 15;
    for (size_t i = 0; i < kSenders; ++i) {
        std::string err;
        ASSERT_EQ(qm::test::RunQmPost(posts[i % posts.size()].first, &err), 0) << i << ": " << err;
    }
    qm::WindowMessage msg;
    for (size_t i = 0; i < kSenders; ++i) {
        ASSERT_TRUE(window->GetMessage(&msg, kWaitMs)) << i;
        EXPECT_EQ(Line(msg.message, msg.wParam, msg.lParam), posts[i % posts.size()].second);
        EXPECT_EQ(msg.payload, nullptr);
    }
}

}  // namespace
}  // namespace qm::test
