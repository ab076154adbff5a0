#pragma once

#include "controls/LineBackend.h"
#include "controls/LineRegistrationText.h"

#include <QString>

#include <functional>

namespace kallomir {

class MessageBoxService;
class TelephonyControl;
class WaveControl;

// The capability reports of the settings dialog, as plain texts. Each row says "Yes" when
// the mask has the row's bit set.

// The line report; readMask is asked anew for every row, as the control is. The report ends
// with the line's registration (LineRegistrationText) when the line registers.
QString LineCapabilitiesText(const std::function<qint32()>& readMask);
// The box title of the line report: the line's name, a blank and "Capabilities".
QString LineCapabilitiesTitle(const QString& lineName);

enum class WaveDirection { Output, Input };

// deviceName heads the report ("Sound Card" or the line's name).
QString WaveCapabilitiesText(WaveDirection direction, const QString& deviceName, qint32 mask);
QString WaveCapabilitiesTitle(WaveDirection direction);
// Shown instead of a report when no device is known.
QString NoWaveDeviceText(WaveDirection direction);
// Titles of the error boxes of the three report buttons.
QString LineCapabilitiesErrorTitle();
QString WaveCapabilitiesErrorTitle(WaveDirection direction);

// The report buttons' handlers over the dialog's controls. soundCardPosition is the list
// position chosen for the direction (-1 none); useSoundCard is the "Scheda Audio Line In"
// option. Failures are reported in a box titled after the button; a format report always
// closes the line afterwards, except when the line has no device of the wanted direction.
void ShowLineCapabilities(TelephonyControl& tapi, MessageBoxService& boxes);
void ShowWaveCapabilities(WaveDirection direction, bool useSoundCard, int soundCardPosition,
                          TelephonyControl& tapi, WaveControl& wave, MessageBoxService& boxes);

}  // namespace kallomir
