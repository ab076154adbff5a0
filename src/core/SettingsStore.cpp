#include "core/SettingsStore.h"

#include "core/IniFile.h"

#include <QDir>
#include <QStandardPaths>

namespace kallomir {

QString IniSettingsStore::DefaultRoot() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString IniSettingsStore::fileFor(const QString& application) const {
    return root_ + u'/' + application + QStringLiteral("/settings.ini");
}

QString IniSettingsStore::GetSetting(const QString& application, const QString& section,
                                     const QString& key, const QString& defaultValue) const {
    return IniFile(fileFor(application)).read(section, key, defaultValue, -1);
}

bool IniSettingsStore::SaveSetting(const QString& application, const QString& section,
                                   const QString& key, const QString& value) {
    QDir().mkpath(root_ + u'/' + application);
    QString copy = value;
    return IniFile(fileFor(application)).write(section, key, copy);
}

}  // namespace kallomir
