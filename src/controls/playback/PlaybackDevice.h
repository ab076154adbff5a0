#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace kallomir {

// Fills `frames` interleaved float frames for the moment `dacTime` (the output clock's time
// at which the first frame becomes audible). Returns false after the last block: the stream
// then plays out what it has and stops by itself. Runs on the audio thread.
using RenderFunction = std::function<bool(float* out, unsigned long frames, double dacTime)>;

// One open output stream.
class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    virtual bool start() = 0;
    virtual void stop() = 0;             // drops what is queued; no callback runs afterwards
    virtual bool isActive() const = 0;   // started and not yet run out
    virtual double time() const = 0;     // the output clock, seconds
    virtual int sampleRate() const = 0;  // the rate the stream really runs at
};

// The sound output the player plays through (the default output device).
class PlaybackDevice {
public:
    virtual ~PlaybackDevice() = default;
    // Opens a stream at preferredRate when the device allows it, else at the device's rate.
    virtual std::unique_ptr<PlaybackStream> open(int preferredRate, int channels,
                                                 RenderFunction render, QString* error) = 0;
};

}  // namespace kallomir
