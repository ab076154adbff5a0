#pragma once

#include <QString>
#include <QStringList>

namespace kallomir {

// A private-profile text file: "[Section]" headers followed by "key=value" lines.
// Section and key names match without regard to case; every value is text.
// Each call reads the file afresh, so edits made by hand while the program runs count.
class IniFile {
public:
    // The longest value a read returns; longer values are cut.
    static constexpr int kMaxValueLength = 254;

    explicit IniFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    // The value of key in section, surrounding blanks and one pair of matching quotes
    // removed, cut to maxLength characters; defaultValue when the file, the section or
    // the key is absent. A key present with an empty value reads as empty text.
    QString read(const QString& section, const QString& key, const QString& defaultValue,
                 int maxLength = kMaxValueLength) const;

    // Writes key=value into section, creating the file, the section or the key as needed
    // and keeping every other line (comments included). Carriage returns and line feeds in
    // value become blanks, in the caller's variable too. The file is replaced atomically,
    // so a failure leaves the old file whole. Returns false when the file could not be written.
    bool write(const QString& section, const QString& key, QString& value) const;

    // Names of the sections present, in file order (for diagnostics and tests).
    QStringList sections() const;

private:
    QString path_;
};

// The program's only access to RIZEDUZO.INI.
QString ReadIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& defaultValue);
// False when the file could not be written.
bool WriteIniValue(const QString& file, const QString& section, const QString& key, QString& value);

}  // namespace kallomir
