#pragma once

#include "controls/AudioRing.h"
#include "controls/CapturePipeline.h"
#include "controls/RecordFormat.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

struct SRC_STATE_tag;

namespace kallomir {

// One capture from start to close: a ring the source fills from its own thread, and a worker
// thread that converts the rate when needed, runs the pipeline and keeps the WAV header
// current (about twice a second), so the file stays playable if the process dies.
class CaptureSession {
public:
    // Throws RuntimeError when the file cannot be created. An empty path captures no file.
    // The events and `failed` are called on the worker thread.
    CaptureSession(const RecordFormat& format, const QString& path, const CaptureSettings& settings,
                   CaptureEvents events, std::function<void(const QString&)> failed);
    ~CaptureSession();  // finish()

    // Processes what is left and completes the file. Returns why the last write failed, or
    // empty text (also when an earlier failure was already reported).
    QString finish();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Rate of what push() delivers from now on. Call only while no source pushes.
    void setInputRate(int rate);
    // From the source's thread; never blocks.
    void push(std::span<const std::int16_t> samples);
    // Waits until everything pushed so far is processed.
    void waitIdle();

    int sampleRate() const { return format_.sampleRate; }

private:
    void run();
    void drain();
    void convertAndProcess(std::span<const std::int16_t> samples);
    void process(std::span<const std::int16_t> samples);
    void warnOnce(bool& told, const QString& text);

    const RecordFormat format_;
    CapturePipeline pipeline_;
    std::function<void(const QString&)> failed_;
    AudioRing ring_;
    std::counting_semaphore<> wake_{0};

    std::atomic<bool> quit_{false};
    std::atomic<std::uint64_t> pushed_{0};
    std::mutex progressMutex_;
    std::condition_variable progress_;
    std::uint64_t processed_ = 0;  // guarded by progressMutex_

    // Worker-only state.
    int inputRate_;
    std::atomic<int> requestedRate_;
    SRC_STATE_tag* resampler_ = nullptr;
    std::vector<float> inFloat_;
    std::vector<float> outFloat_;
    std::vector<std::int16_t> outShort_;
    bool hasFailed_ = false;
    bool dirty_ = false;
    std::function<void(const QString&)> warning_;
    bool droppedTold_ = false;
    bool conversionTold_ = false;

    std::thread worker_;
};

}  // namespace kallomir
