// Which folder the manager takes as its program folder, and why.
#include "platform/program_folder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

using R = ProgramDirReason;

TEST(ProgramFolder, QmHomeThenOwnTxtThenInstalledDefaultThenTheExecutablesFolder) {
    const struct {
        const char* home;
        const char* exeDir;
        bool hasTxt, installed;
        const char* dir;
        R reason;
    } cases[] = {
        // QM_HOME wins over everything, without its trailing slashes.
        {"/srv/site//", "/usr/bin", true, true, "/srv/site", R::kQmHome},
        {"/", "/usr/bin", false, true, "/", R::kQmHome},
        // Empty is unset.
        {"", "/usr/bin", false, true, kInstalledProgramDir, R::kInstalled},
        {nullptr, "/usr/bin", false, true, kInstalledProgramDir, R::kInstalled},
        // A folder with its own TXT is a site, even an installed one.
        {nullptr, "/opt/qm/bin", true, true, "/opt/qm/bin", R::kOwnTxt},
        {nullptr, "/home/x/build/normal/app", true, false, "/home/x/build/normal/app", R::kOwnTxt},
        // A build folder without TXT is still the program folder.
        {nullptr, "/home/x/build/normal/app", false, false, "/home/x/build/normal/app",
         R::kExecutableFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.home ? c.home : "unset") + " " + c.exeDir);
        const ProgramDirChoice got = ChooseProgramDir(c.home, c.exeDir, c.hasTxt, c.installed);
        EXPECT_EQ(got.dir, c.dir);
        EXPECT_EQ(got.reason, c.reason);
    }
}

TEST(ProgramFolder, AnInstalledBinFolderIsOneNamedBin) {
    const struct {
        const char* dir;
        bool installed;
    } cases[] = {
        {"/usr/bin", true},
        {"/usr/local/bin/", true},
        {"/opt/qm/bin", true},
        {"/usr/sbin", false},
        {"/home/x/binaries", false},
        {"/home/x/build/normal/app", false},
        {"/bin/qm", false},
        {"bin", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsInstalledBinFolder(c.dir), c.installed) << c.dir;
}

}  // namespace
}  // namespace qm::test
