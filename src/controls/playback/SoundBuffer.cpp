#include "controls/playback/SoundBuffer.h"

#include "core/RuntimeError.h"

#include <QtEndian>

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kallomir {

namespace {
constexpr long kSourceBlockFrames = 1024;
constexpr int kInvalidFileFormat = 321;
// libsamplerate's limits on the output/input rate ratio.
constexpr double kMinRatio = 1.0 / 256.0;
constexpr double kMaxRatio = 256.0;
constexpr double kMinTempo = 0.25;
constexpr double kMaxTempo = 4.0;
// A change between the plain path and the tempo stage is faded over this long, so the two
// signals, which never line up sample for sample, join without a click.
constexpr double kPathFadeSeconds = 0.012;
// What the tempo stage reads ahead of what it plays.
constexpr double kStretchReadAheadSeconds = 0.25;
// What playback keeps loaded ahead of itself (enough for Fast X 10 at double tempo).
constexpr std::int64_t kLoadAheadSeconds = 30;

bool IsUnity(double tempo) {
    return std::abs(tempo - 1.0) < 1e-6;
}
}  // namespace

std::unique_ptr<SoundBuffer> SoundBuffer::FromFile(const QString& path, PlaybackDevice& device) {
    QString error;
    auto image = WaveImage::Open(path, &error);
    if (!image)
        throw RuntimeError(kInvalidFileFormat, error);
    // The start is in memory before the buffer exists: playing at once plays audio.
    image->waitUntilLoaded(WaveImage::kFirstPiece);
    return std::make_unique<SoundBuffer>(std::move(image), device);
}

SoundBuffer::SoundBuffer(std::unique_ptr<WaveImage> image, PlaybackDevice& device)
    : format_(image->format()),
      image_(std::move(image)),
      frequency_(format_.sampleRate),
      stretch_(std::max(format_.sampleRate, 1), std::clamp(format_.channels, 1, 8)) {
    if (format_.blockAlign <= 0 || format_.channels <= 0) {
        throw RuntimeError(kInvalidFileFormat, QStringLiteral("formato audio non valido"));
    }
    scratch_.resize(static_cast<size_t>(kSourceBlockFrames * format_.channels));
    feed_.resize(scratch_.size());
    fade_.resize(scratch_.size());
    int err = 0;
    resampler_ = src_callback_new(&SoundBuffer::SourceCallback, SRC_SINC_FASTEST, format_.channels,
                                  &err, this);
    if (!resampler_)
        throw RuntimeError(errors::kDeviceIo, QString::fromUtf8(src_strerror(err)));
    QString error;
    stream_ = device.open(
        format_.sampleRate, format_.channels,
        [this](float* out, unsigned long count, double dacTime) {
            return render(out, count, dacTime);
        },
        &error);
    if (!stream_) {
        src_delete(resampler_);
        throw RuntimeError(errors::kDeviceIo, error);
    }
    deviceRate_ = stream_->sampleRate();
}

SoundBuffer::~SoundBuffer() {
    // The stream goes first: no render may run on a released resampler.
    if (stream_)
        stream_->stop();
    stream_.reset();
    if (resampler_)
        src_delete(resampler_);
}

void SoundBuffer::settle() {
    if (playing_ && !stream_->isActive()) {
        // Played to the end by itself: stopped, back at the start.
        stream_->stop();
        playing_ = false;
        positionFrame_ = 0;
    }
}

void SoundBuffer::Play() {
    settle();
    if (playing_)
        return;
    stream_->stop();
    ended_.store(false);
    segmentStart_.store(static_cast<double>(positionFrame_));
    seekRequest_.store(positionFrame_);
    generation_.fetch_add(1);
    playing_ = stream_->start();
}

void SoundBuffer::Stop() {
    settle();
    if (!playing_)
        return;
    const double heard = heardFrame();
    stream_->stop();
    playing_ = false;
    positionFrame_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(heard), 0,
                                              std::max<std::int64_t>(frames() - 1, 0));
}

void SoundBuffer::SetCurrentPosition(std::int64_t bytes) {
    settle();
    const std::int64_t frame = std::clamp<std::int64_t>(bytes / format_.blockAlign, 0,
                                                        std::max<std::int64_t>(frames() - 1, 0));
    if (!playing_) {
        positionFrame_ = frame;
        return;
    }
    // The audio thread picks the request up at its next block; until then the cursor reads
    // the new position.
    segmentStart_.store(static_cast<double>(frame));
    seekRequest_.store(frame);
    generation_.fetch_add(1);
}

std::int64_t SoundBuffer::GetCurrentPosition() const {
    if (!playing_)
        return positionFrame_ * format_.blockAlign;
    if (!stream_->isActive())
        return 0;
    return static_cast<std::int64_t>(heardFrame()) * format_.blockAlign;
}

int SoundBuffer::GetStatus() const {
    return playing_ && stream_->isActive() ? kStatusPlaying : 0;
}

void SoundBuffer::SetFrequency(int hertz) {
    frequency_.store(std::clamp(hertz, kMinFrequency, kMaxFrequency));
}

void SoundBuffer::SetTempo(double tempo) {
    tempo_.store(std::clamp(tempo, kMinTempo, kMaxTempo));
}

double SoundBuffer::heardFrame() const {
    std::uint64_t generation = 0;
    double dac = 0, frame = 0, end = 0, rate = 0;
    for (;;) {
        const std::uint32_t before = markSeq_.load(std::memory_order_acquire);
        if (before & 1U)
            continue;
        generation = markGeneration_.load(std::memory_order_relaxed);
        dac = markDacTime_.load(std::memory_order_relaxed);
        frame = markFrame_.load(std::memory_order_relaxed);
        end = markEndFrame_.load(std::memory_order_relaxed);
        rate = markRate_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (markSeq_.load(std::memory_order_relaxed) == before)
            break;
    }
    const double start = segmentStart_.load();
    if (generation != generation_.load())
        return start;
    // The block's first frame is heard at dac; frames before and after it at the source
    // rate the block was made with.
    const double heard = frame + (stream_->time() - dac) * rate;
    return std::clamp(heard, start, std::max(start, end));
}

bool SoundBuffer::render(float* out, unsigned long count, double dacTime) {
    const std::uint64_t generation = generation_.load();
    const std::int64_t seek = seekRequest_.exchange(-1);
    if (seek >= 0) {
        tailLeft_ = -1;
        readFrame_ = seek;
        sourceFrame_ = static_cast<double>(seek);
        logicalFrame_ = static_cast<double>(seek);
        src_reset(resampler_);
    }
    applyTempo(seek >= 0);
    askForAudioAhead();
    const auto channels = static_cast<size_t>(format_.channels);
    if (tailLeft_ >= 0) {
        // The recording has ended: silence until the tail is out, then the stream completes.
        std::fill(out, out + count * channels, 0.0f);
        tailLeft_ -= static_cast<long>(count);
        return tailLeft_ > 0;
    }
    const int hertz = frequency_.load();
    const double ratio = std::clamp(static_cast<double>(deviceRate_) / static_cast<double>(hertz),
                                    kMinRatio, kMaxRatio);
    if (waitingForLoad(count, ratio)) {
        // Moved ahead of the loader: silence, and the position holds, until the audio is in.
        std::fill(out, out + count * channels, 0.0f);
        publishMark(generation, dacTime, logicalFrame_, logicalFrame_, 0.0);
        return true;
    }
    long produced = src_callback_read(resampler_, ratio, static_cast<long>(count), out);
    if (produced < 0)
        produced = 0;
    if (static_cast<unsigned long>(produced) < count) {
        std::fill(out + static_cast<size_t>(produced) * channels, out + count * channels, 0.0f);
    }
    // Each frame the resampler took stands for pathTempo_ frames of the recording.
    const double consumed = static_cast<double>(produced) / ratio * pathTempo_;
    const double end = std::min(logicalFrame_ + consumed, static_cast<double>(frames()));
    publishMark(generation, dacTime, logicalFrame_, end,
                static_cast<double>(deviceRate_) / ratio * pathTempo_);
    logicalFrame_ = end;
    if (static_cast<unsigned long>(produced) < count) {
        // Some outputs drop what is still queued when a stream completes: a short silent
        // tail keeps the recording's last moment audible.
        ended_.store(true);
        tailLeft_ = static_cast<long>(deviceRate_ * kEndTailSeconds);
    }
    return true;
}

bool SoundBuffer::waitingForLoad(unsigned long count, double ratio) const {
    const std::int64_t loadedFrames = image_->loadedBytes() / format_.blockAlign;
    if (loadedFrames >= frames())
        return false;
    // What this block may draw: its share of the source plus what the resampler reads ahead.
    const double tempo = std::max(pathTempo_, tempo_.load());
    auto needed = readFrame_ +
                  static_cast<std::int64_t>(static_cast<double>(count) / ratio * tempo) +
                  2 * kSourceBlockFrames;
    if (stretching_ || !IsUnity(tempo))
        needed += static_cast<std::int64_t>(kStretchReadAheadSeconds * format_.sampleRate);
    return needed > loadedFrames;
}

void SoundBuffer::publishMark(std::uint64_t generation, double dacTime, double frame, double end,
                              double rate) {
    markSeq_.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    markGeneration_.store(generation, std::memory_order_relaxed);
    markDacTime_.store(dacTime, std::memory_order_relaxed);
    markFrame_.store(frame, std::memory_order_relaxed);
    markEndFrame_.store(end, std::memory_order_relaxed);
    markRate_.store(rate, std::memory_order_relaxed);
    markSeq_.fetch_add(1, std::memory_order_release);
}

void SoundBuffer::askForAudioAhead() {
    // The loader may be holding back for the waveform overview: playback says what it needs
    // soon, a second at a time.
    const auto rate = static_cast<std::int64_t>(format_.sampleRate);
    const std::int64_t ahead = (readFrame_ + kLoadAheadSeconds * rate) * format_.blockAlign;
    if (ahead > askedBytes_) {
        askedBytes_ = ahead + rate * format_.blockAlign;
        image_->want(askedBytes_);
    }
}

void SoundBuffer::applyTempo(bool jumped) {
    const double wanted = tempo_.load();
    const bool wantStretch = !IsUnity(wanted);
    if (jumped) {
        // A jump breaks the audio anyway: the path is chosen afresh, nothing to fade.
        switchPending_ = false;
        stretching_ = wantStretch;
        stretchFlushed_ = false;
        stretchOwed_ = 0;
        stretch_.clear();
        stretch_.setTempo(wantStretch ? wanted : 1.0);
        pathTempo_ = wantStretch ? wanted : 1.0;
        return;
    }
    if (wantStretch != stretching_) {
        switchPending_ = true;  // the next source block fades from one path to the other
    } else if (stretching_ && wanted != pathTempo_) {
        stretch_.setTempo(wanted);  // the stage itself changes tempo smoothly
        pathTempo_ = wanted;
    }
}

long SoundBuffer::SourceCallback(void* self, float** data) {
    auto* s = static_cast<SoundBuffer*>(self);
    *data = s->scratch_.data();
    return s->pull(s->scratch_.data(), kSourceBlockFrames);
}

long SoundBuffer::pull(float* out, long max) {
    if (switchPending_)
        return crossfadeToOtherPath(out, max);
    return stretching_ ? pullStretched(out, max) : pullDirect(out, max);
}

long SoundBuffer::pullStretched(float* out, long max) {
    while (stretch_.available() < max && !stretchFlushed_) {
        const long n = pullDirect(feed_.data(), kSourceBlockFrames);
        if (n <= 0) {
            stretch_.flush();  // the recording's end: what the stage holds comes out
            stretchFlushed_ = true;
            break;
        }
        stretch_.put(feed_.data(), n);
        stretchOwed_ += static_cast<double>(n) / pathTempo_;
    }
    // What the flush pads beyond the recording's own end is not played.
    const long allowed =
        stretchFlushed_ ? std::clamp(static_cast<long>(std::lround(stretchOwed_)), 0L, max) : max;
    const long got = stretch_.receive(out, allowed);
    stretchOwed_ -= static_cast<double>(got);
    sourceFrame_ = std::min(sourceFrame_ + static_cast<double>(got) * pathTempo_,
                            static_cast<double>(frames()));
    return got;
}

long SoundBuffer::crossfadeToOtherPath(float* out, long max) {
    switchPending_ = false;
    const long fade = std::clamp(static_cast<long>(kPathFadeSeconds * format_.sampleRate), 16L,
                                 std::min(max, kSourceBlockFrames));
    const double from = sourceFrame_;
    // The old path plays on for the length of the fade...
    const long old =
        stretching_ ? pullStretched(fade_.data(), fade) : pullDirect(fade_.data(), fade);
    // ...while the new one starts where the old one stood.
    stretching_ = !stretching_;
    readFrame_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(from), 0, frames());
    sourceFrame_ = static_cast<double>(readFrame_);
    stretchFlushed_ = false;
    if (stretching_) {
        pathTempo_ = tempo_.load();
        stretchOwed_ = 0;
        stretch_.clear();
        stretch_.setTempo(pathTempo_);
    } else {
        pathTempo_ = 1.0;
    }
    const long fresh = stretching_ ? pullStretched(out, fade) : pullDirect(out, fade);
    const auto channels = static_cast<size_t>(format_.channels);
    for (long i = 0; i < fresh; ++i) {
        const float in = static_cast<float>(i + 1) / static_cast<float>(fresh + 1);
        for (size_t c = 0; c < channels; ++c) {
            const size_t k = static_cast<size_t>(i) * channels + c;
            const float before = i < old ? fade_[k] : 0.0f;
            out[k] = before * (1.0f - in) + out[k] * in;
        }
    }
    return fresh;
}

long SoundBuffer::pullDirect(float* out, long max) {
    const std::int64_t remain = frames() - readFrame_;
    if (remain <= 0)
        return 0;
    const WaveFormat& f = format_;
    const std::int64_t loaded = image_->loadedBytes() / f.blockAlign - readFrame_;
    if (loaded <= 0) {
        // Never read what the loader has not written; render() holds still before this
        // happens, so this is only a safety net: a moment of silence.
        std::fill_n(out, std::min(64L, max) * f.channels, 0.0f);
        return std::min(64L, max);
    }
    const long n = static_cast<long>(std::min({remain, loaded, static_cast<std::int64_t>(max)}));
    const auto* src = reinterpret_cast<const uchar*>(image_->bytes()) + readFrame_ * f.blockAlign;
    const size_t samples = static_cast<size_t>(n) * static_cast<size_t>(f.channels);
    float* dst = out;
    switch (f.bitsPerSample) {
        case 8:
            for (size_t i = 0; i < samples; ++i)
                dst[i] = (static_cast<float>(src[i]) - 128.0f) / 128.0f;
            break;
        case 16:
            for (size_t i = 0; i < samples; ++i) {
                dst[i] = static_cast<float>(qFromLittleEndian<qint16>(src + 2 * i)) / 32768.0f;
            }
            break;
        case 24:
            for (size_t i = 0; i < samples; ++i) {
                const uchar* p = src + 3 * i;
                std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                           static_cast<std::uint32_t>(p[1]) << 16 |
                                                           static_cast<std::uint32_t>(p[2]) << 24);
                dst[i] = static_cast<float>(v) / 2147483648.0f;
            }
            break;
        default:
            if (f.formatTag == 3) {
                for (size_t i = 0; i < samples; ++i) {
                    const quint32 bits = qFromLittleEndian<quint32>(src + 4 * i);
                    float v;
                    std::memcpy(&v, &bits, sizeof v);
                    dst[i] = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
                }
            } else {
                for (size_t i = 0; i < samples; ++i) {
                    dst[i] =
                        static_cast<float>(qFromLittleEndian<qint32>(src + 4 * i)) / 2147483648.0f;
                }
            }
            break;
    }
    readFrame_ += n;
    if (!stretching_)
        sourceFrame_ = static_cast<double>(readFrame_);
    return n;
}

}  // namespace kallomir
