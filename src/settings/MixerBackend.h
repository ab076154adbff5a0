#pragma once

#include <QString>

#include <cstdint>

namespace kallomir {

// The mixer lines and control kinds the program asks for, with the numbers operators'
// documentation uses for them.
enum class MixerComponent : std::uint32_t {
    Speakers = 4,      // the card's main output
    WaveOut = 0x1008,  // the wave-output source feeding it
};

enum class MixerControlType : std::uint32_t {
    Volume = 0x50030001,
    Bass = 0x50030002,
    Treble = 0x50030003,
};

// One control found on the card: what it is and its native value range.
struct MixerControl {
    int id = -1;  // the backend's own handle for the control
    MixerComponent component = MixerComponent::Speakers;
    MixerControlType type = MixerControlType::Volume;
    long minimum = 0;
    long maximum = 0;
    int channels = 0;
    QString name;  // the card's own name for it, for diagnostics
};

// The card's mixer as the program needs it: open one device, find a control by line and
// kind, read and write channel values in the control's native range.
class MixerBackend {
public:
    virtual ~MixerBackend() = default;
    // Opens mixer device number `device`; 0 on success, otherwise the platform's error code.
    virtual int open(int device) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool findControl(MixerComponent component, MixerControlType type,
                             MixerControl& control) = 0;
    // 0 on success, otherwise an error code; channel 0 is the left (or only) channel.
    virtual int getValue(const MixerControl& control, int channel, long& value) = 0;
    virtual int setValue(const MixerControl& control, int channel, long value) = 0;
};

}  // namespace kallomir
