// A site for link tests: a program folder with ports/ linked to real
// pseudo-terminals, a private runtime folder and a window that receives the
// link's notices.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/link_state.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tests/common/test_site.h"

namespace qm::test {

struct TestPort {
    std::string name;
    std::string slavePath;
    int master = -1;
};

class LinkFixture : public WindowSiteTest {
  protected:
    void SetUp() override {
        WindowSiteTest::SetUp();
        std::filesystem::create_directories(*home_ / "ports");
    }

    void TearDown() override {
        WindowSiteTest::TearDown();
        for (auto& p : ports_)
            if (p.master >= 0)
                close(p.master);
    }

    // A pseudo-terminal linked as <home>/ports/<name>; the test keeps the
    // master side, the link opens the slave by the name.
    TestPort& AddPort(const std::string& name) {
        TestPort p;
        p.name = name;
        int slave = -1;
        char path[128] = {};
        EXPECT_EQ(openpty(&p.master, &slave, path, nullptr, nullptr), 0);
        termios t{};
        tcgetattr(p.master, &t);
        cfmakeraw(&t);
        tcsetattr(p.master, TCSANOW, &t);
        p.slavePath = path;
        // Keeping a slave descriptor open on our side keeps the master from
        // reporting hang-up between the manager's opens.
        slaves_.push_back(slave);
        std::filesystem::create_symlink(p.slavePath, *home_ / ("ports/" + name));
        ports_.push_back(p);
        return ports_.back();
    }

    // Reads from a master until the bytes contain `want` or time runs out.
    static bool ReadUntil(int master, const std::vector<uint8_t>& want, int timeoutMs,
                          std::vector<uint8_t>* seen = nullptr) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) == 1 && (p.revents & POLLIN)) {
                uint8_t buf[512];
                ssize_t n = read(master, buf, sizeof buf);
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
            if (std::search(got.begin(), got.end(), want.begin(), want.end()) != got.end()) {
                if (seen)
                    *seen = got;
                return true;
            }
        }
        if (seen)
            *seen = got;
        return false;
    }

    std::deque<TestPort> ports_;
    std::vector<int> slaves_;

    ~LinkFixture() override {
        for (int s : slaves_) close(s);
    }
};

}  // namespace qm::test
