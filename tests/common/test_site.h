// A private installation for one test, all put back at the end: a fresh
// program folder named by $QM_HOME, a current folder for the logs and, when
// asked for, a runtime folder named by $QM_RUNTIME_DIR.
#pragma once

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

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

}  // namespace qm::test
