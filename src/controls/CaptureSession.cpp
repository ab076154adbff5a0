#include "controls/CaptureSession.h"

#include "core/RuntimeError.h"

#include <samplerate.h>

#include <chrono>

namespace kallomir {

namespace {
constexpr std::size_t kRingSamples = std::size_t{1} << 18;  // about 6 s at 44.1 kHz
constexpr std::size_t kChunk = 4096;
constexpr auto kHeaderPeriod = std::chrono::milliseconds(500);
}  // namespace

CaptureSession::CaptureSession(const RecordFormat& format, const QString& path,
                               const CaptureSettings& settings, CaptureEvents events,
                               std::function<void(const QString&)> failed)
    : format_(format),
      pipeline_(format.sampleRate, settings, events),
      failed_(std::move(failed)),
      ring_(kRingSamples),
      inputRate_(format.sampleRate),
      requestedRate_(format.sampleRate),
      warning_(std::move(events.warning)) {
    if (!path.isEmpty()) {
        const QString why = pipeline_.openFile(path, format.bits);
        if (!why.isEmpty()) {
            throw RuntimeError(errors::kPathFileAccess,
                               QStringLiteral("Cannot create %1: %2").arg(path, why));
        }
    }
    worker_ = std::thread([this] { run(); });
}

CaptureSession::~CaptureSession() {
    finish();
    if (resampler_)
        src_delete(resampler_);
}

QString CaptureSession::finish() {
    if (!worker_.joinable())
        return {};
    quit_.store(true);
    wake_.release();
    worker_.join();
    // A failure the worker met is already reported; only the last write is news here.
    if (hasFailed_)
        return {};
    return pipeline_.closeFile() ? QString() : pipeline_.error();
}

void CaptureSession::setInputRate(int rate) {
    waitIdle();
    requestedRate_.store(rate);
}

void CaptureSession::push(std::span<const std::int16_t> samples) {
    const std::size_t stored = ring_.write(samples);
    pushed_.fetch_add(stored, std::memory_order_release);
    wake_.release();
}

void CaptureSession::waitIdle() {
    const std::uint64_t target = pushed_.load(std::memory_order_acquire);
    wake_.release();
    std::unique_lock lock(progressMutex_);
    progress_.wait(lock, [&] { return processed_ >= target; });
}

void CaptureSession::run() {
    auto lastHeader = std::chrono::steady_clock::now();
    for (;;) {
        // Half the header period: a header falls due at most a quarter second before it is
        // rewritten, and a source that pushes seldom (a SIP line, five times a second) does
        // not pay for wake-ups in between with nothing to do.
        (void)wake_.try_acquire_for(kHeaderPeriod / 2);
        const bool quitting = quit_.load();
        drain();
        if (ring_.dropped() > 0)
            warnOnce(droppedTold_,
                     QStringLiteral("Audio perso: %1 campioni non sono stati registrati "
                                    "(il sistema non ha tenuto il passo)")
                         .arg(ring_.dropped()));
        const auto now = std::chrono::steady_clock::now();
        if (dirty_ && !hasFailed_ && now - lastHeader >= kHeaderPeriod) {
            if (!pipeline_.updateHeader()) {
                hasFailed_ = true;
                if (failed_)
                    failed_(pipeline_.error());
            }
            dirty_ = false;
            lastHeader = now;
        }
        if (quitting)
            break;
    }
    // Anything pushed after the last drain is dropped by the caller's stop order: the source
    // is stopped before the session ends.
}

void CaptureSession::drain() {
    std::int16_t chunk[kChunk];
    for (;;) {
        const std::size_t count = ring_.read(chunk);
        if (count == 0)
            break;
        if (!hasFailed_)
            convertAndProcess(std::span<const std::int16_t>(chunk, count));
        {
            std::lock_guard lock(progressMutex_);
            processed_ += count;
        }
        progress_.notify_all();
    }
}

void CaptureSession::convertAndProcess(std::span<const std::int16_t> samples) {
    const int wanted = requestedRate_.load();
    if (wanted != inputRate_) {
        inputRate_ = wanted;
        if (resampler_)
            src_reset(resampler_);
    }
    if (inputRate_ == format_.sampleRate) {
        process(samples);
        return;
    }
    if (!resampler_) {
        int error = 0;
        resampler_ = src_new(SRC_SINC_FASTEST, 1, &error);
        if (!resampler_) {
            hasFailed_ = true;
            if (failed_)
                failed_(QString::fromLatin1(src_strerror(error)));
            return;
        }
    }
    const double ratio = static_cast<double>(format_.sampleRate) / inputRate_;
    inFloat_.resize(samples.size());
    src_short_to_float_array(samples.data(), inFloat_.data(), static_cast<int>(samples.size()));
    outFloat_.resize(static_cast<std::size_t>(samples.size() * ratio) + 64);
    SRC_DATA data{};
    data.data_in = inFloat_.data();
    data.input_frames = static_cast<long>(samples.size());
    data.src_ratio = ratio;
    while (data.input_frames > 0) {
        data.data_out = outFloat_.data();
        data.output_frames = static_cast<long>(outFloat_.size());
        if (const int error = src_process(resampler_, &data); error != 0) {
            // The rest of this block is lost; the next one starts the converter afresh.
            warnOnce(conversionTold_,
                     QStringLiteral("Audio perso: conversione di frequenza non riuscita (%1)")
                         .arg(QString::fromLatin1(src_strerror(error))));
            src_reset(resampler_);
            break;
        }
        if (data.output_frames_gen > 0) {
            outShort_.resize(static_cast<std::size_t>(data.output_frames_gen));
            src_float_to_short_array(outFloat_.data(), outShort_.data(),
                                     static_cast<int>(data.output_frames_gen));
            process(outShort_);
        }
        if (data.input_frames_used == 0 && data.output_frames_gen == 0)
            break;
        data.data_in += data.input_frames_used;
        data.input_frames -= data.input_frames_used;
    }
}

void CaptureSession::warnOnce(bool& told, const QString& text) {
    if (told)
        return;
    told = true;
    if (warning_)
        warning_(text);
}

void CaptureSession::process(std::span<const std::int16_t> samples) {
    if (pipeline_.process(samples)) {
        dirty_ = dirty_ || pipeline_.hasFile();
        return;
    }
    hasFailed_ = true;
    if (failed_)
        failed_(pipeline_.error());
}

}  // namespace kallomir
