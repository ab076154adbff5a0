#pragma once

#include <QValidator>

class QLineEdit;

namespace kallomir {

// Letters and digits only, at most `length` characters, for pasted or dropped text as for
// typed keys. A longer name set by the program can still be shortened, never lengthened.
class FolderNameValidator : public QValidator {
    Q_OBJECT
public:
    FolderNameValidator(QLineEdit* edit, int length);
    State validate(QString& input, int& position) const override;

private:
    QLineEdit* edit_;
    int length_;
};

}  // namespace kallomir
