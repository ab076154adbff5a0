#pragma once

#include "settings/MixerBackend.h"

#include <QString>

#include <cstdint>

namespace kallomir {

// The four small mixer operations of the mixer window. Values are on the program's scale,
// 0 to 65535, whatever the card's own range; the result code of the latest get or set
// (0 = success) is kept like the rest of the program expects.
class MioMixer {
public:
    static constexpr std::int32_t kFullScale = 65535;

    explicit MioMixer(MixerBackend& backend) : backend_(backend) {}

    bool GetMixerControl(MixerComponent component, MixerControlType type, MixerControl& control);
    bool SetControlValue(const MixerControl& control, std::int32_t value);
    bool SetControlValueStereo(const MixerControl& control, std::int32_t left, std::int32_t right);
    // The left (or only) channel's value, -1 when the card reports an error.
    std::int32_t GetControlValue(const MixerControl& control);

    int lastResult() const { return lastResult_; }
    MixerBackend& backend() { return backend_; }

    // Conversions between the program's scale and a control's native range; values outside
    // either range are clamped first.
    static long ToNative(const MixerControl& control, std::int32_t value);
    static std::int32_t FromNative(const MixerControl& control, long native);

private:
    MixerBackend& backend_;
    int lastResult_ = 0;
};

// Percent text of a mixer value: (v * 100) \ 65535 ("50" for 32768, "100" for 65535).
QString MixerPercentText(std::int32_t value);

}  // namespace kallomir
