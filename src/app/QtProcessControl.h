#pragma once

#include "core/ProcessControl.h"

namespace kallomir {

// Ends the program at once: leaves the event loop (or, before it runs, tells the start-up
// not to enter it). No window gets a further chance to object.
class QtProcessControl : public ProcessControl {
public:
    void endProcess(int exitCode = 0) override;
    bool ended() const override { return ended_; }
    int exitCode() const override { return code_; }

private:
    bool ended_ = false;
    int code_ = 0;
};

}  // namespace kallomir
