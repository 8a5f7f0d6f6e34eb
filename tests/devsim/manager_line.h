// The manager's end of a simulated line, driven by hand in the tests: open
// the port the way the manager does, write frames, read what the devices
// send back with deadlines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/devsim/frame.h"
#include "tools/devsim/unique_fd.h"

namespace qm::devsim::test {

class ManagerLine {
  public:
    // Opens `path` read-write, non-blocking, not as controlling terminal, raw.
    bool Open(const std::string& path);
    void Close();

    bool Write(const Bytes& bytes);
    // The next complete frame (0x00 ... 0xFF) within `timeoutMs`; bytes before
    // a start marker are skipped.
    std::optional<Bytes> ReadFrame(int timeoutMs = 1000);

  private:
    // Reads what is there, waiting at most until the deadline; false on time-out.
    bool Fill(int64_t deadlineUs);

    UniqueFd fd_;
    Bytes pending_;
};

}  // namespace qm::devsim::test
