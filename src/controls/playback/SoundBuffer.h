#pragma once

#include "controls/playback/PlaybackDevice.h"
#include "controls/playback/WaveImage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace kallomir {

// A whole recording in memory (loaded in the background, see WaveImage), played through an output
// stream with a live playback frequency: a lower frequency plays slower and lower, a higher one
// faster and higher. Positions are byte offsets into the audio data, as the transport counts them;
// the play cursor is what is being heard now (the queued output is taken off). The window thread
// calls every member; the audio thread only runs the render step, and the two share atomics.
class SoundBuffer {
public:
    static constexpr int kStatusPlaying = 1;  // GetStatus bit: playing
    static constexpr int kMinFrequency = 100;
    static constexpr int kMaxFrequency = 100000;
    // Silence played after the recording's end before the stream completes.
    static constexpr double kEndTailSeconds = 0.2;

    // Reads the wave file and opens a stream on device; throws RuntimeError when the file is
    // no playable wave file or the stream cannot be opened.
    static std::unique_ptr<SoundBuffer> FromFile(const QString& path, PlaybackDevice& device);
    SoundBuffer(std::unique_ptr<WaveImage> image, PlaybackDevice& device);
    ~SoundBuffer();
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    // Plays once from the current position to the end (no looping).
    void Play();
    // Stops; the position stays where playback was heard.
    void Stop();
    // Moves the position (frame-aligned, within the data); playing goes on from there.
    void SetCurrentPosition(std::int64_t bytes);
    std::int64_t GetCurrentPosition() const;
    int GetStatus() const;
    // Clamped to 100..100000 Hz.
    void SetFrequency(int hertz);
    int GetFrequency() const { return frequency_.load(); }

    std::int64_t length() const { return image_->size(); }
    const WaveFormat& format() const { return format_; }
    const WaveImage& image() const { return *image_; }
    int nativeFrequency() const { return format_.sampleRate; }

private:
    static long SourceCallback(void* self, float** data);
    bool render(float* out, unsigned long frames, double dacTime);
    std::int64_t frames() const { return image_->size() / format_.blockAlign; }
    bool waitingForLoad(unsigned long count, double ratio) const;
    void publishMark(std::uint64_t generation, double dacTime, double frame, double end,
                     double rate);
    double heardFrame() const;
    void settle();

    WaveFormat format_;
    std::unique_ptr<WaveImage> image_;
    std::unique_ptr<PlaybackStream> stream_;
    SRC_STATE* resampler_ = nullptr;
    int deviceRate_ = 0;

    // Window thread.
    bool playing_ = false;
    std::int64_t positionFrame_ = 0;  // where a stopped buffer stands

    // Shared with the audio thread.
    std::atomic<int> frequency_;
    std::atomic<std::int64_t> seekRequest_{-1};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> ended_{false};
    // The last block handed to the output: its first frame's source position and the moment
    // it becomes audible (a seqlock keeps the four values consistent).
    std::atomic<std::uint32_t> markSeq_{0};
    std::atomic<std::uint64_t> markGeneration_{~0ULL};
    std::atomic<double> markDacTime_{0};
    std::atomic<double> markFrame_{0};
    std::atomic<double> markEndFrame_{0};
    std::atomic<double> markRate_{0};
    std::atomic<double> segmentStart_{0};

    // Audio thread only.
    std::int64_t readFrame_ = 0;
    double logicalFrame_ = 0;
    long tailLeft_ = -1;  // silent frames still to go after the end; -1 while audio plays
    std::vector<float> scratch_;
};

}  // namespace kallomir
