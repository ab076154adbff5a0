#include "settings/ui/FolderNameValidator.h"

#include "settings/SettingsRules.h"

#include <QLineEdit>

namespace kallomir {

FolderNameValidator::FolderNameValidator(QLineEdit* edit, int length)
    : QValidator(edit), edit_(edit), length_(length) {}

QValidator::State FolderNameValidator::validate(QString& input, int& /*position*/) const {
    for (const QChar c : input) {
        if (c == u'\b' || !IsFolderNameKey(c))
            return Invalid;
    }
    if (input.size() > length_ && input.size() > edit_->text().size())
        return Invalid;
    return Acceptable;
}

}  // namespace kallomir
