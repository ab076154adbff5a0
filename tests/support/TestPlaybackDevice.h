#pragma once

#include "controls/playback/PlaybackDevice.h"

#include <vector>

namespace kallomir {

// An output device for tests: nothing plays until the test advances the output clock, and
// then the stream consumes exactly the frames that much time holds, in blocks, each heard
// `latency` seconds after it was rendered. What was played is kept for inspection.
class TestPlaybackDevice : public PlaybackDevice {
public:
    explicit TestPlaybackDevice(int rate = 0, double latency = 0.05, unsigned long block = 256)
        : forcedRate_(rate), latency_(latency), block_(block) {}

    std::unique_ptr<PlaybackStream> open(int preferredRate, int channels, RenderFunction render,
                                         QString* error) override;

    // Runs the output clock forward; the open, started stream renders meanwhile.
    void advance(double seconds);
    double now() const { return now_; }
    int openCount() const { return opens_; }
    void failNextOpen(const QString& reason) { failReason_ = reason; }

    // Interleaved samples rendered since the last clear.
    std::vector<float> played;
    void clearPlayed() { played.clear(); }

private:
    class Stream;
    friend class Stream;
    int forcedRate_;
    double latency_;
    unsigned long block_;
    double now_ = 0;
    double pending_ = 0;  // frames of time not yet rendered
    int opens_ = 0;
    QString failReason_;
    Stream* current_ = nullptr;
};

}  // namespace kallomir
