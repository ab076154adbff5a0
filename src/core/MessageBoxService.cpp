#include "core/MessageBoxService.h"

#include "core/RuntimeError.h"

namespace kallomir {

QString ErrorText(int number, const QString& description) {
    return QStringLiteral("Error ") + QString::number(number) + u' ' + description;
}

void ReportError(MessageBoxService& boxes, const RuntimeError& error, const QString& title) {
    ReportError(boxes, error.number(), error.description(), title);
}

void ReportError(MessageBoxService& boxes, int number, const QString& description,
                 const QString& title) {
    boxes.show(ErrorText(number, description), title, MsgButtons::Ok, MsgIcon::Critical);
}

}  // namespace kallomir
