// A private installation for one test: a program folder ($QM_HOME) with its
// TXT folder, a separate current folder for the logs, a private runtime
// folder, and a window standing in for the back-end that receives what the
// code under test posts. All made fresh for each test; the environment, the
// current folder and the process-wide values that start-up changes are put
// back.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "link/link_params.h"
#include "platform/app_log.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"
#include "service/request_files.h"
#include "site/site_context.h"
#include "tests/common/test_site.h"

namespace qm::test {

class SiteTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kWaitMs = 5000;  // only a broken build waits this long

    void SetUp() override {
        // Below /tmp whatever $TMPDIR says: the window sockets live in the
        // runtime folder, and a socket's path has room for 107 bytes only.
        folders_ =
            std::make_unique<TestSite>(TestSite::Cwd::kApart, TestSite::Runtime::kNamed, "/tmp");
        base_ = folders_->base();
        home_ = folders_->path();
        txt_ = home_ + "/TXT";
        cwd_ = folders_->cwd();
        ASSERT_EQ(mkdir(txt_.c_str(), 0755), 0);

        site_.programDir = home_;
        site_.txtDir = txt_;
        site_.swapDir = txt_ + "/Swap";

        // Each test's replies answer its own requests only.
        ResetLastRequests();
        backEnd_ = 4000000 + static_cast<uint32_t>(getpid() % 100000);
        int err = 0;
        window_ = MessageWindow::Create(backEnd_, &err);
        ASSERT_NE(window_, nullptr) << std::strerror(err);
    }

    void TearDown() override {
        SetDebugLevel(1);
        SDKSetParam(kDefaultRetryTimes, kDefaultBeaconTimeout, kDefaultBeaconInterval);
        window_.reset();
        folders_.reset();
    }

    std::string Txt(const std::string& name) const { return txt_ + "/" + name; }
    std::string Cwd(const std::string& name) const { return cwd_ + "/" + name; }
    std::string Home(const std::string& name) const { return home_ + "/" + name; }

    std::string base_, home_, txt_, cwd_;
    SiteContext site_;
    WindowHandle backEnd_ = 0;
    std::unique_ptr<MessageWindow> window_;

  private:
    std::unique_ptr<TestSite> folders_;
};

}  // namespace qm::test
