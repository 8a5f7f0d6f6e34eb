// A one-shot timer that can be waited on together with events: released
// once its time has come, and from then on.
#pragma once

#include <cstdint>

#include "platform/event.h"

namespace qm {

class OneShotTimer final : public Waitable {
  public:
    explicit OneShotTimer(uint32_t ms);
    ~OneShotTimer() override;
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    int WaitFd() const override { return fd_; }
    bool Acquire() const override { return true; }

  private:
    int fd_;
};

}  // namespace qm
