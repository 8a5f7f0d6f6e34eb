// A private program folder ($QM_HOME with its TXT folder), a private current
// folder for the log, a private runtime folder, and a window standing in for
// the back-end that receives the service's notices. All made fresh for each
// test and put back afterwards.
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
#include <memory>
#include <optional>
#include <string>

#include "platform/window_message.h"

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

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (old)
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_, old_;
    bool had_ = false;
};

class ServiceTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kWaitMs = 5000;  // only a broken build waits this long

    void SetUp() override {
        char tmpl[] = "/tmp/qm-service-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr) << std::strerror(errno);
        base_ = tmpl;
        home_ = base_ + "/prog";
        txt_ = home_ + "/TXT";
        const std::string cwd = base_ + "/cwd";
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(txt_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(cwd.c_str(), 0755), 0);
        home_env_ = std::make_unique<ScopedEnv>("QM_HOME", home_);
        runtime_env_ = std::make_unique<ScopedEnv>("QM_RUNTIME_DIR", base_ + "/rt");

        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        saved_cwd_ = here;
        ASSERT_EQ(chdir(cwd.c_str()), 0);

        backEnd_ = 4000000 + static_cast<uint32_t>(getpid() % 100000);
        int err = 0;
        window_ = qm::MessageWindow::Create(backEnd_, &err);
        ASSERT_NE(window_, nullptr) << std::strerror(err);
    }

    void TearDown() override {
        window_.reset();
        if (!saved_cwd_.empty()) {
            EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
        }
        runtime_env_.reset();
        home_env_.reset();
        std::error_code ignored;
        if (!base_.empty())
            std::filesystem::remove_all(base_, ignored);
    }

    std::string Txt(const std::string& name) const { return txt_ + "/" + name; }

    std::string base_, home_, txt_;
    qm::WindowHandle backEnd_ = 0;
    std::unique_ptr<qm::MessageWindow> window_;

  private:
    std::unique_ptr<ScopedEnv> home_env_, runtime_env_;
    std::string saved_cwd_;
};

}  // namespace qmtest
