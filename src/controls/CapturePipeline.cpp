#include "controls/CapturePipeline.h"

#include <algorithm>
#include <cmath>

namespace kallomir {

qint16 LevelFromRms(double rms) {
    if (rms <= 0.0)
        return 0;
    const double dbfs = 20.0 * std::log10(rms / 32768.0);
    const double level = (dbfs + 60.0) * (100.0 / 60.0);
    return static_cast<qint16>(std::clamp(std::lround(level), 0L, 100L));
}

double GainOfRecordLevel(int level) {
    // level / 5 dB = 10^(level / 100) as an amplitude factor.
    return std::pow(10.0, std::clamp(level, -100, 100) / 100.0);
}

CapturePipeline::CapturePipeline(int sampleRate, const CaptureSettings& settings,
                                 CaptureEvents events)
    : sampleRate_(sampleRate),
      settings_(settings),
      events_(std::move(events)),
      blockFrames_(std::max(1, sampleRate / 10)) {}

CapturePipeline::~CapturePipeline() {
    closeFile();
}

QString CapturePipeline::openFile(const QString& path, int bits) {
    closeFile();
    SF_INFO info{};
    info.samplerate = sampleRate_;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    file_ = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file_)
        return QString::fromLocal8Bit(sf_strerror(nullptr));
    error_.clear();
    framesWritten_ = 0;
    return {};
}

bool CapturePipeline::process(std::span<const std::int16_t> samples) {
    const int level = settings_.recordLevel.load(std::memory_order_relaxed);
    std::span<const std::int16_t> recorded = samples;
    if (level != 0) {
        const double gain = GainOfRecordLevel(level);
        scratch_.resize(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double value = std::round(samples[i] * gain);
            scratch_[i] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
        }
        recorded = scratch_;
    }

    bool written = true;
    if (file_ && !recorded.empty()) {
        // Gathered into larger writes: fewer system calls; the buffer is flushed before every
        // header update, so a killed process loses at most what a header update would anyway.
        pending_.insert(pending_.end(), recorded.begin(), recorded.end());
        if (pending_.size() >= kWriteBatch)
            written = flush();
    }

    // Sum of squares per 100 ms block, in integers (exact, and vectorizes).
    std::size_t at = 0;
    while (at < recorded.size()) {
        const std::size_t take = std::min<std::size_t>(
            recorded.size() - at, static_cast<std::size_t>(blockFrames_ - blockFill_));
        std::int64_t squares = 0;
        for (std::size_t i = at; i < at + take; ++i) {
            const std::int32_t sample = recorded[i];
            squares += sample * sample;
        }
        blockSquares_ += squares;
        blockFill_ += static_cast<int>(take);
        at += take;
        if (blockFill_ == blockFrames_)
            endBlock();
    }
    return written;
}

void CapturePipeline::endBlock() {
    const qint16 level = LevelFromRms(std::sqrt(static_cast<double>(blockSquares_) / blockFill_));
    const std::int64_t frames = blockFill_;
    blockFill_ = 0;
    blockSquares_ = 0;
    if (events_.level)
        events_.level(level);

    const int threshold = settings_.voxThreshold.load(std::memory_order_relaxed);
    if (level < threshold) {
        quietFrames_ += frames;
        const std::int64_t holdMs =
            std::max(0, settings_.voxHoldMs.load(std::memory_order_relaxed));
        if (!silent_ && quietFrames_ * 1000 >= holdMs * sampleRate_) {
            silent_ = true;
            if (events_.silence)
                events_.silence(true);
        }
    } else {
        quietFrames_ = 0;
        if (silent_) {
            silent_ = false;
            if (events_.silence)
                events_.silence(false);
        }
    }
}

bool CapturePipeline::flush() {
    if (!file_ || pending_.empty()) {
        pending_.clear();
        return true;
    }
    const auto count = static_cast<sf_count_t>(pending_.size());
    const sf_count_t done = sf_write_short(file_, pending_.data(), count);
    pending_.clear();
    if (done > 0)
        framesWritten_ += done;
    if (done == count)
        return true;
    error_ = QString::fromLocal8Bit(sf_strerror(file_));
    if (error_.isEmpty() || error_ == u"No Error.") {
        error_ = QStringLiteral("The capture file could not be written");
    }
    sf_close(file_);
    file_ = nullptr;
    return false;
}

bool CapturePipeline::updateHeader() {
    if (!file_)
        return true;
    if (!flush())
        return false;
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return true;
}

bool CapturePipeline::closeFile() {
    const bool flushed = flush();
    if (file_) {
        sf_close(file_);
        file_ = nullptr;
    }
    return flushed;
}

}  // namespace kallomir
