#pragma once

#include <QString>

#include <functional>

namespace kallomir {

struct AppContext;
class TelephonyControl;
class WaveControl;

// Starts and stops the capture through the recorder window's two controls. The settings
// "Record Format" and "Sound Card Input" are read afresh at every start.
class CaptureEngine {
public:
    CaptureEngine(AppContext& ctx, TelephonyControl& tapi, WaveControl& wave);

    // Shows the capture status ("recording" at each start).
    std::function<void(const QString&)> setStatusText = [](const QString&) {};

    // The temporary capture file: the program's folder + "/Record.wav".
    QString captureFile() const;

    // Format, target (the capture file, or none for level monitoring only), then member 8
    // with the sound-card input and again with the line's wave input. False, after the
    // message, when no format or no input is chosen. Control errors reach the caller.
    bool StartWaveCapture(bool intoFile);
    // True when the last start began a capture into the file and nothing closed it since:
    // only then does the file hold the current recording.
    bool fileCaptureRunning() const { return fileCapture_; }

    // Stop (9), close (10), drop the call (7); errors in a box titled "CommandStop_Click".
    void StopDevices();
    // Close only (10): the call stays up.
    void CloseCapture();

private:
    AppContext& ctx_;
    TelephonyControl& tapi_;
    WaveControl& wave_;
    bool fileCapture_ = false;
};

}  // namespace kallomir
