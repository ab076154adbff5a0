#include "catalogue/ServerCatalogueConfig.h"

#include "core/IniFile.h"
#include "core/RuntimeError.h"

#include <QRegularExpression>
#include <QStringList>

namespace kallomir {

namespace {

RuntimeError BadValue(const QString& iniFile, const QString& key, const QString& value,
                      const QString& expected) {
    return RuntimeError(errors::kDatabase,
                        QStringLiteral("%1, sezione [%2]: %3=%4 non è valido (%5).")
                            .arg(iniFile, kCatalogueSection, key, value, expected));
}

}  // namespace

QString ServerCatalogueConfig::describe() const {
    QString text = host + u':' + QString::number(port) + u'/' + database;
    if (!user.isEmpty())
        text = user + u'@' + text;
    if (!schema.isEmpty())
        text += QStringLiteral(" (schema %1)").arg(schema);
    return text;
}

std::optional<ServerCatalogueConfig> ReadServerCatalogueConfig(const QString& iniFile) {
    const IniFile ini(iniFile);
    auto value = [&](const char* key, const QString& fallback = QString()) {
        return ini.read(kCatalogueSection, QString::fromLatin1(key), fallback).trimmed();
    };
    ServerCatalogueConfig config;
    config.host = value("HOST");
    if (config.host.isEmpty())
        return std::nullopt;

    const QString port = value("PORTA", QStringLiteral("5432"));
    bool ok = false;
    config.port = port.toInt(&ok);
    if (!ok || config.port < 1 || config.port > 65535)
        throw BadValue(iniFile, QStringLiteral("PORTA"), port,
                       QStringLiteral("un numero da 1 a 65535"));

    config.database = value("DATABASE", config.database);
    if (config.database.isEmpty())
        throw BadValue(iniFile, QStringLiteral("DATABASE"), config.database,
                       QStringLiteral("il nome del database"));
    config.user = value("UTENTE");
    config.passwordFile = value("PASSWORDFILE");

    config.sslMode = value("SSLMODE").toLower();
    static const QStringList modes = {QStringLiteral("disable"),   QStringLiteral("allow"),
                                      QStringLiteral("prefer"),    QStringLiteral("require"),
                                      QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
    if (!config.sslMode.isEmpty() && !modes.contains(config.sslMode))
        throw BadValue(iniFile, QStringLiteral("SSLMODE"), config.sslMode, modes.join(u", "));
    config.sslRootCert = value("SSLROOTCERT");

    config.schema = value("SCHEMA");
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
    if (!config.schema.isEmpty() && !plainName.match(config.schema).hasMatch())
        throw BadValue(iniFile, QStringLiteral("SCHEMA"), config.schema,
                       QStringLiteral("lettere, cifre e _ soltanto"));

    const QString timeout = value("TIMEOUT", QStringLiteral("3"));
    config.connectTimeoutSeconds = timeout.toInt(&ok);
    if (!ok || config.connectTimeoutSeconds < 1 || config.connectTimeoutSeconds > 60)
        throw BadValue(iniFile, QStringLiteral("TIMEOUT"), timeout,
                       QStringLiteral("secondi, da 1 a 60"));
    return config;
}

}  // namespace kallomir
