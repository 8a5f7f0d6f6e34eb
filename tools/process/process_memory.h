// The resident memory of a process as the kernel reports it in
// /proc/<pid>/status, for the benchmarks and the soak.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace qm {

struct ProcessMemory {
    long rssKiB = -1;  // VmRSS
    long hwmKiB = -1;  // VmHWM: the peak resident set
};

// "self" for this process; -1 where /proc does not tell.
inline ProcessMemory ReadProcessMemory(const std::string& pid = "self") {
    ProcessMemory m;
    std::ifstream f("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string key;
        long value = -1;
        in >> key >> value;
        if (key == "VmRSS:")
            m.rssKiB = value;
        if (key == "VmHWM:")
            m.hwmKiB = value;
    }
    return m;
}

}  // namespace qm
