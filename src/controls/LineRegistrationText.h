#pragma once

#include "controls/LineBackend.h"

#include <QString>

namespace kallomir {

// The operator's short Italian words for a line's registration with its registrar: shown in
// the recorder's status and in the line's capability report. Empty when the line does not
// register.
QString LineRegistrationText(const LineRegistration& registration);

}  // namespace kallomir
