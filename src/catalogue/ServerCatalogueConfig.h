#pragma once

#include <QString>

#include <optional>

namespace kallomir {

// Where a shared catalogue lives: a PostgreSQL server, from section [CATALOGO] of
// RIZEDUZO.INI.
struct ServerCatalogueConfig {
    QString host;     // HOST: name or address, or the folder of the server's socket
    int port = 5432;  // PORTA
    QString database = QStringLiteral("kallomir");  // DATABASE
    QString user;                                   // UTENTE; empty: the login name
    QString passwordFile;  // PASSWORDFILE: its first line is the password; empty: the
                           // password comes from PGPASSFILE or ~/.pgpass
    QString sslMode;       // SSLMODE: disable, allow, prefer, require, verify-ca, verify-full
    QString sslRootCert;   // SSLROOTCERT: the certificate authority for verify-ca/verify-full
    QString schema;        // SCHEMA; empty: the user's search path (normally "public")
    int connectTimeoutSeconds = 3;  // TIMEOUT

    // "user@host:port/database" for messages.
    QString describe() const;
};

// The server section of an INI file: nothing when it names no HOST (the embedded file is
// the catalogue). Throws RuntimeError when the section names a server but a value cannot
// be used (a port that is no number, an unknown SSLMODE, a schema that is no plain name).
std::optional<ServerCatalogueConfig> ReadServerCatalogueConfig(const QString& iniFile);

inline const QString kCatalogueSection = QStringLiteral("CATALOGO");

}  // namespace kallomir
