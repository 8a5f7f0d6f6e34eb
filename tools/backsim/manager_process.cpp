#include "tools/backsim/manager_process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace qm::backsim {

std::string ResolveProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        // An empty entry of $PATH is the current folder.
        const std::string_view dir = dirs.substr(0, colon);
        std::string candidate(dir.empty() ? std::string_view(".") : dir);
        candidate += '/';
        candidate += name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        dirs.remove_prefix(colon + 1);
    }
}

std::unique_ptr<ManagerProcess> ManagerProcess::Start(const std::string& program,
                                                      WindowHandle backEndWindow,
                                                      const std::string& home, std::string* error) {
    const std::string path = ResolveProgram(program);
    if (path.empty()) {
        *error = "no program " + program + " in $PATH";
        return nullptr;
    }
    ChildProcess::Options options;
    options.setEnv = {"QM_HOME=" + home};
    options.nullInput = true;
    options.ownProcessGroup = true;
    options.endWithParent = true;
    options.clearSignalMask = true;
    auto manager = std::make_unique<ManagerProcess>();
    if (!manager->child_.Start(path, {std::to_string(backEndWindow)}, options)) {
        *error = "cannot run " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return manager;
}

}  // namespace qm::backsim
