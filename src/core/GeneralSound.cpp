#include "core/GeneralSound.h"

#include "core/IniFile.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"

#include <QDir>
#include <QFileInfo>

namespace kallomir {

namespace {
const QString kMissing = QStringLiteral("*");

// Creates one folder level; the parent must exist.
bool MakeFolder(const QString& path, QStringList& failures) {
    if (QFileInfo(path).isDir())
        return true;
    if (QDir().mkdir(path))
        return true;
    failures << path;
    return false;
}
}  // namespace

bool IsPlainFolderName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString AppFolderOf(const QString& programFolder) {
    QString folder = programFolder.trimmed();
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    if (folder == QStringLiteral("/"))
        return folder;
    return folder + u'/';
}

ConfigurationDefaults ConfigurationDefaults::ForHome(const QString& userHome) {
    const QString home = AppFolderOf(userHome);
    return {home + QStringLiteral("Recodati/"), home + QStringLiteral("RIZEDUZO/")};
}

QStringList InitConfiguration(GeneralSound& config, const QString& programFolder,
                              const ConfigurationDefaults& defaults, QStringList* refused) {
    QStringList failures;
    config.appFolder = AppFolderOf(programFolder);
    config.iniFile = config.appFolder + QStringLiteral("RIZEDUZO.INI");
    const IniFile ini(config.iniFile);

    config.commPort =
        ToInt32(Val(ini.read(QStringLiteral("COMM"), QStringLiteral("PORT"), QStringLiteral("0"))));
    if (config.commPort == 0)
        config.commPort = 1;

    config.commSettings = ini.read(QStringLiteral("COMM"), QStringLiteral("SETTINGS"), kMissing);
    if (config.commSettings == kMissing)
        config.commSettings = QStringLiteral("9600,n,8,1");

    // Reads a key with "*" as the missing marker; a missing key gets its default, written back.
    auto readOrDefault = [&](const QString& section, const QString& key, const QString& def) {
        QString value = ini.read(section, key, kMissing);
        if (value == kMissing) {
            value = def;
            ini.write(section, key, value);
        }
        return value;
    };

    config.dataPath = ini.read(QStringLiteral("PATH"), QStringLiteral("DATI"), kMissing);
    if (config.dataPath == kMissing) {
        config.dataPath = defaults.dataPath;
        ini.write(QStringLiteral("PATH"), QStringLiteral("DATI"), config.dataPath);
        MakeFolder(config.dataPath, failures);
    }
    // Both become parts of the recordings path: a path in either would put recordings
    // outside DATI, so such a value is set aside, not used.
    auto plainOrDefault = [&](const QString& key, const QString& def) {
        const QString value = readOrDefault(QStringLiteral("PATH"), key, def);
        if (IsPlainFolderName(value))
            return value;
        if (refused)
            *refused << key + u'=' + value;
        return def;
    };
    config.folderNumber = plainOrDefault(QStringLiteral("FOLDER"), QStringLiteral("1"));
    const QString name = plainOrDefault(QStringLiteral("NOME"), QStringLiteral("Quendral"));
    config.sampleRate = readOrDefault(QStringLiteral("PARAMETRI"), QStringLiteral("QUALITA"),
                                      QStringLiteral("11025"));
    config.bitsPerSample =
        readOrDefault(QStringLiteral("PARAMETRI"), QStringLiteral("BITS"), QStringLiteral("8"));
    config.channels =
        readOrDefault(QStringLiteral("PARAMETRI"), QStringLiteral("STEREO"), QStringLiteral("1"));

    // DataPath ends with its separator, so the name is appended directly.
    if (QFileInfo(config.dataPath).isDir())
        MakeFolder(config.dataPath + name, failures);
    else
        failures << config.dataPath + name;

    config.recFolder = name + u'/' + config.folderNumber;
    return failures;
}

QString NextFolderNumber(const GeneralSound& config, QString* folderName) {
    const QString current = ReadIniValue(config.iniFile, QStringLiteral("PATH"),
                                         QStringLiteral("FOLDER"), QStringLiteral("1"));
    if (folderName) {
        *folderName = ReadIniValue(config.iniFile, QStringLiteral("PATH"), QStringLiteral("NOME"),
                                   QStringLiteral("Recodati"));
        if (!IsPlainFolderName(*folderName))
            *folderName = config.recFolder.section(u'/', 0, 0);
    }
    QString next = QString::number(ToInt64(Val(current)) + 1);
    if (!WriteIniValue(config.iniFile, QStringLiteral("PATH"), QStringLiteral("FOLDER"), next))
        throw RuntimeError(errors::kPathFileAccess,
                           QStringLiteral("Path/File access error: '%1' (FOLDER=%2 non salvato)")
                               .arg(config.iniFile, next));
    return next;
}

}  // namespace kallomir
