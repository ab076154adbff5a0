#include "core/HomeFolder.h"

#include <QDir>
#include <QFileInfo>

namespace kallomir {

HomeFolderResult ResolveHomeFolder(const QString& commandLineHome) {
    QString path = commandLineHome;
    if (path.isEmpty())
        path = qEnvironmentVariable("KALLOMIR_HOME");
    if (path.isEmpty()) {
        QString data = qEnvironmentVariable("XDG_DATA_HOME");
        if (data.isEmpty())
            data = QDir::homePath() + QStringLiteral("/.local/share");
        path = data + QStringLiteral("/kallomir");
    }
    path = QDir::cleanPath(QDir(path).absolutePath());
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path)) {
        return {path, QStringLiteral("Cannot create the home folder %1").arg(path)};
    }
    if (!QFileInfo(path).isDir())
        return {path, QStringLiteral("%1 is not a folder").arg(path)};
    return {path, QString()};
}

}  // namespace kallomir
