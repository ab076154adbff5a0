#pragma once

#include <QValidator>

namespace kallomir {

// Letters and digits only, for pasted or dropped text as for typed keys.
class FolderNameValidator : public QValidator {
    Q_OBJECT
public:
    explicit FolderNameValidator(QObject* parent) : QValidator(parent) {}
    State validate(QString& input, int& position) const override;
};

}  // namespace kallomir
