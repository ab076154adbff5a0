#pragma once

#include "controls/AudioSystem.h"
#include "controls/WavSamples.h"

#include <QList>

#include <memory>

namespace kallomir {

class ManualClock;

// Sound cards for tests and demos without a card: each input plays a sound file (then
// silence) and each output consumes what it is given, both only when advance() is called, so
// a test moves audio time exactly as it moves the clock. Everything runs on the caller's
// thread.
class TestAudioSystem : public AudioSystem {
public:
    struct Input {
        QString name;
        MonoSamples sound;       // played from the start each time the input is opened
        quint32 formats = 0xFF;  // format bits reported for the device
    };
    struct Output {
        QString name;
        quint32 formats = 0xFF;
    };

    explicit TestAudioSystem(ManualClock* clock = nullptr) : clock_(clock) {}
    ~TestAudioSystem() override;

    void addInput(Input input) { inputs_.append(std::move(input)); }
    void addOutput(Output output) { outputs_.append(std::move(output)); }

    // Moves audio time on: open inputs deliver, open outputs consume `ms` worth of frames, in
    // pieces of at most 20 ms. The clock, when given, moves along.
    void advance(int ms);

    // Everything an output device consumed so far (interleaved), and how many streams are open.
    const std::vector<std::int16_t>& played(int device) const;
    int openInputStreams() const;
    int openOutputStreams() const;

    QStringList inputDeviceNames() const override;
    QStringList outputDeviceNames() const override;
    quint32 inputFormats(int device) const override;
    quint32 outputFormats(int device) const override;
    std::unique_ptr<AudioStream> openInput(int device, int sampleRate,
                                           AudioInputCallback callback) override;
    std::unique_ptr<AudioStream> openOutput(int device, int sampleRate, int channels,
                                            AudioOutputCallback callback) override;

    struct Stream;  // one open stream

private:
    friend struct Stream;
    void step(int ms);

    ManualClock* clock_;
    QList<Input> inputs_;
    QList<Output> outputs_;
    QList<Stream*> streams_;
    std::vector<std::vector<std::int16_t>> played_;
};

}  // namespace kallomir
