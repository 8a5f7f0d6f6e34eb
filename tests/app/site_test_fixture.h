// A private installation for one test: a program folder ($QM_HOME) with its
// TXT folder, and a separate current folder for the logs. Both are made fresh
// for each test and removed afterwards; the environment, the current folder
// and the process-wide values that start-up changes are put back.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "app/site_context.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "service/qmsdk.h"
#include "tests/common/test_site.h"

namespace qmtest {

class SiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        using qm::test::TestSite;
        folders_ = std::make_unique<TestSite>(TestSite::Cwd::kApart, TestSite::Runtime::kInherited);
        base_ = folders_->base();
        home_ = folders_->path();
        txt_ = home_ + "/TXT";
        cwd_ = folders_->cwd();
        ASSERT_EQ(mkdir(txt_.c_str(), 0755), 0);

        site_.programDir = home_;
        site_.txtDir = txt_;
        site_.swapDir = txt_ + "/Swap";
    }

    void TearDown() override {
        qm::SetDebugLevel(1);
        SDKSetParam(qm::kDefaultRetryTimes, qm::kDefaultBeaconTimeout, qm::kDefaultBeaconInterval);
        folders_.reset();
    }

    std::string Txt(const std::string& name) const { return txt_ + "/" + name; }
    std::string Cwd(const std::string& name) const { return cwd_ + "/" + name; }
    std::string Home(const std::string& name) const { return home_ + "/" + name; }

    std::string base_, home_, txt_, cwd_;
    qm::SiteContext site_;

  private:
    std::unique_ptr<qm::test::TestSite> folders_;
};

}  // namespace qmtest
