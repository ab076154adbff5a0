#include "support/TestAudioSystem.h"

#include "core/RuntimeError.h"
#include "support/ManualClock.h"

#include <algorithm>

namespace kallomir {

struct TestAudioSystem::Stream : AudioStream {
    Stream(TestAudioSystem& owner, bool isInput, int deviceIndex, int rate, int channelCount)
        : system(&owner),
          input(isInput),
          device(deviceIndex),
          sampleRateValue(rate),
          channels(channelCount) {
        system->streams_.append(this);
    }
    ~Stream() override { stop(); }
    void stop() override {
        if (system)
            system->streams_.removeOne(this);
        system = nullptr;
    }
    int sampleRate() const override { return sampleRateValue; }

    // Frames due for `ms` more milliseconds, carrying the fraction over.
    std::size_t framesFor(int ms) {
        carry += static_cast<qint64>(ms) * sampleRateValue;
        const qint64 frames = carry / 1000;
        carry %= 1000;
        return static_cast<std::size_t>(frames);
    }

    TestAudioSystem* system;
    bool input;
    int device;
    int sampleRateValue;
    int channels;
    qint64 carry = 0;
    std::size_t position = 0;
    AudioInputCallback inputCallback;
    AudioOutputCallback outputCallback;
};

TestAudioSystem::~TestAudioSystem() {
    for (Stream* stream : std::as_const(streams_)) stream->system = nullptr;
}

QStringList TestAudioSystem::inputDeviceNames() const {
    QStringList names;
    for (const Input& input : inputs_) names.append(input.name);
    return names;
}

QStringList TestAudioSystem::outputDeviceNames() const {
    QStringList names;
    for (const Output& output : outputs_) names.append(output.name);
    return names;
}

quint32 TestAudioSystem::inputFormats(int device) const {
    return device >= 0 && device < inputs_.size() ? inputs_.at(device).formats : 0;
}

quint32 TestAudioSystem::outputFormats(int device) const {
    return device >= 0 && device < outputs_.size() ? outputs_.at(device).formats : 0;
}

std::unique_ptr<AudioStream> TestAudioSystem::openInput(int device, int sampleRate,
                                                        AudioInputCallback callback) {
    if (device < 0 || device >= inputs_.size()) {
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("No input device %1").arg(device));
    }
    // A device with a sound delivers the sound's own rate, as a card with a fixed clock does.
    const int rate =
        inputs_.at(device).sound.sampleRate > 0 ? inputs_.at(device).sound.sampleRate : sampleRate;
    auto stream = std::make_unique<Stream>(*this, true, device, rate, 1);
    stream->inputCallback = std::move(callback);
    return stream;
}

std::unique_ptr<AudioStream> TestAudioSystem::openOutput(int device, int sampleRate, int channels,
                                                         AudioOutputCallback callback) {
    if (device < 0 || device >= outputs_.size()) {
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("No output device %1").arg(device));
    }
    auto stream = std::make_unique<Stream>(*this, false, device, sampleRate, std::max(1, channels));
    stream->outputCallback = std::move(callback);
    return stream;
}

void TestAudioSystem::advance(int ms) {
    while (ms > 0) {
        const int piece = std::min(ms, 20);
        step(piece);
        ms -= piece;
    }
}

void TestAudioSystem::step(int ms) {
    if (clock_)
        clock_->advanceMs(ms);
    const QList<Stream*> streams = streams_;  // a callback may stop its own stream
    for (Stream* stream : streams) {
        if (!streams_.contains(stream))
            continue;
        const std::size_t frames = stream->framesFor(ms);
        if (frames == 0)
            continue;
        if (stream->input) {
            const std::vector<std::int16_t>& sound = inputs_.at(stream->device).sound.samples;
            std::vector<std::int16_t> block(frames, 0);
            for (std::size_t i = 0; i < frames && stream->position < sound.size(); ++i) {
                block[i] = sound[stream->position++];
            }
            if (stream->inputCallback)
                stream->inputCallback(block);
        } else {
            std::vector<std::int16_t> block(frames * stream->channels, 0);
            if (stream->outputCallback)
                stream->outputCallback(block);
            if (played_.size() <= static_cast<std::size_t>(stream->device)) {
                played_.resize(stream->device + 1);
            }
            auto& sink = played_[stream->device];
            sink.insert(sink.end(), block.begin(), block.end());
        }
    }
}

const std::vector<std::int16_t>& TestAudioSystem::played(int device) const {
    static const std::vector<std::int16_t> kNone;
    return device >= 0 && static_cast<std::size_t>(device) < played_.size() ? played_[device]
                                                                            : kNone;
}

int TestAudioSystem::openInputStreams() const {
    return static_cast<int>(
        std::count_if(streams_.begin(), streams_.end(), [](Stream* s) { return s->input; }));
}

int TestAudioSystem::openOutputStreams() const {
    return static_cast<int>(
        std::count_if(streams_.begin(), streams_.end(), [](Stream* s) { return !s->input; }));
}

}  // namespace kallomir
