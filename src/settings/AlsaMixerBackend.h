#pragma once

#include "settings/MixerBackend.h"

#include <QString>

#include <vector>

struct _snd_mixer;
struct _snd_mixer_elem;

namespace kallomir {

// The card's mixer through the ALSA simple-mixer interface. Device 0 is ALSA's "default"
// control device (with PulseAudio running, the server's own mixer) and any other number n
// is card "hw:n-1", unless a device name is given explicitly.
class AlsaMixerBackend : public MixerBackend {
public:
    explicit AlsaMixerBackend(QString deviceName = {});
    ~AlsaMixerBackend() override;
    AlsaMixerBackend(const AlsaMixerBackend&) = delete;
    AlsaMixerBackend& operator=(const AlsaMixerBackend&) = delete;

    int open(int device) override;
    void close() override;
    bool isOpen() const override { return mixer_ != nullptr; }
    bool findControl(MixerComponent component, MixerControlType type,
                     MixerControl& control) override;
    int getValue(const MixerControl& control, int channel, long& value) override;
    int setValue(const MixerControl& control, int channel, long value) override;

    // The ALSA device name the given mixer number opens.
    QString deviceFor(int device) const;

private:
    _snd_mixer_elem* element(const MixerControl& control) const;

    QString deviceName_;
    _snd_mixer* mixer_ = nullptr;
    std::vector<_snd_mixer_elem*> elements_;  // indexed by MixerControl::id
};

}  // namespace kallomir
