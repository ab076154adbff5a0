#include "controls/LineRegistrationText.h"

namespace kallomir {

QString LineRegistrationText(const LineRegistration& r) {
    const QString detail =
        r.status ? QStringLiteral("%1 %2").arg(r.status).arg(r.reason).trimmed() : r.reason;
    switch (r.state) {
        case LineRegistration::State::NotUsed:
            break;
        case LineRegistration::State::Registering:
            return QStringLiteral("Registrazione in corso");
        case LineRegistration::State::Registered:
            return QStringLiteral("Linea registrata");
        case LineRegistration::State::Refused:
            return QStringLiteral("Registrazione rifiutata: ") + detail;
        case LineRegistration::State::Unreachable:
            return detail.isEmpty() ? QStringLiteral("Centralino non raggiungibile")
                                    : QStringLiteral("Centralino non raggiungibile: ") + detail;
    }
    return {};
}

}  // namespace kallomir
