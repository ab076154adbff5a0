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
    : format_(image->format()), image_(std::move(image)), frequency_(format_.sampleRate) {
    if (format_.blockAlign <= 0 || format_.channels <= 0) {
        throw RuntimeError(kInvalidFileFormat, QStringLiteral("formato audio non valido"));
    }
    scratch_.resize(static_cast<size_t>(kSourceBlockFrames * format_.channels));
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
        logicalFrame_ = static_cast<double>(seek);
        src_reset(resampler_);
    }
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
    const double consumed = static_cast<double>(produced) / ratio;
    const double end = std::min(logicalFrame_ + consumed, static_cast<double>(frames()));
    publishMark(generation, dacTime, logicalFrame_, end, static_cast<double>(deviceRate_) / ratio);
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
    const auto needed = readFrame_ + static_cast<std::int64_t>(static_cast<double>(count) / ratio) +
                        2 * kSourceBlockFrames;
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

long SoundBuffer::SourceCallback(void* self, float** data) {
    auto* s = static_cast<SoundBuffer*>(self);
    *data = s->scratch_.data();
    const std::int64_t remain = s->frames() - s->readFrame_;
    if (remain <= 0)
        return 0;
    const WaveFormat& f = s->format_;
    const std::int64_t loaded = s->image_->loadedBytes() / f.blockAlign - s->readFrame_;
    if (loaded <= 0) {
        // Never read what the loader has not written; render() holds still before this
        // happens, so this is only a safety net: a moment of silence.
        std::fill_n(s->scratch_.data(), 64 * f.channels, 0.0f);
        return 64;
    }
    const long n = static_cast<long>(std::min({remain, loaded, kSourceBlockFrames}));
    const auto* src =
        reinterpret_cast<const uchar*>(s->image_->bytes()) + s->readFrame_ * f.blockAlign;
    const size_t samples = static_cast<size_t>(n) * static_cast<size_t>(f.channels);
    float* dst = s->scratch_.data();
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
    s->readFrame_ += n;
    return n;
}

}  // namespace kallomir
