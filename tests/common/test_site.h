// A private installation for one test, all put back at the end: a fresh
// program folder named by $QM_HOME, a current folder for the logs and, when
// asked for, a runtime folder named by $QM_RUNTIME_DIR.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "tests/common/test_support.h"

namespace qm::test {

class TestSite {
  public:
    // The current folder: the program folder itself, or a folder of its own
    // beside it, so that a test can tell which of the two a file went to.
    enum class Cwd { kProgramFolder, kApart };
    // $QM_RUNTIME_DIR: left as it is; named but not made, so that the code
    // under test makes it; or made beforehand as the manager makes it,
    // private to the user (mode 0700).
    enum class Runtime { kInherited, kNamed, kMade };

    // Below `parent`, or below the system's temporary folder when it is
    // empty. Throws when a folder cannot be made, which fails the test that
    // asked.
    TestSite(Cwd cwd, Runtime runtime, const std::string& parent = "") : dir_(parent) {
        if (dir_.path().empty())
            throw std::system_error(errno, std::generic_category(), "temporary folder");
        const bool apart = cwd == Cwd::kApart;
        home_ = apart ? dir_ / "prog" : dir_.path();
        cwd_ = apart ? dir_ / "cwd" : home_;
        std::filesystem::create_directory(home_);
        std::filesystem::create_directory(cwd_);
        homeEnv_.emplace("QM_HOME", home_);
        if (runtime != Runtime::kInherited) {
            const std::string folder = dir_ / "run";
            if (runtime == Runtime::kMade) {
                std::filesystem::create_directory(folder);
                std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
            }
            runtimeEnv_.emplace("QM_RUNTIME_DIR", folder);
        }
        cwdGuard_.emplace(cwd_);
    }
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    // The program folder.
    const std::string& path() const { return home_; }
    std::string operator/(const std::string& name) const { return home_ + "/" + name; }
    // The fresh folder that holds everything of the site.
    const std::string& base() const { return dir_.path(); }
    const std::string& cwd() const { return cwd_; }

  private:
    // Declared in the order of making; put back in the reverse order.
    TempDir dir_;
    std::string home_, cwd_;
    std::optional<ScopedEnv> homeEnv_, runtimeEnv_;
    std::optional<ScopedCwd> cwdGuard_;
};

// A site in the program folder with its runtime folder made and TXT/Swap
// ready, and a window at kWindow that receives what the code under test
// posts; the link is stopped at the end.
class WindowSiteTest : public ::testing::Test {
  protected:
    static constexpr WindowHandle kWindow = 4242;

    void SetUp() override {
        home_ = std::make_unique<TestSite>(TestSite::Cwd::kProgramFolder, TestSite::Runtime::kMade);
        std::filesystem::create_directories(*home_ / "TXT/Swap");
        int err = 0;
        window_ = MessageWindow::Create(kWindow, &err);
        ASSERT_TRUE(window_) << "window: " << std::strerror(err);
    }

    void TearDown() override {
        SDKDeInit();
        window_.reset();
        home_.reset();
    }

    // A station entry as the link is started with.
    static _DEVINFO Station(uint8_t hostId, const std::string& port,
                            const std::vector<uint8_t>& dcbs) {
        _DEVINFO d{};
        d.hostId = hostId;
        std::memcpy(d.portName, port.data(), std::min(port.size(), sizeof d.portName));
        d.dcbCount = static_cast<uint8_t>(dcbs.size());
        std::copy(dcbs.begin(), dcbs.end(), d.dcbIds);
        return d;
    }
    // Starts the link with the window receiving its notices.
    static int Init(std::vector<_DEVINFO>& stations) {
        return SDKInit(reinterpret_cast<void*>(uintptr_t{kWindow}), stations.data(),
                       static_cast<uint32_t>(stations.size()));
    }

    std::string Txt(const std::string& name) const { return *home_ / ("TXT/" + name); }

    std::unique_ptr<TestSite> home_;
    std::unique_ptr<MessageWindow> window_;
};

}  // namespace qm::test
