#pragma once

#include "controls/playback/WaveImage.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace kallomir {

// The overview of a recording for drawing its waveform: for every 10 ms of audio the lowest
// (at most 0) and the highest (at least 0) sample of all channels, from -1 to 1. A thread of its
// own reads the audio in order through the image's source, beside the image's loader, so the
// overview of what has been read is there at once and grows while the file loads. Audio that cannot
// be read counts as silence, as it plays.
class WavePeaks {
public:
    // The image must outlive the overview.
    explicit WavePeaks(const WaveImage& image);
    ~WavePeaks();
    WavePeaks(const WavePeaks&) = delete;
    WavePeaks& operator=(const WavePeaks&) = delete;

    std::int64_t framesPerBin() const { return framesPerBin_; }
    std::int64_t binCount() const { return static_cast<std::int64_t>(low_.size()); }
    // Bins below this are final and may be read from any thread.
    std::int64_t readyBins() const { return ready_.load(std::memory_order_acquire); }
    bool complete() const { return readyBins() == binCount(); }
    void waitUntilComplete() const;

    // The whole recording in `count` equal columns: the lowest and highest sample of each.
    // Returns how many columns, from the left, are ready (the rest are left untouched).
    int columns(int count, float* low, float* high) const;

private:
    void run(const WaveImage& image);

    WaveFormat format_;
    std::int64_t framesPerBin_ = 1;
    std::vector<float> low_, high_;
    std::atomic<std::int64_t> ready_{0};
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

}  // namespace kallomir
