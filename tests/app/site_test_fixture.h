// A private installation for one test: a program folder ($QM_HOME) with its
// TXT folder, and a separate current folder for the logs. Both are made fresh
// for each test and removed afterwards; the environment, the current folder
// and the process-wide values that start-up changes are put back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "app/site_context.h"
#include "link/link_params.h"
#include "platform/app_log.h"
#include "service/qmsdk.h"

namespace qmtest {

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

class SiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qm-app-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr) << std::strerror(errno);
        base_ = tmpl;
        home_ = base_ + "/prog";
        txt_ = home_ + "/TXT";
        cwd_ = base_ + "/cwd";
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(txt_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(cwd_.c_str(), 0755), 0);

        const char* oldHome = std::getenv("QM_HOME");
        hadHome_ = oldHome != nullptr;
        if (oldHome)
            savedHome_ = oldHome;
        setenv("QM_HOME", home_.c_str(), 1);

        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        savedCwd_ = here;
        ASSERT_EQ(chdir(cwd_.c_str()), 0);

        site_.programDir = home_;
        site_.txtDir = txt_;
        site_.swapDir = txt_ + "/Swap";
    }

    void TearDown() override {
        if (!savedCwd_.empty()) {
            EXPECT_EQ(chdir(savedCwd_.c_str()), 0);
        }
        if (hadHome_) {
            setenv("QM_HOME", savedHome_.c_str(), 1);
        } else {
            unsetenv("QM_HOME");
        }
        qm::SetDebugLevel(1);
        SDKSetParam(qm::kDefaultRetryTimes, qm::kDefaultBeaconTimeout, qm::kDefaultBeaconInterval);
        std::error_code ignored;
        if (!base_.empty())
            std::filesystem::remove_all(base_, ignored);
    }

    std::string Txt(const std::string& name) const { return txt_ + "/" + name; }
    std::string Cwd(const std::string& name) const { return cwd_ + "/" + name; }
    std::string Home(const std::string& name) const { return home_ + "/" + name; }

    std::string base_, home_, txt_, cwd_;
    qm::SiteContext site_;

  private:
    std::string savedHome_, savedCwd_;
    bool hadHome_ = false;
};

}  // namespace qmtest
