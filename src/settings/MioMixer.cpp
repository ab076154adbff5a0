#include "settings/MioMixer.h"

#include <algorithm>
#include <cmath>

namespace kallomir {

bool MioMixer::GetMixerControl(MixerComponent component, MixerControlType type,
                               MixerControl& control) {
    if (!backend_.isOpen())
        return false;
    MixerControl found;
    if (!backend_.findControl(component, type, found))
        return false;
    control = found;
    return true;
}

bool MioMixer::SetControlValue(const MixerControl& control, std::int32_t value) {
    lastResult_ = backend_.setValue(control, 0, ToNative(control, value));
    return lastResult_ == 0;
}

bool MioMixer::SetControlValueStereo(const MixerControl& control, std::int32_t left,
                                     std::int32_t right) {
    lastResult_ = backend_.setValue(control, 0, ToNative(control, left));
    if (lastResult_ != 0)
        return false;
    // A mono control takes the left value only.
    if (control.channels > 1)
        lastResult_ = backend_.setValue(control, 1, ToNative(control, right));
    return lastResult_ == 0;
}

std::int32_t MioMixer::GetControlValue(const MixerControl& control) {
    long native = 0;
    lastResult_ = backend_.getValue(control, 0, native);
    if (lastResult_ != 0)
        return -1;
    return FromNative(control, native);
}

long MioMixer::ToNative(const MixerControl& control, std::int32_t value) {
    const long span = control.maximum - control.minimum;
    if (span <= 0)
        return control.minimum;
    const double clamped = std::clamp<std::int32_t>(value, 0, kFullScale);
    return control.minimum + std::lround(clamped * static_cast<double>(span) / kFullScale);
}

std::int32_t MioMixer::FromNative(const MixerControl& control, long native) {
    const long span = control.maximum - control.minimum;
    if (span <= 0)
        return 0;
    const double offset = std::clamp(native, control.minimum, control.maximum) - control.minimum;
    return static_cast<std::int32_t>(std::lround(offset * kFullScale / static_cast<double>(span)));
}

QString MixerPercentText(std::int32_t value) {
    return QString::number(static_cast<std::int64_t>(value) * 100 / MioMixer::kFullScale);
}

}  // namespace kallomir
