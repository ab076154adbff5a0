#pragma once

#include <QString>

#include <optional>

namespace kallomir {

// The property file beside the program whose first field is the access password.
inline const QString kPasswordFileName = QStringLiteral("2001Kallomir.Emx");

// The first field of the text, read as a sequential text field: leading blanks and blank
// lines skipped; a field that starts with '"' runs to the next '"' (quotes dropped);
// otherwise to the next comma or line end, trailing blanks dropped. A NUL ends the field.
// Nothing when the text holds no field at all (empty or only blanks).
std::optional<QString> FirstField(const QString& text);

// FirstField of the file, or nothing when it is missing, unreadable or holds no field.
std::optional<QString> ReadPasswordFile(const QString& path);

}  // namespace kallomir
