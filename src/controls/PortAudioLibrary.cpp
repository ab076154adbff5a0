#include "controls/PortAudioLibrary.h"

#include "controls/QuietAudioLibraries.h"

#include <portaudio.h>

namespace kallomir {

PortAudioLibrary::PortAudioLibrary() {
    QuietAudioLibraries();
    error_ = Pa_Initialize();
}

PortAudioLibrary::~PortAudioLibrary() {
    if (ok())
        Pa_Terminate();
}

QString PortAudioLibrary::errorText() const {
    return QString::fromUtf8(Pa_GetErrorText(error_));
}

}  // namespace kallomir
