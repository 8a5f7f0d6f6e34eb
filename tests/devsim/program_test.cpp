// The qm-devsim program as a demo script uses it: start it on a site, wait
// for "ready", talk to its port, end it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "tests/devsim/manager_line.h"
#include "tools/devsim/records.h"

extern char** environ;

namespace qm::devsim {
namespace {

using test::ManagerLine;
using test::TempHome;

const std::string kProgram = std::string(QM_BINARY_DIR) + "/tools/qm-devsim";

// A child process whose standard output the test reads line by line.
class Child {
  public:
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool Start(const std::vector<std::string>& args) {
        std::array<int, 2> fds{};
        if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
            return false;
        }
        out_.Reset(fds[0]);
        UniqueFd writeEnd(fds[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kProgram.c_str()));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
        }
        return rc == 0;
    }

    // The next whole line of output, without its end; nullopt at time-out or
    // end of output.
    std::optional<std::string> ReadLine(int timeoutMs) {
        const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
        for (;;) {
            const size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            if (!Fill(deadline)) {
                return std::nullopt;
            }
        }
    }

    // Skips lines until one contains `text`.
    bool SeeLine(const std::string& text, int timeoutMs) {
        const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
        while (MonotonicUs() < deadline) {
            const auto line = ReadLine(static_cast<int>((deadline - MonotonicUs()) / 1000 + 1));
            if (!line) {
                return false;
            }
            if (line->find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // Waits for the child's end (its output closes when it exits); the exit
    // status, or -1 if it did not end in time.
    int WaitExit(int timeoutMs) {
        const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
        while (!eof_) {
            if (!Fill(deadline)) {
                return -1;
            }
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void Signal(int sig) const { ::kill(pid_, sig); }

  private:
    bool Fill(int64_t deadlineUs) {
        if (eof_) {
            return false;
        }
        const int64_t leftUs = deadlineUs - MonotonicUs();
        if (leftUs <= 0) {
            return false;
        }
        pollfd pfd{out_.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(leftUs / 1000 + 1)) <= 0) {
            return false;
        }
        std::array<char, 1024> chunk{};
        const ssize_t n = ::read(out_.Get(), chunk.data(), chunk.size());
        if (n <= 0) {
            eof_ = true;
            return true;
        }
        buffered_.append(chunk.data(), static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    UniqueFd out_;
    std::string buffered_;
    bool eof_ = false;
};

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st {};
        if (::stat(kProgram.c_str(), &st) != 0) {
            GTEST_SKIP() << kProgram << " is not built";
        }
        ASSERT_FALSE(home_.Path().empty());
        ASSERT_EQ(::mkdir((home_.Path() + "/TXT").c_str(), 0755), 0);
        Write("TXT/基站.TXT", "1 COM3\r\n");
        Write("TXT/点菜机.TXT", "12 1\r\n13 1\r\n");
    }

    void Write(const std::string& name, const std::string& content) {
        std::ofstream(home_.Path() + "/" + name, std::ios::binary) << content;
    }

    std::string Home() const { return home_.Path(); }

    TempHome home_;
};

TEST_F(Program, ServesTheSiteTracesAndEndsOnSigterm) {
    Write("demo.txt", "# order\nat 0 request 1 12 0x0D hello\n");
    Child child;
    ASSERT_TRUE(child.Start({"--home", Home(), "--script", Home() + "/demo.txt", "--trace"}));
    ASSERT_EQ(child.ReadLine(5000), "ready");

    ManagerLine line;
    ASSERT_TRUE(line.Open(Home() + "/ports/COM3"));
    ASSERT_TRUE(line.Write(BeaconFrame(12)));
    EXPECT_EQ(line.ReadFrame(), DataFrame(12, 0x0D, 1, 1, Bytes{'h', 'e', 'l', 'l', 'o'}));
    ASSERT_TRUE(line.Write(BeaconFrame(13)));
    EXPECT_EQ(line.ReadFrame(), BeaconFrame(13));
    EXPECT_TRUE(child.SeeLine("COM3 -> T012 BEACON", 2000));
    EXPECT_TRUE(child.SeeLine("COM3 <- T012 DATA cmd=0x0D k=1/1 \"hello\"", 2000));
    EXPECT_TRUE(child.SeeLine("COM3 <- T013 BEACON", 2000));

    line.Close();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitExit(5000), 0);
    // The port's link goes with the program.
    struct stat st {};
    EXPECT_NE(::lstat((Home() + "/ports/COM3").c_str(), &st), 0);
}

TEST_F(Program, EndsByItselfAtTheScriptsEnd) {
    Write("short.txt", "end 100\n");
    Child child;
    ASSERT_TRUE(child.Start({"--home", Home(), "--script", Home() + "/short.txt"}));
    EXPECT_EQ(child.ReadLine(5000), "ready");
    EXPECT_EQ(child.WaitExit(5000), 0);
}

TEST_F(Program, RefusesBadInput) {
    Write("bad.txt", "at 10 request 1 12\n");
    Write("stranger.txt", "at 10 clock 1 99\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--home"},
        {"--home", Home() + "/nowhere"},
        {"--home", Home(), "--script", Home() + "/bad.txt"},
        {"--home", Home(), "--script", Home() + "/stranger.txt"},
        {"--home", Home(), "--script", Home() + "/missing.txt"},
    };
    for (const auto& args : cases) {
        Child child;
        ASSERT_TRUE(child.Start(args));
        EXPECT_EQ(child.WaitExit(5000), 2) << (args.empty() ? "" : args.back());
    }
}

}  // namespace
}  // namespace qm::devsim
