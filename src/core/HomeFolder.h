#pragma once

#include <QString>

namespace kallomir {

// The program's folder: --home DIR, else $KALLOMIR_HOME, else $XDG_DATA_HOME/kallomir,
// else ~/.local/share/kallomir. Created (with its parents) when missing.
struct HomeFolderResult {
    QString path;   // absolute, without trailing '/'
    QString error;  // empty on success
};
HomeFolderResult ResolveHomeFolder(const QString& commandLineHome);

}  // namespace kallomir
