#include "platform/event.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace qm::test {
namespace {

constexpr uint32_t kPatienceMs = 10000;

// Counts the threads an event has released and lets the test wait, with a
// deadline, for the count to reach a value.
class ReleaseCounter {
  public:
    void Add() {
        std::lock_guard<std::mutex> hold(lock_);
        ++count_;
        changed_.notify_all();
    }
    bool WaitFor(int n) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(kPatienceMs),
                                 [&] { return count_ >= n; });
    }
    int Count() {
        std::lock_guard<std::mutex> hold(lock_);
        return count_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

// Threads that each wait once on an event (bounded) and report a release.
class Waiters {
  public:
    Waiters(const Event& event, int n) {
        for (int i = 0; i < n; ++i) {
            threads_.emplace_back([this, &event] {
                if (event.Wait(kPatienceMs))
                    released_.Add();
            });
        }
    }
    ~Waiters() {
        for (auto& t : threads_) t.join();
    }
    ReleaseCounter& Released() { return released_; }

  private:
    ReleaseCounter released_;
    std::vector<std::thread> threads_;
};

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
    constexpr int kThreads = 4;
    Event ev(Event::Mode::kAutoReset, false);
    Waiters waiters(ev, kThreads);
    for (int set = 1; set <= kThreads; ++set) {
        ev.Set();
        ASSERT_TRUE(waiters.Released().WaitFor(set));
        // Taken by the released thread, so it cannot release another one.
        EXPECT_FALSE(ev.IsSet());
        EXPECT_EQ(set, waiters.Released().Count());
    }
}

TEST(EventTest, AutoResetIsConsumedOnceWhateverTheNumberOfSets) {
    Event ev(Event::Mode::kAutoReset, false);
    EXPECT_FALSE(ev.Wait(0));
    ev.Set();
    ev.Set();
    EXPECT_TRUE(ev.IsSet());
    EXPECT_TRUE(ev.IsSet()) << "looking must not take it";
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));

    Event initially(Event::Mode::kAutoReset, true);
    EXPECT_TRUE(initially.Wait(0));
    EXPECT_FALSE(initially.Wait(0));

    ev.Set();
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));
}

TEST(EventTest, ManualResetReleasesAllAndStaysSet) {
    constexpr int kThreads = 4;
    Event ev(Event::Mode::kManualReset, false);
    {
        Waiters waiters(ev, kThreads);
        ev.Set();
        ASSERT_TRUE(waiters.Released().WaitFor(kThreads));
    }
    EXPECT_TRUE(ev.IsSet());
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.Wait(0));
    ev.Reset();
    EXPECT_FALSE(ev.IsSet());
    EXPECT_FALSE(ev.Wait(0));

    Event initially(Event::Mode::kManualReset, true);
    EXPECT_TRUE(initially.Wait(0));
    EXPECT_TRUE(initially.Wait(0));
}

TEST(EventTest, SetFromAnotherThreadEndsAWait) {
    Event ev(Event::Mode::kAutoReset, false);
    Event other(Event::Mode::kManualReset, false);
    std::thread setter([&] { ev.Set(); });
    EXPECT_EQ(0, WaitAny({&ev, &other}, kPatienceMs));
    setter.join();
}

TEST(WaitAnyTest, FirstInOrderWinsAndOthersStaySet) {
    Event a(Event::Mode::kAutoReset, false);
    Event b(Event::Mode::kAutoReset, false);
    Event c(Event::Mode::kAutoReset, false);
    a.Set();
    c.Set();
    EXPECT_EQ(0, WaitAny({&a, &b, &c}, kPatienceMs));
    EXPECT_FALSE(a.IsSet());
    EXPECT_TRUE(c.IsSet()) << "an event not reported must not be taken";
    EXPECT_EQ(2, WaitAny({&a, &b, &c}, kPatienceMs));
    EXPECT_EQ(kWaitTimeout, WaitAny({&a, &b, &c}, 0));
    // A manual-reset event stays set when it is the one reported.
    Event manual(Event::Mode::kManualReset, true);
    EXPECT_EQ(1, WaitAny({&a, &manual, &c}, kPatienceMs));
    EXPECT_TRUE(manual.IsSet());
}

TEST(WaitAnyTest, TimeOutIsHonoured) {
    Event a(Event::Mode::kAutoReset, false);
    Event b(Event::Mode::kManualReset, false);
    const int64_t start = MonotonicMs();
    EXPECT_EQ(kWaitTimeout, WaitAny({&a, &b}, 60));
    EXPECT_GE(MonotonicMs() - start, 60);

    const int64_t again = MonotonicMs();
    EXPECT_FALSE(a.Wait(30));
    EXPECT_GE(MonotonicMs() - again, 30);

    EXPECT_EQ(kWaitTimeout, WaitAny({&a, &b}, 0));
}

TEST(WaitAnyTest, DescriptorsReadyAndHungUp) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ReadableFd readable(fds[0]);
    Event ev(Event::Mode::kAutoReset, false);

    EXPECT_EQ(kWaitTimeout, WaitAny({&ev, &readable}, 0));
    ASSERT_EQ(1, write(fds[1], "x", 1));
    EXPECT_EQ(1, WaitAny({&ev, &readable}, kPatienceMs));
    EXPECT_EQ(1, WaitAny({&ev, &readable}, kPatienceMs)) << "waiting consumes nothing";
    char c;
    ASSERT_EQ(1, read(fds[0], &c, 1));
    EXPECT_EQ(kWaitTimeout, WaitAny({&ev, &readable}, 0));

    // The writer gone: hang-up counts as ready so the waiter can act on it.
    close(fds[1]);
    EXPECT_EQ(1, WaitAny({&ev, &readable}, kPatienceMs));
    close(fds[0]);
}

TEST(WaitAnyTest, ClosedDescriptorFails) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    close(fds[0]);
    close(fds[1]);
    ReadableFd stale(fds[0]);
    EXPECT_EQ(kWaitFailed, WaitAny({&stale}, kPatienceMs));
}

TEST(EventTest, InProcessEventsTakeNoDescriptorAndHaveDistinctHandles) {
    const int before = open("/dev/null", O_RDONLY);
    close(before);
    Event inProcess(Event::Mode::kAutoReset, false, Event::Reach::kInProcess);
    const int after = open("/dev/null", O_RDONLY);
    close(after);
    EXPECT_EQ(after, before) << "an in-process event must not hold a descriptor";
    EXPECT_TRUE(inProcess.Valid());

    // The descriptor of an event that has one is readable exactly while it
    // is set, however the event was taken.
    Event withFd(Event::Mode::kAutoReset, false);
    const ReadableFd fd(withFd.WaitFd());
    withFd.Set();
    EXPECT_EQ(0, WaitAny({&fd}, 0));
    EXPECT_TRUE(withFd.Wait(0));
    EXPECT_EQ(kWaitTimeout, WaitAny({&fd}, 0));

    // A wait that mixes an in-process event with a descriptor cannot work.
    EXPECT_EQ(kWaitFailed, WaitAny({&inProcess, &fd}, 0));
    EXPECT_NE(inProcess.Handle(), withFd.Handle());
}

}  // namespace
}  // namespace qm::test
