// The outbox against a window that stops reading: a raw socket bound at the
// window's path that the test reads only when it chooses.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/outbox.h"
#include "tests/ipc/ipc_test_util.h"

namespace qm::test {
namespace {

constexpr uint32_t kNotice = 1280;
constexpr int kWaitMs = 5000;  // generous: only a broken build waits this long

struct Counted {
    explicit Counted(std::atomic<int>* released) : released_(released) {}
    ~Counted() { released_->fetch_add(1); }
    std::atomic<int>* released_;
};

class OutboxTest : public IpcTest {
  protected:
    void SetUp() override {
        IpcTest::SetUp();
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    }
    void TearDown() override {
        for (int fd : receivers_) close(fd);
    }
    std::string PathOf(WindowHandle handle) const {
        return runtime_ + "/hwnd-" + std::to_string(handle);
    }
    // A window of "another process" that reads only when the test does.
    int Receiver(WindowHandle handle) {
        const int fd = BindRaw(PathOf(handle));
        EXPECT_GE(fd, 0);
        receivers_.push_back(fd);
        return fd;
    }
    std::unique_ptr<Outbox> Make(WindowHandle target, size_t capacity = kOutboxCapacity,
                                 Outbox::SentHook hook = nullptr) {
        int err = 0;
        auto box = Outbox::Create(target, capacity, std::move(hook), &err);
        EXPECT_TRUE(box) << std::strerror(err);
        return box;
    }
    // The lParams of the datagrams the receiver gets: `count` of them, or
    // fewer when they stop coming within kWaitMs; then whatever else comes
    // at once, which is nothing when all went well.
    static std::vector<int64_t> ReadAll(int fd, size_t count) {
        std::vector<int64_t> got;
        const int64_t end = MonotonicMs() + kWaitMs;
        for (;;) {
            const int64_t left = got.size() < count ? std::max<int64_t>(0, end - MonotonicMs()) : 0;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                return got;
            uint8_t wire[kWindowWireSize];
            WindowMessage m;
            if (recv(fd, wire, sizeof wire, 0) != static_cast<ssize_t>(sizeof wire) ||
                !DecodeWindowMessage(wire, sizeof wire, &m))
                return got;
            got.push_back(m.lParam);
        }
    }
    // Posts lParam first, first + 1, ... until the outbox holds `queued`.
    static int64_t FillUntilQueued(Outbox& box, size_t queued, int64_t first = 0) {
        int64_t next = first;
        while (box.Queued() < queued && next - first < 100000)
            EXPECT_TRUE(box.Post(kNotice, 0, next++));
        return next;
    }
    static std::vector<int64_t> Range(int64_t from, int64_t to) {
        std::vector<int64_t> v;
        for (int64_t i = from; i < to; ++i) v.push_back(i);
        return v;
    }

    ScopedCwd cwd_{base_};  // QMLog.txt of each test apart
    std::vector<int> receivers_;
};

TEST_F(OutboxTest, PostsToAWindowThatStoppedReadingReturnAtOnceAndAllArriveInOrder) {
    const int fd = Receiver(5001);
    auto box = Make(5001);
    ASSERT_TRUE(box);
    // Far more than the window's socket holds; a post that waited for room
    // would take seconds here, a post that failed would lose them.
    constexpr int64_t kPosts = 300;
    const int64_t start = MonotonicMs();
    for (int64_t i = 0; i < kPosts; ++i) ASSERT_TRUE(box->Post(kNotice, 0, i)) << i;
    const int64_t took = MonotonicMs() - start;
    EXPECT_LT(took, 2000) << "posts must not wait for the window";
    EXPECT_GT(box->Queued(), 0u);
    EXPECT_EQ(ReadAll(fd, kPosts), Range(0, kPosts));
    EXPECT_EQ(box->Queued(), 0u);
    // Once it has room again a post goes out at once.
    ASSERT_TRUE(box->Post(kNotice, 0, kPosts));
    EXPECT_EQ(ReadAll(fd, 1), Range(kPosts, kPosts + 1));
}

TEST_F(OutboxTest, BeyondItsCapacityAPostIsRefusedAndTheStretchIsLoggedOnce) {
    const int fd = Receiver(5002);
    auto box = Make(5002, 4);
    ASSERT_TRUE(box);
    const int64_t accepted = FillUntilQueued(*box, 4);
    std::atomic<int> released{0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(box->Post(kNotice, 0, -1, std::make_shared<Counted>(&released)));
        EXPECT_EQ(errno, ENOBUFS);
    }
    EXPECT_EQ(released.load(), 3) << "a refused post keeps nothing";
    EXPECT_EQ(CountLogLines("Window 5002 busy: 4 messages waiting, further ones refused"), 1);
    // The oldest were kept: everything accepted arrives, nothing refused.
    EXPECT_EQ(ReadAll(fd, accepted), Range(0, accepted));
    ASSERT_TRUE(WaitUntil([] { return CountLogLines("messages refused while") == 1; }, kWaitMs));
    EXPECT_EQ(CountLogLines("Window 5002: 3 messages refused while it was busy"), 1);
    EXPECT_EQ(CountLogLines("busy: 4 messages waiting"), 1);
}

TEST_F(OutboxTest, StopWithAFullQueueIsPromptAndDropsWhatWaits) {
    Receiver(5003);
    auto box = Make(5003, 100);
    ASSERT_TRUE(box);
    std::atomic<int> released{0};
    while (box->Queued() < 100)
        ASSERT_TRUE(box->Post(kNotice, 0, 0, std::make_shared<Counted>(&released)));
    const int sent = released.load();  // released at once: no hook keeps them
    const int64_t start = MonotonicMs();
    box->Stop();
    const int64_t took = MonotonicMs() - start;
    EXPECT_LT(took, 1000) << "a stop never waits for the window";
    EXPECT_EQ(released.load(), sent + 100);
    EXPECT_EQ(CountLogLines("Window 5003 stopping: 100 waiting messages dropped"), 1);
    EXPECT_FALSE(box->Post(kNotice, 0, 0));
    EXPECT_EQ(errno, ESHUTDOWN);
    box.reset();
    EXPECT_EQ(CountLogLines("dropped"), 1) << "the second stop drops nothing more";
}

TEST_F(OutboxTest, AWindowThatDoesNotExistFailsThePostAtOnce) {
    auto box = Make(5004);
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->Post(kNotice, 0, 1));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(MakeStaleSocket(PathOf(5004)));
    EXPECT_FALSE(box->Post(kNotice, 0, 1));
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_FALSE(WindowExists(5004));
    EXPECT_EQ(errno, ECONNREFUSED);
    auto invalid = Make(0);
    ASSERT_TRUE(invalid);
    EXPECT_FALSE(invalid->Post(kNotice, 0, 1));
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(OutboxTest, AWindowThatEndsWithMessagesWaitingDropsThemAndAStartedOneIsReached) {
    const std::string path = PathOf(5005);
    const int fd = Receiver(5005);
    auto box = Make(5005);
    ASSERT_TRUE(box);
    FillUntilQueued(*box, 5);
    EXPECT_TRUE(WindowExists(5005));
    // The window's process ends, its socket file left behind.
    close(fd);
    receivers_.clear();
    ASSERT_TRUE(WaitUntil([&] { return box->Queued() == 0; }, kWaitMs));
    EXPECT_EQ(CountLogLines("Window 5005 cannot be reached (111): 5 waiting messages dropped"), 1);
    EXPECT_FALSE(box->Post(kNotice, 0, 9));
    EXPECT_EQ(errno, ECONNREFUSED);
    // A new window under the same handle.
    ASSERT_EQ(unlink(path.c_str()), 0);
    const int again = Receiver(5005);
    ASSERT_TRUE(box->Post(kNotice, 0, 10));
    EXPECT_EQ(ReadAll(again, 1), Range(10, 11));
}

TEST_F(OutboxTest, TheSentHookGetsEachKeptPayloadInTheOrderOfSending) {
    const int fd = Receiver(5006);
    std::vector<int64_t> hooked;
    auto box = Make(5006, kOutboxCapacity, [&](std::shared_ptr<void> keep) {
        hooked.push_back(*static_cast<int64_t*>(keep.get()));
    });
    ASSERT_TRUE(box);
    constexpr int64_t kPosts = 40;
    for (int64_t i = 0; i < kPosts; ++i)
        ASSERT_TRUE(box->Post(kNotice, 0, i, std::make_shared<int64_t>(i)));
    EXPECT_EQ(ReadAll(fd, kPosts), Range(0, kPosts));
    box->Stop();  // the hook's vector is read after the outbox's thread has ended
    EXPECT_EQ(hooked, Range(0, kPosts));
}

TEST_F(OutboxTest, AWindowOfThisProcessGetsThePayloadStraightInItsQueue) {
    int err = 0;
    auto window = MessageWindow::Create(5007, &err);
    ASSERT_TRUE(window) << std::strerror(err);
    bool hooked = false;
    auto box = Make(5007, kOutboxCapacity, [&](std::shared_ptr<void>) { hooked = true; });
    ASSERT_TRUE(box);
    ASSERT_TRUE(box->Post(kNotice, 3, 4, std::make_shared<int>(5)));
    WindowMessage m;
    ASSERT_TRUE(window->PeekMessage(&m)) << "queued within the post, no thread between";
    EXPECT_EQ(m.lParam, 4);
    ASSERT_TRUE(m.payload);
    EXPECT_EQ(*static_cast<int*>(m.payload.get()), 5);
    EXPECT_FALSE(hooked);
    EXPECT_TRUE(WindowExists(5007));
}

}  // namespace
}  // namespace qm::test
