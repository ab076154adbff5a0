#include "support/TestPlaybackDevice.h"

#include <cmath>

namespace kallomir {

class TestPlaybackDevice::Stream : public PlaybackStream {
public:
    Stream(TestPlaybackDevice& device, int rate, int channels, RenderFunction render)
        : device_(device), rate_(rate), channels_(channels), render_(std::move(render)) {}
    ~Stream() override {
        if (device_.current_ == this)
            device_.current_ = nullptr;
    }

    bool start() override {
        started_ = true;
        finished_ = false;
        return true;
    }
    void stop() override { started_ = false; }
    bool isActive() const override {
        return started_ && (!finished_ || device_.now_ < audibleEnd_);
    }
    double time() const override { return device_.now_; }
    int sampleRate() const override { return rate_; }

    void renderBlock(unsigned long frames) {
        if (!started_ || finished_)
            return;
        std::vector<float> block(frames * static_cast<size_t>(channels_));
        const double dac = device_.now_ + device_.latency_;
        const bool more = render_(block.data(), frames, dac);
        device_.played.insert(device_.played.end(), block.begin(), block.end());
        if (!more) {
            finished_ = true;
            audibleEnd_ = dac + static_cast<double>(frames) / rate_;
        }
    }

private:
    TestPlaybackDevice& device_;
    int rate_;
    int channels_;
    RenderFunction render_;
    bool started_ = false;
    bool finished_ = false;
    double audibleEnd_ = 0;
};

std::unique_ptr<PlaybackStream> TestPlaybackDevice::open(int preferredRate, int channels,
                                                         RenderFunction render, QString* error) {
    if (!failReason_.isEmpty()) {
        if (error)
            *error = failReason_;
        failReason_.clear();
        return nullptr;
    }
    ++opens_;
    auto stream = std::make_unique<Stream>(*this, forcedRate_ > 0 ? forcedRate_ : preferredRate,
                                           channels, std::move(render));
    current_ = stream.get();
    return stream;
}

void TestPlaybackDevice::advance(double seconds) {
    // Blocks are rendered as the clock passes them, one block ahead like a real device.
    const double step = current_ ? static_cast<double>(block_) / current_->sampleRate() : seconds;
    double left = seconds;
    while (left > 1e-12) {
        const double dt = std::min(step, left);
        if (current_) {
            pending_ += dt * current_->sampleRate();
            while (pending_ >= static_cast<double>(block_) - 1e-9) {
                current_->renderBlock(block_);
                pending_ -= static_cast<double>(block_);
            }
        }
        now_ += dt;
        left -= dt;
    }
}

}  // namespace kallomir
