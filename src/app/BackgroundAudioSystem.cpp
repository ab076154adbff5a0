#include "app/BackgroundAudioSystem.h"

namespace kallomir {

BackgroundAudioSystem::BackgroundAudioSystem(Make make)
    : starting_(std::async(std::launch::async, std::move(make))) {}

BackgroundAudioSystem::~BackgroundAudioSystem() {
    // The worker must not outlive the object it is building.
    if (starting_.valid())
        starting_.wait();
}

AudioSystem& BackgroundAudioSystem::ready() const {
    if (!system_)
        system_ = starting_.get();
    return *system_;
}

}  // namespace kallomir
