#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qm {
namespace {

std::string NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string ChosenPath() {
    std::string path = NonEmptyEnv("QM_RUNTIME_DIR");
    if (!path.empty())
        return path;
    std::string xdg = NonEmptyEnv("XDG_RUNTIME_DIR");
    if (!xdg.empty())
        return xdg + "/qm";
    return "/tmp/qm-" + std::to_string(getuid());
}

// The folder must be ours and closed to group and others (README, "Folders").
// A symbolic link is followed
// only when it is ours: one that another user planted in /tmp (a sticky
// folder, where only its owner may replace it) could be re-pointed at will
// after the check.
int CheckFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode)) {
        if (st.st_uid != geteuid())
            return EPERM;
        if (stat(path.c_str(), &st) != 0)
            return errno;
    }
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (st.st_uid != geteuid())
        return EPERM;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return EPERM;
    return 0;
}

}  // namespace

std::string RuntimeDir(int* err) {
    int dummy = 0;
    if (!err)
        err = &dummy;
    *err = 0;

    std::string path = ChosenPath();
    if (mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken bits away; a folder without the owner's
        // bits would refuse every socket later, far from the cause.
        chmod(path.c_str(), 0700);
    } else if (errno != EEXIST) {
        *err = errno;
        return {};
    }
    *err = CheckFolder(path);
    if (*err != 0)
        return {};
    return path;
}

}  // namespace qm
