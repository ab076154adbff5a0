#include "controls/playback/TempoStage.h"

#include <soundtouch/SoundTouch.h>

namespace kallomir {

TempoStage::TempoStage(int sampleRate, int channels)
    : touch_(std::make_unique<soundtouch::SoundTouch>()) {
    touch_->setSampleRate(static_cast<unsigned>(sampleRate));
    touch_->setChannels(static_cast<unsigned>(channels));
    // Speech: short sequences keep syllables crisp; the full seek (no quick seek) finds the
    // best overlap, which costs little at telephone rates.
    touch_->setSetting(SETTING_USE_QUICKSEEK, 0);
    touch_->setSetting(SETTING_SEQUENCE_MS, 40);
    touch_->setSetting(SETTING_SEEKWINDOW_MS, 15);
    touch_->setSetting(SETTING_OVERLAP_MS, 8);
    touch_->setTempo(1.0);
}

TempoStage::~TempoStage() = default;

void TempoStage::setTempo(double tempo) {
    tempo_ = tempo;
    touch_->setTempo(tempo);
}

void TempoStage::clear() {
    touch_->clear();
}

void TempoStage::put(const float* frames, long count) {
    if (count > 0)
        touch_->putSamples(frames, static_cast<unsigned>(count));
}

long TempoStage::receive(float* into, long max) {
    if (max <= 0)
        return 0;
    return static_cast<long>(touch_->receiveSamples(into, static_cast<unsigned>(max)));
}

long TempoStage::available() const {
    return static_cast<long>(touch_->numSamples());
}

void TempoStage::flush() {
    touch_->flush();
}

}  // namespace kallomir
