#include "support/TestMixerBackend.h"

#include <cerrno>

namespace kallomir {

void TestMixerBackend::addControl(MixerComponent component, MixerControlType type, long minimum,
                                  long maximum, long value, int channels) {
    Entry entry;
    entry.control.id = static_cast<int>(controls_.size());
    entry.control.component = component;
    entry.control.type = type;
    entry.control.minimum = minimum;
    entry.control.maximum = maximum;
    entry.control.channels = channels;
    entry.values[0] = entry.values[1] = value;
    controls_[{component, type}] = entry;
}

long TestMixerBackend::value(MixerComponent component, MixerControlType type, int channel) const {
    const auto it = controls_.find({component, type});
    return it == controls_.end() ? -1 : it->second.values[channel == 0 ? 0 : 1];
}

int TestMixerBackend::open(int device) {
    ++openCount_;
    if (openResult_ != 0)
        return openResult_;
    if (device != 0)
        return -ENODEV;
    open_ = true;
    return 0;
}

bool TestMixerBackend::findControl(MixerComponent component, MixerControlType type,
                                   MixerControl& control) {
    if (!open_)
        return false;
    const auto it = controls_.find({component, type});
    if (it == controls_.end())
        return false;
    control = it->second.control;
    return true;
}

TestMixerBackend::Entry* TestMixerBackend::entryFor(const MixerControl& control) {
    const auto it = controls_.find({control.component, control.type});
    if (!open_ || it == controls_.end() || it->second.control.id != control.id)
        return nullptr;
    return &it->second;
}

int TestMixerBackend::getValue(const MixerControl& control, int channel, long& value) {
    Entry* entry = entryFor(control);
    if (entry == nullptr || failReads_)
        return -EIO;
    value = entry->values[channel == 0 ? 0 : 1];
    return 0;
}

int TestMixerBackend::setValue(const MixerControl& control, int channel, long value) {
    Entry* entry = entryFor(control);
    if (entry == nullptr || failWrites_)
        return -EIO;
    if (value < entry->control.minimum || value > entry->control.maximum)
        return -ERANGE;
    entry->values[channel == 0 ? 0 : 1] = value;
    if (entry->control.channels == 1)
        entry->values[1] = value;
    writes_.push_back({control.component, control.type, channel, value});
    return 0;
}

}  // namespace kallomir
