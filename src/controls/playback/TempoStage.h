#pragma once

#include <memory>

namespace soundtouch {
class SoundTouch;
}

namespace kallomir {

// Changes the tempo of interleaved float audio without changing its pitch (time stretching
// by overlap-add, tuned for speech). Frames go in with put() and come out with receive();
// the stage holds back about a tenth of a second. Not thread-safe: one thread uses it.
class TempoStage {
public:
    TempoStage(int sampleRate, int channels);
    ~TempoStage();
    TempoStage(const TempoStage&) = delete;
    TempoStage& operator=(const TempoStage&) = delete;

    // 1.0 keeps the speed; 0.5 plays twice as long, 2.0 half as long. Takes effect on the
    // audio not yet processed, without a break in the output.
    void setTempo(double tempo);
    double tempo() const { return tempo_; }
    // Forgets everything held (after a jump in the input).
    void clear();
    void put(const float* frames, long count);
    // Takes up to max frames of output; returns how many.
    long receive(float* into, long max);
    long available() const;
    // At the end of the input: pushes out what is held back (padded with a little silence).
    void flush();

private:
    std::unique_ptr<soundtouch::SoundTouch> touch_;
    double tempo_ = 1.0;
};

}  // namespace kallomir
