#pragma once

#include "controls/playback/PlaybackDevice.h"

namespace kallomir {

class PortAudioLibrary;

// The default output device through PortAudio. Construction throws RuntimeError when
// PortAudio did not start or there is no output device at all.
class PortAudioPlaybackDevice : public PlaybackDevice {
public:
    explicit PortAudioPlaybackDevice(const PortAudioLibrary& library);
    ~PortAudioPlaybackDevice() override;
    PortAudioPlaybackDevice(const PortAudioPlaybackDevice&) = delete;
    PortAudioPlaybackDevice& operator=(const PortAudioPlaybackDevice&) = delete;

    std::unique_ptr<PlaybackStream> open(int preferredRate, int channels, RenderFunction render,
                                         QString* error) override;
};

}  // namespace kallomir
