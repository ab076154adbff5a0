#include "settings/CapabilityReports.h"

#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"

#include <array>

namespace kallomir {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kTab = QStringLiteral("\t");
const QString kSupported = QStringLiteral("          Supported");

struct CapabilityRow {
    const char* label;
    qint32 bit;
    int tabs;
};

constexpr std::array<CapabilityRow, 5> kMediaModes{{
    {"Automated Voice ", 0x8, 2},
    {"Interactive Voice ", 0x4, 2},
    {"Data Modem ", 0x10, 2},
    {"G3 Fax ", 0x20, 3},
    {"G4 Fax ", 0x80, 3},
}};

constexpr std::array<CapabilityRow, 3> kGeneral{{
    {"Caller ID ", 0x1000, 3},
    {"Monitor DTMF Digits ", 0x2000, 1},
    {"Generate DTMF Digits ", 0x4000, 1},
}};

constexpr std::array<CapabilityRow, 8> kFormats{{
    {"8kHz, 8 Bit ", 1, 2},
    {"8kHz, 16 Bit ", 2, 2},
    {"11.25kHz, 8 Bit ", 4, 2},
    {"11.25kHz, 16 Bit ", 8, 2},
    {"22.05kHz, 8 Bit ", 16, 2},
    {"22.05kHz, 16 Bit ", 32, 2},
    {"44.1kHz, 8 Bit ", 64, 2},
    {"44.1kHz, 16 Bit ", 128, 2},
}};

QString Row(const CapabilityRow& row, qint32 mask) {
    return kTab + QString::fromLatin1(row.label) + kTab.repeated(row.tabs) +
           ((mask & row.bit) != 0 ? QStringLiteral("Yes") : QStringLiteral("No")) + kCrLf;
}

}  // namespace

QString LineCapabilitiesText(const std::function<qint32()>& readMask) {
    QString text = QStringLiteral("Media Mode Capabilities:") + kTab + kSupported + kCrLf;
    for (const CapabilityRow& row : kMediaModes) text += Row(row, readMask());
    text += kCrLf + QStringLiteral("General Capabilities:") + kTab + kSupported + kCrLf;
    for (const CapabilityRow& row : kGeneral) text += Row(row, readMask());
    return text;
}

QString LineCapabilitiesTitle(const QString& lineName) {
    return lineName + QStringLiteral(" Capabilities");
}

QString WaveCapabilitiesText(WaveDirection direction, const QString& deviceName, qint32 mask) {
    QString text = deviceName + kCrLf +
                   (direction == WaveDirection::Output
                        ? QStringLiteral("Natively supported play formats:")
                        : QStringLiteral("Natively supported record formats:")) +
                   kCrLf + kCrLf;
    for (const CapabilityRow& row : kFormats) text += Row(row, mask);
    return text;
}

QString WaveCapabilitiesTitle(WaveDirection direction) {
    return direction == WaveDirection::Output ? QStringLiteral("Wave Output Capabilities")
                                              : QStringLiteral("Wave Input Capabilities");
}

QString NoWaveDeviceText(WaveDirection direction) {
    return direction == WaveDirection::Output ? QStringLiteral("Periferica output non selezionata")
                                              : QStringLiteral("Periferica input non selezionata");
}

QString LineCapabilitiesErrorTitle() {
    return QStringLiteral("CommandCaps_Click");
}

QString WaveCapabilitiesErrorTitle(WaveDirection direction) {
    return direction == WaveDirection::Output ? QStringLiteral("CommandWaveOutCaps_Click")
                                              : QStringLiteral("CommandWaveInCaps_Click");
}

void ShowLineCapabilities(TelephonyControl& tapi, MessageBoxService& boxes) {
    try {
        QString text = LineCapabilitiesText([&tapi] { return tapi.capabilities(); });
        const QString registration = LineRegistrationText(tapi.registration());
        if (!registration.isEmpty())
            text += kCrLf + QStringLiteral("Registrazione:") + kTab + registration + kCrLf;
        boxes.show(text, LineCapabilitiesTitle(tapi.lineName()), MsgButtons::Ok, MsgIcon::None);
    } catch (const RuntimeError& error) {
        ReportError(boxes, error, LineCapabilitiesErrorTitle());
    }
}

void ShowWaveCapabilities(WaveDirection direction, bool useSoundCard, int soundCardPosition,
                          TelephonyControl& tapi, WaveControl& wave, MessageBoxService& boxes) {
    const bool output = direction == WaveDirection::Output;
    try {
        qint32 device = soundCardPosition;
        QString name = QStringLiteral("Sound Card");
        if (!useSoundCard) {
            tapi.setLineOpen(true);
            device = output ? tapi.waveOutDevice() : tapi.waveInDevice();
            name = tapi.lineName();
        }
        if (device == -1) {
            boxes.show(NoWaveDeviceText(direction));
            return;
        }
        const qint32 mask = output ? wave.outputFormats(device) : wave.inputFormats(device);
        boxes.show(WaveCapabilitiesText(direction, name, mask), WaveCapabilitiesTitle(direction),
                   MsgButtons::Ok, MsgIcon::None);
        tapi.setLineOpen(false);
    } catch (const RuntimeError& error) {
        ReportError(boxes, error, WaveCapabilitiesErrorTitle(direction));
        try {
            tapi.setLineOpen(false);
        } catch (const RuntimeError&) {
            // Already reported the failure that matters; the line stays as it is.
        }
    }
}

}  // namespace kallomir
