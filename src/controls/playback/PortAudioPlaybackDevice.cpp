#include "controls/playback/PortAudioPlaybackDevice.h"

#include "controls/PortAudioLibrary.h"
#include "core/RuntimeError.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kallomir {

namespace {

// ALSA reports every probe PortAudio makes on stderr; none of it concerns the operator.
class PortAudioStream : public PlaybackStream {
public:
    PortAudioStream(PaStream* stream, int rate, int channels, int deviceChannels,
                    RenderFunction render)
        : stream_(stream),
          rate_(rate),
          channels_(channels),
          deviceChannels_(deviceChannels),
          render_(std::move(render)),
          mono_(deviceChannels != channels ? kMonoBlock : 0) {}
    ~PortAudioStream() override {
        if (!stream_)
            return;
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
    }

    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* self) {
        auto* s = static_cast<PortAudioStream*>(self);
        auto* out = static_cast<float*>(output);
        const double dac = time ? time->outputBufferDacTime : 0.0;
        if (s->deviceChannels_ == s->channels_) {
            return s->render_(out, frames, dac) ? paContinue : paComplete;
        }
        // A mono recording on a device that only plays stereo: the same sample on both sides.
        bool more = true;
        for (unsigned long done = 0; done < frames;) {
            const unsigned long n = std::min<unsigned long>(frames - done, kMonoBlock);
            if (more) {
                more = s->render_(s->mono_.data(), n, dac + static_cast<double>(done) / s->rate_);
            } else {
                std::fill(s->mono_.begin(), s->mono_.begin() + static_cast<long>(n), 0.0f);
            }
            for (unsigned long i = 0; i < n; ++i) {
                for (int c = 0; c < s->deviceChannels_; ++c) {
                    out[(done + i) * static_cast<unsigned long>(s->deviceChannels_) +
                        static_cast<unsigned long>(c)] = s->mono_[i];
                }
            }
            done += n;
        }
        return more ? paContinue : paComplete;
    }

    bool start() override {
        // A stream that ran out by itself must be stopped before it can start again.
        if (Pa_IsStreamStopped(stream_) == 0)
            Pa_AbortStream(stream_);
        return Pa_StartStream(stream_) == paNoError;
    }
    void stop() override {
        if (Pa_IsStreamStopped(stream_) == 0)
            Pa_AbortStream(stream_);
    }
    bool isActive() const override { return Pa_IsStreamActive(stream_) == 1; }
    double time() const override { return Pa_GetStreamTime(stream_); }
    int sampleRate() const override { return rate_; }

    static constexpr unsigned long kMonoBlock = 1024;
    PaStream* stream_;
    int rate_;
    int channels_;
    int deviceChannels_;
    RenderFunction render_;
    std::vector<float> mono_;
};

}  // namespace

PortAudioPlaybackDevice::PortAudioPlaybackDevice(const PortAudioLibrary& library) {
    if (!library.ok())
        throw RuntimeError(library.error(), library.errorText());
    if (Pa_GetDefaultOutputDevice() == paNoDevice)
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("Nessun dispositivo di uscita audio"));
}

PortAudioPlaybackDevice::~PortAudioPlaybackDevice() = default;

std::unique_ptr<PlaybackStream> PortAudioPlaybackDevice::open(int preferredRate, int channels,
                                                              RenderFunction render,
                                                              QString* error) {
    PaStreamParameters params;
    std::memset(&params, 0, sizeof params);
    params.device = Pa_GetDefaultOutputDevice();
    if (params.device == paNoDevice) {
        if (error)
            *error = QStringLiteral("Nessun dispositivo di uscita audio");
        return nullptr;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(params.device);
    params.channelCount = channels;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = info ? info->defaultLowOutputLatency : 0.05;
    double rate = preferredRate;
    if (Pa_IsFormatSupported(nullptr, &params, rate) != paFormatIsSupported && info) {
        rate = info->defaultSampleRate;
        // Some sound cards play only stereo: a mono recording is then sent to both sides.
        if (channels == 1 && Pa_IsFormatSupported(nullptr, &params, rate) != paFormatIsSupported) {
            params.channelCount = 2;
        }
    }
    auto holder = std::make_unique<PortAudioStream>(nullptr, static_cast<int>(rate), channels,
                                                    params.channelCount, std::move(render));
    PaStream* stream = nullptr;
    const PaError err = Pa_OpenStream(&stream, nullptr, &params, rate, 512, paNoFlag,
                                      &PortAudioStream::Callback, holder.get());
    if (err != paNoError) {
        if (error)
            *error = QString::fromUtf8(Pa_GetErrorText(err));
        holder->stream_ = nullptr;
        return nullptr;
    }
    holder->stream_ = stream;
    return holder;
}

}  // namespace kallomir
