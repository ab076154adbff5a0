#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace kallomir {

// An open input or output stream; destroying it (or stop()) stops it, after which its
// callback is no longer called.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    virtual void stop() = 0;
    virtual int sampleRate() const = 0;  // the rate actually delivered or consumed
};

// Called on the audio thread with mono 16-bit samples. Must not block.
using AudioInputCallback = std::function<void(std::span<const std::int16_t> samples)>;
// Called on the audio thread to fill interleaved 16-bit frames (buffer size = frames *
// channels); returns the frames written, the rest is played as silence. Must not block.
using AudioOutputCallback = std::function<std::size_t(std::span<std::int16_t> buffer)>;

// The sound cards: device lists, what formats each device takes, and streams. Device numbers
// are positions in the input or output list, counted from 0.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    virtual QStringList inputDeviceNames() const = 0;
    virtual QStringList outputDeviceNames() const = 0;
    // Record format bits (RecordFormat codes) the device handles; 0 for an unknown device.
    virtual quint32 inputFormats(int device) const = 0;
    virtual quint32 outputFormats(int device) const = 0;

    // Opens and starts a mono capture stream. The rate is a wish: a device that cannot take it
    // delivers its own rate, given by the stream's sampleRate(). Throws RuntimeError.
    virtual std::unique_ptr<AudioStream> openInput(int device, int sampleRate,
                                                   AudioInputCallback callback) = 0;
    // Opens and starts a playback stream of the given rate and channel count. Throws
    // RuntimeError.
    virtual std::unique_ptr<AudioStream> openOutput(int device, int sampleRate, int channels,
                                                    AudioOutputCallback callback) = 0;
};

}  // namespace kallomir
