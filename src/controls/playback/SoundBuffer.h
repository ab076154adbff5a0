#pragma once

#include "controls/playback/PlaybackDevice.h"
#include "controls/playback/TempoStage.h"
#include "controls/playback/WaveImage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace kallomir {

// A whole recording in memory (loaded in the background, see WaveImage), played through an output
// stream with a live playback frequency: a lower frequency plays slower and lower, a higher one
// faster and higher. A tempo stage beside it changes the speed without changing the pitch; the
// two multiply (the speed heard is frequency / own rate x tempo, the pitch follows the
// frequency alone). At tempo 1 the tempo stage is out of the path. Positions are byte offsets into
// the audio data, as the transport counts them; the play cursor is what is being heard now (the
// queued output is taken off). The window thread calls every member; the audio thread only runs the
// render step, and the two share atomics.
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
    // Tempo with the pitch kept, clamped to 0.25..4 (1 = as recorded). Live while playing:
    // the change is faded in over a few milliseconds, never a gap or a click.
    void SetTempo(double tempo);
    double GetTempo() const { return tempo_.load(); }

    std::int64_t length() const { return image_->size(); }
    const WaveFormat& format() const { return format_; }
    const WaveImage& image() const { return *image_; }
    int nativeFrequency() const { return format_.sampleRate; }

private:
    static long SourceCallback(void* self, float** data);
    bool render(float* out, unsigned long frames, double dacTime);
    void applyTempo(bool jumped);
    void askForAudioAhead();
    long pull(float* out, long max);
    long pullDirect(float* out, long max);
    long pullStretched(float* out, long max);
    long crossfadeToOtherPath(float* out, long max);
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
    std::atomic<double> tempo_{1.0};
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
    std::int64_t readFrame_ = 0;  // next frame read from the image
    double sourceFrame_ = 0;      // where the audio handed to the resampler next comes from
    double logicalFrame_ = 0;
    TempoStage stretch_;
    bool stretching_ = false;  // the tempo stage is in the path
    bool switchPending_ = false;
    bool stretchFlushed_ = false;
    double stretchOwed_ = 0;  // output frames the input given to the tempo stage stands for
    double pathTempo_ = 1.0;  // the tempo of the path in use
    std::vector<float> feed_;
    std::vector<float> fade_;
    long tailLeft_ = -1;  // silent frames still to go after the end; -1 while audio plays
    std::vector<float> scratch_;
    std::int64_t askedBytes_ = 0;  // what has been asked of the loader
};

}  // namespace kallomir
