#pragma once

#include <QString>

namespace kallomir {

// PortAudio itself, initialised once for the whole program by the wiring place, before any
// window can use sound, and terminated when the last user is gone. Every PortAudio user
// (the sound cards, the player's output) takes it, so none initialises the library on its
// own thread.
class PortAudioLibrary {
public:
    PortAudioLibrary();
    ~PortAudioLibrary();
    PortAudioLibrary(const PortAudioLibrary&) = delete;
    PortAudioLibrary& operator=(const PortAudioLibrary&) = delete;

    bool ok() const { return error_ == 0; }
    int error() const { return error_; }  // PortAudio's error code; 0 when it started
    QString errorText() const;

private:
    int error_ = 0;
};

}  // namespace kallomir
