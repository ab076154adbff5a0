#include "controls/PortAudioSystem.h"

#include "controls/PortAudioLibrary.h"
#include "controls/RecordFormat.h"
#include "core/RuntimeError.h"

#include <portaudio.h>

namespace kallomir {

namespace {

// ALSA prints dozens of probing complaints while PortAudio looks for devices.
RuntimeError DeviceError(PaError code, const QString& what) {
    return RuntimeError(errors::kDeviceIo, QStringLiteral("%1: %2").arg(
                                               what, QString::fromUtf8(Pa_GetErrorText(code))));
}

class PaStreamHandle : public AudioStream {
public:
    PaStreamHandle(int rate, AudioInputCallback input, AudioOutputCallback output, int channels)
        : rate_(rate), input_(std::move(input)), output_(std::move(output)), channels_(channels) {}
    ~PaStreamHandle() override { stop(); }

    void stop() override {
        if (!stream_)
            return;
        Pa_StopStream(stream_);  // waits for the callback to finish
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }
    int sampleRate() const override { return rate_; }

    static int Callback(const void* in, void* out, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        auto* handle = static_cast<PaStreamHandle*>(self);
        if (in && handle->input_) {
            handle->input_(
                std::span<const std::int16_t>(static_cast<const std::int16_t*>(in), frames));
        }
        if (out) {
            auto* buffer = static_cast<std::int16_t*>(out);
            const std::size_t total = frames * static_cast<std::size_t>(handle->channels_);
            std::size_t done = 0;
            if (handle->output_) {
                done = handle->output_(std::span<std::int16_t>(buffer, total)) *
                       static_cast<std::size_t>(handle->channels_);
            }
            std::fill(buffer + std::min(done, total), buffer + total, std::int16_t{0});
        }
        return paContinue;
    }

    PaStream* stream_ = nullptr;

private:
    int rate_;
    AudioInputCallback input_;
    AudioOutputCallback output_;
    int channels_;
};

}  // namespace

PortAudioSystem::PortAudioSystem(const PortAudioLibrary& library) {
    initialized_ = library.ok();
    if (!initialized_)
        return;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info)
            continue;
        const QString name = QString::fromUtf8(info->name);
        if (info->maxInputChannels > 0)
            inputs_.append({i, name});
        if (info->maxOutputChannels > 0)
            outputs_.append({i, name});
    }
}

PortAudioSystem::~PortAudioSystem() = default;

QStringList PortAudioSystem::inputDeviceNames() const {
    QStringList names;
    for (const Device& device : inputs_) names.append(device.name);
    return names;
}

QStringList PortAudioSystem::outputDeviceNames() const {
    QStringList names;
    for (const Device& device : outputs_) names.append(device.name);
    return names;
}

quint32 PortAudioSystem::formatsOf(const QList<Device>& list, int device, bool input) const {
    if (device < 0 || device >= list.size())
        return 0;
    quint32 mask = 0;
    for (const RecordFormat& format : kRecordFormats) {
        PaStreamParameters parameters{};
        parameters.device = list.at(device).index;
        parameters.channelCount = 1;
        parameters.sampleFormat = format.bits == 8 ? paUInt8 : paInt16;
        const PaError result = input
                                   ? Pa_IsFormatSupported(&parameters, nullptr, format.sampleRate)
                                   : Pa_IsFormatSupported(nullptr, &parameters, format.sampleRate);
        if (result == paFormatIsSupported)
            mask |= static_cast<quint32>(format.code);
    }
    return mask;
}

quint32 PortAudioSystem::inputFormats(int device) const {
    return formatsOf(inputs_, device, true);
}

quint32 PortAudioSystem::outputFormats(int device) const {
    return formatsOf(outputs_, device, false);
}

std::unique_ptr<AudioStream> PortAudioSystem::openInput(int device, int sampleRate,
                                                        AudioInputCallback callback) {
    if (device < 0 || device >= inputs_.size()) {
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("No input device %1").arg(device));
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(inputs_.at(device).index);
    PaStreamParameters parameters{};
    parameters.device = inputs_.at(device).index;
    parameters.channelCount = 1;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info ? info->defaultHighInputLatency : 0.1;
    // A card that does not take the wanted rate records at its own; the capture converts.
    double rate = sampleRate;
    if (Pa_IsFormatSupported(&parameters, nullptr, rate) != paFormatIsSupported && info) {
        rate = info->defaultSampleRate;
    }
    auto handle =
        std::make_unique<PaStreamHandle>(static_cast<int>(rate), std::move(callback), nullptr, 1);
    PaError error =
        Pa_OpenStream(&handle->stream_, &parameters, nullptr, rate, paFramesPerBufferUnspecified,
                      paNoFlag, &PaStreamHandle::Callback, handle.get());
    if (error != paNoError) {
        handle->stream_ = nullptr;
        throw DeviceError(error, inputs_.at(device).name);
    }
    error = Pa_StartStream(handle->stream_);
    if (error != paNoError)
        throw DeviceError(error, inputs_.at(device).name);
    return handle;
}

std::unique_ptr<AudioStream> PortAudioSystem::openOutput(int device, int sampleRate, int channels,
                                                         AudioOutputCallback callback) {
    if (device < 0 || device >= outputs_.size()) {
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("No output device %1").arg(device));
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(outputs_.at(device).index);
    PaStreamParameters parameters{};
    parameters.device = outputs_.at(device).index;
    parameters.channelCount = std::max(1, channels);
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info ? info->defaultLowOutputLatency : 0.05;
    auto handle = std::make_unique<PaStreamHandle>(sampleRate, nullptr, std::move(callback),
                                                   parameters.channelCount);
    PaError error = Pa_OpenStream(&handle->stream_, nullptr, &parameters, sampleRate,
                                  paFramesPerBufferUnspecified, paNoFlag, &PaStreamHandle::Callback,
                                  handle.get());
    if (error != paNoError) {
        handle->stream_ = nullptr;
        throw DeviceError(error, outputs_.at(device).name);
    }
    error = Pa_StartStream(handle->stream_);
    if (error != paNoError)
        throw DeviceError(error, outputs_.at(device).name);
    return handle;
}

}  // namespace kallomir
