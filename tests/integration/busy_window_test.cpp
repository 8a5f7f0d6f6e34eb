// Request notices to the window of a program that links the service (a
// back-end running the link in its own process), while that window is busy
// and does not read its socket: a raw socket that the test reads only when
// the terminals are done.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/runtime_dir.h"
#include "tests/integration/traffic_fixture.h"

namespace qm::test {
namespace {

constexpr WindowHandle kBusyWindow = 4343;

class BusyWindow : public TrafficFixture {
  protected:
    void SetUp() override {
        TrafficFixture::SetUp();
        int err = 0;
        const std::string path = RuntimeDir(&err) + "/hwnd-" + std::to_string(kBusyWindow);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    void TearDown() override {
        SDKDeInit();
        close(fd_);
        TrafficFixture::TearDown();
    }

    // Terminals 1..kTerminals on COM3, the link's notices going to the busy
    // window; a terminal waiting for a reply holds the beacon 100 ms only.
    void StartBusy() {
        SDKSetParam(5, 100, 100);
        std::vector<uint8_t> ids;
        for (uint8_t id = 1; id <= kTerminals; ++id) ids.push_back(id);
        devsim::Station& s = sim_->AddStation("COM3");
        ASSERT_TRUE(s.Ok()) << s.Error();
        for (uint8_t id : ids) s.AddTerminal(id);
        ASSERT_TRUE(sim_->Start()) << sim_->Error();
        std::vector<_DEVINFO> entries{Station(1, "COM3", ids)};
        ASSERT_EQ(SDKInit(reinterpret_cast<void*>(uintptr_t{kBusyWindow}), entries.data(), 1), 1);
    }

    // Every terminal queues kEach requests of two fragments; returns them by
    // terminal, in order. Waits until all have left the terminals.
    std::vector<std::vector<Bytes>> SendAll() {
        std::vector<std::vector<Bytes>> sent(kTerminals + 1);
        for (int round = 0; round < kEach; ++round)
            for (uint8_t id = 1; id <= kTerminals; ++id) {
                Bytes payload = Pattern(60);  // 50 + 10
                payload[0] = static_cast<uint8_t>('a' + round);
                payload[1] = static_cast<uint8_t>('0' + id);
                EXPECT_TRUE(Term("COM3", id).QueueRequest(0x12, payload));
                sent[id].push_back(payload);
            }
        EXPECT_TRUE(sim_->WaitFor(
            [&] {
                for (uint8_t id = 1; id <= kTerminals; ++id)
                    if (Term("COM3", id).PendingItems() > 0)
                        return false;
                return true;
            },
            30000))
            << "the terminals could not send their requests";
        return sent;
    }

    // The requests behind the notices the window gets, read where the
    // notices point, as the program would; stops when none comes within
    // waitMs.
    std::vector<ReceivedRequest> ReadNotices(size_t count, int waitMs = 5000) {
        std::vector<ReceivedRequest> got;
        const int64_t end = MonotonicMs() + waitMs;
        while (got.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(0, end - MonotonicMs()))) <= 0)
                break;
            uint8_t wire[kWindowWireSize];
            WindowMessage m;
            if (recv(fd_, wire, sizeof wire, 0) != static_cast<ssize_t>(sizeof wire) ||
                !DecodeWindowMessage(wire, sizeof wire, &m) || m.message != WM_REQUEST_RECEIVED)
                break;
            ReceivedRequest r;
            std::memcpy(&r.record, reinterpret_cast<const void*>(m.wParam), sizeof r.record);
            const auto* data = reinterpret_cast<const uint8_t*>(m.lParam);
            r.data.assign(data, data + r.record.length);
            got.push_back(r);
        }
        return got;
    }

    static constexpr uint8_t kTerminals = 4;
    static constexpr int kEach = 4;  // more notices than the window's socket holds
    int fd_ = -1;
};

TEST_F(BusyWindow, NoNoticeIsLostAndTheTerminalsAreServedMeanwhile) {
    StartBusy();
    const auto sent = SendAll();
    // Every first fragment was acknowledged while the window did not read:
    // the second goes out only after that.
    for (uint8_t id = 1; id <= kTerminals; ++id)
        EXPECT_GE(Term("COM3", id).Counters().acksReceived, static_cast<uint64_t>(kEach)) << +id;
    ASSERT_GT(CurrentLink()->notices->Queued(), 0u) << "the window's socket took them all";

    const auto got = ReadNotices(kTerminals * kEach);
    ASSERT_EQ(got.size(), static_cast<size_t>(kTerminals * kEach));
    std::vector<std::vector<Bytes>> arrived(kTerminals + 1);
    for (const ReceivedRequest& r : got) {
        EXPECT_EQ(r.record.hostId, 1);
        EXPECT_EQ(r.record.code, 0x12);
        ASSERT_GE(r.record.dcbId, 1);
        ASSERT_LE(r.record.dcbId, kTerminals);
        arrived[r.record.dcbId].push_back(r.data);
    }
    EXPECT_EQ(arrived, sent) << "each terminal's requests whole and in order";
    EXPECT_EQ(CountLogLines("PostMessage Error"), 0);
}

TEST_F(BusyWindow, AtDeInitTheNoticesSentStayValidAndTheWaitingOnesAreDropped) {
    StartBusy();
    const auto sent = SendAll();
    const int64_t start = MonotonicMs();
    SDKDeInit();
    const int64_t took = MonotonicMs() - start;
    EXPECT_LT(took, 3000) << "the stop does not wait for the busy window";
    ASSERT_EQ(CountLogLines("Window 4343 stopping: "), 1);
    // What reached the socket before the stop is still readable where the
    // notices point; nothing comes after it.
    const auto got = ReadNotices(kTerminals * kEach, 0);
    ASSERT_FALSE(got.empty());
    ASSERT_LT(got.size(), static_cast<size_t>(kTerminals * kEach));
    std::vector<size_t> next(kTerminals + 1, 0);
    for (const ReceivedRequest& r : got) {
        const uint8_t id = r.record.dcbId;
        ASSERT_GE(id, 1);
        ASSERT_LE(id, kTerminals);
        ASSERT_LT(next[id], sent[id].size());
        EXPECT_EQ(r.data, sent[id][next[id]++]);
    }
    const std::string dropped =
        "Window 4343 stopping: " + std::to_string(kTerminals * kEach - got.size()) +
        " waiting messages dropped";
    EXPECT_EQ(CountLogLines(dropped), 1);
}

}  // namespace
}  // namespace qm::test
