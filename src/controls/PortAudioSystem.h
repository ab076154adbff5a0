#pragma once

#include "controls/AudioSystem.h"

#include <QList>

namespace kallomir {

class PortAudioLibrary;

// The sound cards through PortAudio. The device lists are taken once, when it starts.
class PortAudioSystem : public AudioSystem {
public:
    explicit PortAudioSystem(const PortAudioLibrary& library);
    ~PortAudioSystem() override;
    PortAudioSystem(const PortAudioSystem&) = delete;
    PortAudioSystem& operator=(const PortAudioSystem&) = delete;

    bool available() const { return initialized_; }

    QStringList inputDeviceNames() const override;
    QStringList outputDeviceNames() const override;
    quint32 inputFormats(int device) const override;
    quint32 outputFormats(int device) const override;
    std::unique_ptr<AudioStream> openInput(int device, int sampleRate,
                                           AudioInputCallback callback) override;
    std::unique_ptr<AudioStream> openOutput(int device, int sampleRate, int channels,
                                            AudioOutputCallback callback) override;

private:
    struct Device {
        int index;  // PortAudio's device index
        QString name;
    };
    quint32 formatsOf(const QList<Device>& list, int device, bool input) const;

    bool initialized_ = false;
    QList<Device> inputs_;
    QList<Device> outputs_;
};

}  // namespace kallomir
