#pragma once

#include "core/RuntimeError.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace kallomir::test {

inline QString DataFile(const QString& name) {
    return QStringLiteral(KALLOMIR_TEST_DATA_DIR "/") + name;
}

// Writes mono 16-bit samples as a WAV file.
inline void WriteWav(const QString& path, const std::vector<std::int16_t>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        throw RuntimeError(1, QStringLiteral("cannot write test wav"));
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

struct WavContents {
    SF_INFO info{};
    std::vector<std::int16_t> samples;
    bool ok = false;
};

inline WavContents ReadWav(const QString& path) {
    WavContents result;
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &result.info);
    if (!file)
        return result;
    result.samples.resize(static_cast<std::size_t>(result.info.frames * result.info.channels));
    sf_read_short(file, result.samples.data(), static_cast<sf_count_t>(result.samples.size()));
    sf_close(file);
    result.ok = true;
    return result;
}

inline double Rms(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    for (const std::int16_t s : samples) sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// Delivers everything queued for this thread (control events are always queued).
inline void DeliverEvents() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

}  // namespace kallomir::test
