#include "settings/AlsaMixerBackend.h"

#include <alsa/asoundlib.h>

#include <cerrno>

namespace kallomir {

namespace {

// Simple-mixer element names that carry each control, most usual first.
std::vector<const char*> CandidateNames(MixerComponent component, MixerControlType type) {
    if (component == MixerComponent::WaveOut)
        return {"PCM", "Wave"};
    switch (type) {
        case MixerControlType::Volume:
            return {"Master", "Speaker", "Front"};
        case MixerControlType::Bass:
            return {"Bass", "Tone Control - Bass"};
        case MixerControlType::Treble:
            return {"Treble", "Tone Control - Treble"};
    }
    return {};
}

snd_mixer_selem_channel_id_t ChannelId(int channel) {
    return channel == 0 ? SND_MIXER_SCHN_FRONT_LEFT : SND_MIXER_SCHN_FRONT_RIGHT;
}

}  // namespace

AlsaMixerBackend::AlsaMixerBackend(QString deviceName) : deviceName_(std::move(deviceName)) {}

AlsaMixerBackend::~AlsaMixerBackend() {
    close();
}

QString AlsaMixerBackend::deviceFor(int device) const {
    if (!deviceName_.isEmpty())
        return deviceName_;
    if (device <= 0)
        return QStringLiteral("default");
    return QStringLiteral("hw:%1").arg(device - 1);
}

int AlsaMixerBackend::open(int device) {
    close();
    if (device < 0)
        return -EINVAL;
    snd_mixer_t* mixer = nullptr;
    int rc = snd_mixer_open(&mixer, 0);
    if (rc < 0)
        return rc;
    const QByteArray name = deviceFor(device).toLocal8Bit();
    if ((rc = snd_mixer_attach(mixer, name.constData())) < 0 ||
        (rc = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 ||
        (rc = snd_mixer_load(mixer)) < 0) {
        snd_mixer_close(mixer);
        return rc;
    }
    mixer_ = mixer;
    return 0;
}

void AlsaMixerBackend::close() {
    if (mixer_ != nullptr)
        snd_mixer_close(mixer_);
    mixer_ = nullptr;
    elements_.clear();
}

bool AlsaMixerBackend::findControl(MixerComponent component, MixerControlType type,
                                   MixerControl& control) {
    if (mixer_ == nullptr)
        return false;
    snd_mixer_selem_id_t* sid = nullptr;
    snd_mixer_selem_id_alloca(&sid);
    for (const char* candidate : CandidateNames(component, type)) {
        snd_mixer_selem_id_set_index(sid, 0);
        snd_mixer_selem_id_set_name(sid, candidate);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer_, sid);
        if (elem == nullptr || !snd_mixer_selem_has_playback_volume(elem))
            continue;
        long minimum = 0;
        long maximum = 0;
        if (snd_mixer_selem_get_playback_volume_range(elem, &minimum, &maximum) < 0)
            continue;
        control.id = static_cast<int>(elements_.size());
        elements_.push_back(elem);
        control.component = component;
        control.type = type;
        control.minimum = minimum;
        control.maximum = maximum;
        control.channels = snd_mixer_selem_is_playback_mono(elem) ? 1 : 2;
        control.name = QString::fromLatin1(candidate);
        return true;
    }
    return false;
}

snd_mixer_elem_t* AlsaMixerBackend::element(const MixerControl& control) const {
    if (control.id < 0 || static_cast<std::size_t>(control.id) >= elements_.size())
        return nullptr;
    return elements_[static_cast<std::size_t>(control.id)];
}

int AlsaMixerBackend::getValue(const MixerControl& control, int channel, long& value) {
    snd_mixer_elem_t* elem = element(control);
    if (elem == nullptr)
        return -EINVAL;
    // Pick up changes made elsewhere since the mixer was loaded.
    snd_mixer_handle_events(mixer_);
    const auto id =
        snd_mixer_selem_is_playback_mono(elem) ? SND_MIXER_SCHN_MONO : ChannelId(channel);
    return snd_mixer_selem_get_playback_volume(elem, id, &value);
}

int AlsaMixerBackend::setValue(const MixerControl& control, int channel, long value) {
    snd_mixer_elem_t* elem = element(control);
    if (elem == nullptr)
        return -EINVAL;
    if (snd_mixer_selem_is_playback_mono(elem))
        return snd_mixer_selem_set_playback_volume_all(elem, value);
    return snd_mixer_selem_set_playback_volume(elem, ChannelId(channel), value);
}

}  // namespace kallomir
