#include "controls/WavSamples.h"

#include "core/RuntimeError.h"

#include <samplerate.h>
#include <sndfile.h>

#include <cmath>

namespace kallomir {

MonoSamples ReadMonoSamples(const QString& path, int targetRate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!file) {
        throw RuntimeError(errors::kFileNotFound,
                           QStringLiteral("Cannot read %1: %2").arg(path, sf_strerror(nullptr)));
    }
    const int channels = std::max(1, info.channels);
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);

    std::vector<float> mono(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        float sum = 0.0F;
        for (int c = 0; c < channels; ++c) sum += frames[i * channels + c];
        mono[i] = sum / channels;
    }

    MonoSamples result;
    result.sampleRate = info.samplerate;
    if (targetRate > 0 && targetRate != info.samplerate && !mono.empty()) {
        const double ratio = static_cast<double>(targetRate) / info.samplerate;
        std::vector<float> converted(static_cast<std::size_t>(std::ceil(mono.size() * ratio)) + 16);
        SRC_DATA data{};
        data.data_in = mono.data();
        data.input_frames = static_cast<long>(mono.size());
        data.data_out = converted.data();
        data.output_frames = static_cast<long>(converted.size());
        data.src_ratio = ratio;
        const int error = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
        if (error != 0) {
            throw RuntimeError(errors::kDeviceIo, QString::fromLatin1(src_strerror(error)));
        }
        converted.resize(static_cast<std::size_t>(data.output_frames_gen));
        mono = std::move(converted);
        result.sampleRate = targetRate;
    }
    result.samples.resize(mono.size());
    src_float_to_short_array(mono.data(), result.samples.data(), static_cast<int>(mono.size()));
    return result;
}

}  // namespace kallomir
