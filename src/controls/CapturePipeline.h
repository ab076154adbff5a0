#pragma once

#include <QString>

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kallomir {

// Settings a running capture follows at once (the mixer moves them while recording).
struct CaptureSettings {
    std::atomic<int> recordLevel{0};   // -100..100
    std::atomic<int> voxThreshold{0};  // on the level scale
    std::atomic<int> voxHoldMs{0};
};

// What a capture reports; called on the thread that processes the audio.
struct CaptureEvents {
    std::function<void(qint16 level)> level;
    std::function<void(bool silent)> silence;
    // Audio was lost but the capture goes on (samples dropped, a conversion failed); told
    // once per kind and capture.
    std::function<void(const QString& text)> warning;
};

// Level of a stretch of audio from its RMS: dBFS mapped linearly, -60 dBFS and below -> 0,
// 0 dBFS -> 100.
qint16 LevelFromRms(double rms);
// Gain factor of a recording level: level / 5 dB.
double GainOfRecordLevel(int level);

// The work done on captured audio, in order: recording level gain, WAV writing, level every
// 100 ms, silence detection. Synchronous: the capture worker and the benchmark drive it.
class CapturePipeline {
public:
    CapturePipeline(int sampleRate, const CaptureSettings& settings, CaptureEvents events);
    ~CapturePipeline();
    CapturePipeline(const CapturePipeline&) = delete;
    CapturePipeline& operator=(const CapturePipeline&) = delete;

    // Creates the file (mono WAV, 8-bit unsigned or 16-bit). Empty text on success, else why.
    QString openFile(const QString& path, int bits);
    bool hasFile() const { return file_ != nullptr; }

    // False when the file could not take the samples: the file is then closed and error()
    // tells why; later calls still measure levels but write nothing.
    bool process(std::span<const std::int16_t> samples);
    // Writes what is gathered and rewrites the header so the file reads as complete up to
    // here. False on a write failure, as for process().
    bool updateHeader();
    // Writes what is left and completes the file; false when the last write failed.
    bool closeFile();
    const QString& error() const { return error_; }
    std::int64_t framesWritten() const { return framesWritten_; }  // written to the file

private:
    void endBlock();
    bool flush();

    static constexpr std::size_t kWriteBatch = 8192;

    const int sampleRate_;
    const CaptureSettings& settings_;
    CaptureEvents events_;
    SNDFILE* file_ = nullptr;
    QString error_;
    std::int64_t framesWritten_ = 0;
    std::vector<std::int16_t> scratch_;
    std::vector<std::int16_t> pending_;  // recorded, not yet written

    int blockFrames_;
    int blockFill_ = 0;
    std::int64_t blockSquares_ = 0;
    std::int64_t quietFrames_ = 0;
    bool silent_ = false;
};

}  // namespace kallomir
