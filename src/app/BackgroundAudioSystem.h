#pragma once

#include "controls/AudioSystem.h"

#include <functional>
#include <future>
#include <memory>

namespace kallomir {

// Starts the sound system on a worker thread while the splash and the login window show
// (probing the sound cards takes a noticeable fraction of a second), and hands every call
// on to it once it is ready. The first call waits for the start to finish.
class BackgroundAudioSystem : public AudioSystem {
public:
    using Make = std::function<std::unique_ptr<AudioSystem>()>;
    explicit BackgroundAudioSystem(Make make);
    ~BackgroundAudioSystem() override;

    QStringList inputDeviceNames() const override { return ready().inputDeviceNames(); }
    QStringList outputDeviceNames() const override { return ready().outputDeviceNames(); }
    quint32 inputFormats(int device) const override { return ready().inputFormats(device); }
    quint32 outputFormats(int device) const override { return ready().outputFormats(device); }
    std::unique_ptr<AudioStream> openInput(int device, int sampleRate,
                                           AudioInputCallback callback) override {
        return ready().openInput(device, sampleRate, std::move(callback));
    }
    std::unique_ptr<AudioStream> openOutput(int device, int sampleRate, int channels,
                                            AudioOutputCallback callback) override {
        return ready().openOutput(device, sampleRate, channels, std::move(callback));
    }

    // Waits until the sound system has started.
    AudioSystem& ready() const;

private:
    mutable std::future<std::unique_ptr<AudioSystem>> starting_;
    mutable std::unique_ptr<AudioSystem> system_;
};

}  // namespace kallomir
