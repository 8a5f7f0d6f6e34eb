// A private program folder ($QM_HOME with its TXT folder), a private current
// folder for the log, a private runtime folder, and a window standing in for
// the back-end that receives the service's notices. All made fresh for each
// test and put back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/window_message.h"
#include "tests/common/test_site.h"

namespace qmtest {

class ServiceTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kWaitMs = 5000;  // only a broken build waits this long

    void SetUp() override {
        using qm::test::TestSite;
        // Below /tmp whatever $TMPDIR says: the window sockets live in the
        // runtime folder, and a socket's path has room for 107 bytes only.
        site_ =
            std::make_unique<TestSite>(TestSite::Cwd::kApart, TestSite::Runtime::kNamed, "/tmp");
        base_ = site_->base();
        home_ = site_->path();
        txt_ = home_ + "/TXT";
        ASSERT_EQ(mkdir(txt_.c_str(), 0755), 0);

        backEnd_ = 4000000 + static_cast<uint32_t>(getpid() % 100000);
        int err = 0;
        window_ = qm::MessageWindow::Create(backEnd_, &err);
        ASSERT_NE(window_, nullptr) << std::strerror(err);
    }

    void TearDown() override {
        window_.reset();
        site_.reset();
    }

    std::string Txt(const std::string& name) const { return txt_ + "/" + name; }

    std::string base_, home_, txt_;
    qm::WindowHandle backEnd_ = 0;
    std::unique_ptr<qm::MessageWindow> window_;

  private:
    std::unique_ptr<qm::test::TestSite> site_;
};

}  // namespace qmtest
