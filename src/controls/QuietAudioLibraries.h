#pragma once

#include <QtGlobal>

#include <alsa/asoundlib.h>

#include <dlfcn.h>

namespace kallomir {

namespace quiet_detail {
inline void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
inline void IgnoreJack(const char*) {}
}  // namespace quiet_detail

// PortAudio probes every host API it was built with. Where no JACK server runs (the usual
// case), libjack and ALSA's plugins print a screen of errors on every start; the program
// reports the device errors that matter itself. Call before Pa_Initialize.
inline void QuietAudioLibraries() {
    snd_lib_error_set_handler(&quiet_detail::IgnoreAlsa);
    // No JACK server is started on our behalf just to list its devices.
    qputenv("JACK_NO_START_SERVER", "1");
    // libjack comes in with PortAudio when it was built with JACK; looked up, not linked,
    // so a PortAudio without it works the same.
    using JackMessageSink = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (auto set = reinterpret_cast<JackMessageSink>(dlsym(RTLD_DEFAULT, name)))
            set(&quiet_detail::IgnoreJack);
    }
}

}  // namespace kallomir
