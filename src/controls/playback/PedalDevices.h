#pragma once

#include <QString>

#include <vector>

namespace kallomir {

// A foot pedal the operator can choose.
struct PedalInfo {
    QString id;    // what to open it by again, also after it was unplugged
    QString name;  // as the device names itself
};

// Finds and opens transcription pedals (input devices with a few buttons).
class PedalDevices {
public:
    virtual ~PedalDevices() = default;
    virtual std::vector<PedalInfo> list() = 0;
    // Opens the pedal for reading, without blocking, and takes it for this program alone, so
    // its presses do not also reach other programs. Returns the descriptor (the caller closes
    // it) and the button codes it reports, lowest first (left, middle, right on a
    // three-button pedal); -1 with a reason when it cannot be opened (absent, no permission).
    virtual int open(const QString& id, std::vector<int>* buttons, QString* error) = 0;
};

}  // namespace kallomir
