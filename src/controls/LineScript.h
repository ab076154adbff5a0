#pragma once

#include "controls/LineBackend.h"
#include "controls/SimulatedLine.h"

#include <QList>
#include <QString>

#include <optional>

namespace kallomir {

// A simulated line's scenario as a script file describes it (docs/line-script.md).
struct LineScript {
    QList<LineDeviceInfo> devices;  // empty: the default device
    QList<SimulatedIncomingCall> incoming;
    std::optional<SimulatedDialAnswer> dial;

    // Makes a simulated line playing this scenario.
    std::unique_ptr<SimulatedLine> makeLine(QObject* parent = nullptr) const;
};

// Parses a script; relative sound file paths are taken from `baseFolder`. Throws RuntimeError
// naming the line and the fault.
LineScript ParseLineScript(const QString& text, const QString& baseFolder);
// Reads and parses a script file.
LineScript LoadLineScript(const QString& path);

}  // namespace kallomir
