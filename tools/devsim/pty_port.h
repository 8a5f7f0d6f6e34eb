// A pseudo-terminal standing in for a base station's serial line.
//
// The slave side is what the manager opens, through a symbolic link at
// <program folder>/ports/<name>. The simulator keeps a descriptor of the
// slave open itself for as long as the port exists: with no slave open, the
// master reports hang-up on every poll (a reader that polls it would spin)
// and the pseudo-terminal's number could be reused, so the link would point
// at somebody else's terminal after a manager restart.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace qm::devsim {

class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Creates the pair (raw on both sides, 19200 8N1 on the slave) and links
    // `linkPath` to the slave, replacing an existing symbolic link but never
    // anything else. On failure returns false with a readable reason.
    bool Open(const std::string& linkPath, std::string& error);

    int MasterFd() const { return master_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }

    // The manager opens its port exclusively. The flag lives on the terminal,
    // not on the manager's descriptor, and our own slave descriptor keeps the
    // terminal alive, so after the manager closes it the flag would refuse
    // the manager's next open; it is cleared once the manager has closed.
    void ClearExclusive() const;

  private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace qm::devsim
