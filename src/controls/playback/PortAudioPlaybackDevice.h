#pragma once

#include "controls/playback/PlaybackDevice.h"

namespace kallomir {

// The default output device through PortAudio. Construction initialises PortAudio and
// throws RuntimeError when it fails or there is no output device at all.
class PortAudioPlaybackDevice : public PlaybackDevice {
public:
    PortAudioPlaybackDevice();
    ~PortAudioPlaybackDevice() override;
    PortAudioPlaybackDevice(const PortAudioPlaybackDevice&) = delete;
    PortAudioPlaybackDevice& operator=(const PortAudioPlaybackDevice&) = delete;

    std::unique_ptr<PlaybackStream> open(int preferredRate, int channels, RenderFunction render,
                                         QString* error) override;
};

}  // namespace kallomir
