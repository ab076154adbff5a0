#pragma once

#include "controls/playback/PedalDevices.h"

namespace kallomir {

// Pedals among the kernel's input devices (/dev/input), probed with libevdev: a device with a
// handful of buttons and no axes (not a keyboard, mouse or joystick). A pedal is known by its
// stable name under /dev/input/by-id when it has one, so it is found again after being
// plugged into another port. Reading needs permission on the device node (see the udev rule
// in the documentation).
class EvdevPedalDevices : public PedalDevices {
public:
    explicit EvdevPedalDevices(QString inputFolder = QStringLiteral("/dev/input"))
        : folder_(std::move(inputFolder)) {}
    std::vector<PedalInfo> list() override;
    int open(const QString& id, std::vector<int>* buttons, QString* error) override;

private:
    QString folder_;
};

}  // namespace kallomir
