#pragma once

namespace kallomir {

// Ending the process is an outside effect: the real one leaves the event loop at once,
// the test one only records that the program would have ended.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;
    virtual void endProcess(int exitCode = 0) = 0;
    virtual bool ended() const = 0;
    virtual int exitCode() const = 0;
};

class RecordingProcessControl : public ProcessControl {
public:
    void endProcess(int exitCode = 0) override {
        if (!ended_)
            code_ = exitCode;
        ended_ = true;
    }
    bool ended() const override { return ended_; }
    int exitCode() const override { return code_; }

private:
    bool ended_ = false;
    int code_ = 0;
};

}  // namespace kallomir
