// Named events between processes, as the close watcher and the
// single-instance rule use them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/named_event.h"
#include "platform/window_message.h"
#include "tests/ipc/ipc_test_util.h"

namespace qm::test {
namespace {

constexpr uint32_t kWaitMs = 5000;
const char kMutexName[] = "__QM_MUTEXT";

class NamedEventTest : public IpcTest {
  protected:
    std::string EventPath(const std::string& name) const { return runtime_ + "/event-" + name; }
    std::unique_ptr<qm::NamedEventListener> Listen(const std::string& name) {
        int err = 0;
        auto listener = qm::NamedEventListener::Create(name, never_, &err);
        EXPECT_NE(listener, nullptr) << std::strerror(err);
        return listener;
    }
    void MakeRuntime() { ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0); }

    const qm::Event never_{qm::Event::Mode::kManualReset, false};
};

// Creates a listener on another thread, so that the test can watch it wait
// for a live owner. Create() returns into `result`; `done` is set then. The
// wait ends at Stop(), and at the latest when the object goes, so a test
// that fails never hangs.
class ListenerInThread {
  public:
    explicit ListenerInThread(const std::string& name)
        : thread_([this, name] {
              result_ = qm::NamedEventListener::Create(name, stop_, &err_, &holding_);
              done_.Set();
          }) {}
    ~ListenerInThread() {
        stop_.Set();
        if (thread_.joinable())
            thread_.join();
    }
    void Stop() { stop_.Set(); }
    const qm::Event& Holding() const { return holding_; }
    // Waits for Create() to return; false when it did not in time.
    bool Finish(uint32_t timeoutMs) {
        if (!done_.Wait(timeoutMs))
            return false;
        thread_.join();
        return true;
    }
    std::unique_ptr<qm::NamedEventListener>& Result() { return result_; }
    int Error() const { return err_; }

  private:
    qm::Event stop_{qm::Event::Mode::kManualReset, false};
    qm::Event holding_{qm::Event::Mode::kManualReset, false};
    qm::Event done_{qm::Event::Mode::kManualReset, false};
    std::unique_ptr<qm::NamedEventListener> result_;
    int err_ = 0;
    std::thread thread_;
};

TEST_F(NamedEventTest, ASetFromAnotherProcessWakesTheListener) {
    auto listener = Listen(kMutexName);
    ASSERT_TRUE(listener);
    EXPECT_FALSE(listener->Wait(0));
    EXPECT_EQ(listener->LastSetter(), 0u);

    // The close watcher's wait: the named event, or its own stop event.
    std::atomic<int> woken{-3};
    std::thread watcher([&] { woken = qm::WaitAny({listener.get(), &never_}, kWaitMs); });
    auto setter = qm::test::SpawnQmPost({"--set-event", kMutexName});
    ASSERT_TRUE(setter);
    EXPECT_EQ(setter->WaitExit(10000), 0) << setter->Stderr();
    watcher.join();
    EXPECT_EQ(woken.load(), 0);
    // The kernel's stamp on the datagram names the process that set it.
    EXPECT_EQ(listener->LastSetter(), static_cast<uint32_t>(setter->Pid()));
    // Auto-reset: the set was taken by that wait.
    EXPECT_FALSE(listener->Wait(0));
    ASSERT_TRUE(qm::SetNamedEvent(kMutexName));
    EXPECT_TRUE(listener->Wait(kWaitMs));
    EXPECT_EQ(listener->LastSetter(), static_cast<uint32_t>(getpid()));
}

TEST_F(NamedEventTest, SetsBeforeAWaitReleaseItOnceAndResetDropsThem) {
    auto listener = Listen("e");
    ASSERT_TRUE(listener);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(qm::SetNamedEvent("e"));
    EXPECT_TRUE(listener->Wait(kWaitMs));
    EXPECT_FALSE(listener->Wait(0));
    ASSERT_TRUE(qm::SetNamedEvent("e"));
    listener->Reset();
    EXPECT_FALSE(listener->Wait(0));
    ASSERT_TRUE(qm::SetNamedEvent("e"));
    EXPECT_TRUE(listener->Wait(kWaitMs));
}

TEST_F(NamedEventTest, ASetWithNobodyListeningIsLost) {
    MakeRuntime();
    EXPECT_FALSE(qm::SetNamedEvent(kMutexName));
    EXPECT_EQ(errno, ENOENT);
    std::string err;
    EXPECT_EQ(qm::test::RunQmPost({"--set-event", kMutexName}, &err), 1);
    EXPECT_NE(err.find("nobody waits"), std::string::npos) << err;

    auto listener = Listen(kMutexName);
    ASSERT_TRUE(listener);
    EXPECT_FALSE(listener->Wait(0));
}

TEST_F(NamedEventTest, ASetFromAnotherUserIsIgnored) {
    if (geteuid() != 0)
        GTEST_SKIP() << "sending as another user needs root";
    auto listener = Listen(kMutexName);
    ASSERT_TRUE(listener);
    const uint8_t set = 1;
    ASSERT_EQ(qm::test::SendRawAsAnotherUser(EventPath(kMutexName), &set, sizeof set), 0);
    EXPECT_FALSE(listener->Wait(0));
}

TEST_F(NamedEventTest, EventAndWindowSocketFilesAreTheOwnersAlone) {
    auto listener = Listen("e");
    int err = 0;
    auto window = qm::MessageWindow::Create(4100, &err);
    ASSERT_TRUE(listener && window) << std::strerror(err);
    for (const std::string& path : {EventPath("e"), runtime_ + "/hwnd-4100"}) {
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    }
}

TEST_F(NamedEventTest, BadNamesAreRefused) {
    int err = 0;
    for (const char* name : {"", "a/b", ".", ".."}) {
        EXPECT_FALSE(qm::SetNamedEvent(name)) << name;
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(qm::NamedEventListener::Create(name, never_, &err), nullptr) << name;
        EXPECT_EQ(err, EINVAL);
    }
    EXPECT_EQ(qm::NamedEventListener::Create(std::string(200, 'x'), never_, &err), nullptr);
    EXPECT_EQ(err, ENAMETOOLONG);
}

TEST_F(NamedEventTest, AListenerWaitsForAnOwnerInAnotherProcess) {
    // The single-instance handover: the running manager holds the
    // event; the new one sets it, the old one ends and the new one takes over.
    auto old = qm::test::SpawnQmPost({"--wait-event", kMutexName});
    ASSERT_TRUE(old);
    std::string line;
    ASSERT_TRUE(old->ReadLine(&line, kWaitMs));
    ASSERT_EQ(line, "ready");

    ListenerInThread fresh(kMutexName);
    ASSERT_TRUE(fresh.Holding().Wait(kWaitMs));
    ASSERT_TRUE(qm::SetNamedEvent(kMutexName));
    ASSERT_TRUE(old->ReadLine(&line, kWaitMs));
    EXPECT_EQ(line, "set");
    EXPECT_EQ(old->WaitExit(kWaitMs), 0);

    ASSERT_TRUE(fresh.Finish(kWaitMs)) << "the new listener did not take the path";
    ASSERT_TRUE(fresh.Result()) << std::strerror(fresh.Error());
    std::string err;
    EXPECT_EQ(qm::test::RunQmPost({"--set-event", kMutexName}, &err), 0) << err;
    EXPECT_TRUE(fresh.Result()->Wait(kWaitMs));
}

TEST_F(NamedEventTest, TheCallersStopEventEndsTheWaitForAnOwner) {
    auto first = Listen(kMutexName);
    ASSERT_TRUE(first);
    const ino_t owned = qm::test::InodeOf(EventPath(kMutexName));
    ListenerInThread second(kMutexName);
    ASSERT_TRUE(second.Holding().Wait(kWaitMs));
    second.Stop();
    ASSERT_TRUE(second.Finish(kWaitMs));
    EXPECT_EQ(second.Result(), nullptr);
    EXPECT_EQ(second.Error(), ECANCELED);
    EXPECT_EQ(qm::test::InodeOf(EventPath(kMutexName)), owned);
    ASSERT_TRUE(qm::SetNamedEvent(kMutexName));
    EXPECT_TRUE(first->Wait(kWaitMs));
}

}  // namespace
}  // namespace qm::test
