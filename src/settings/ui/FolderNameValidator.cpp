#include "settings/ui/FolderNameValidator.h"

#include "settings/SettingsRules.h"

namespace kallomir {

QValidator::State FolderNameValidator::validate(QString& input, int& /*position*/) const {
    for (const QChar c : input) {
        if (c == u'\b' || !IsFolderNameKey(c))
            return Invalid;
    }
    return Acceptable;
}

}  // namespace kallomir
