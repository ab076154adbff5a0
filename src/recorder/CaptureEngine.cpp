#include "recorder/CaptureEngine.h"

#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"

namespace kallomir {

CaptureEngine::CaptureEngine(AppContext& ctx, TelephonyControl& tapi, WaveControl& wave)
    : ctx_(ctx), tapi_(tapi), wave_(wave) {}

QString CaptureEngine::captureFile() const {
    return ctx_.homeFile(QStringLiteral("Record.wav"));
}

bool CaptureEngine::StartWaveCapture(bool intoFile) {
    fileCapture_ = false;
    setStatusText(QStringLiteral("recording"));
    const qint32 format =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Record Format"), QStringLiteral("-1"))));
    if (format == -1) {
        ctx_.boxes.show(QStringLiteral("Formato Record non selezionato "));
        return false;
    }
    wave_.setRecordFormat(format);
    wave_.setFileName(intoFile ? captureFile() : QString());
    const qint32 input =
        ToInt32(Val(ctx_.settings.get(QStringLiteral("Sound Card Input"), QStringLiteral("-1"))));
    if (input == -1) {
        ctx_.boxes.show(QStringLiteral("Scheda audio non settata"));
        return false;
    }
    wave_.startCapture(input);
    wave_.startCapture(tapi_.waveInDevice());
    fileCapture_ = intoFile && wave_.isCapturing();
    return true;
}

void CaptureEngine::StopDevices() {
    fileCapture_ = false;
    try {
        wave_.stopCapture();
        wave_.closeCapture();
        tapi_.drop();
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("CommandStop_Click"));
    }
}

void CaptureEngine::CloseCapture() {
    fileCapture_ = false;
    wave_.closeCapture();
}

}  // namespace kallomir
