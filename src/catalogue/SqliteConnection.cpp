#include "catalogue/SqliteConnection.h"

#include "catalogue/CatalogueSchema.h"
#include "core/RuntimeError.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QStringList>

namespace kallomir {

namespace {

constexpr int kFileMissing = 3024;
constexpr int kNotADatabase = 3343;
constexpr int kLocked = 3218;

QAtomicInteger<quint64> connectionCounter;

}  // namespace

RuntimeError SqliteError(const QSqlError& error, const QString& file) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString lower = text.toLower();
    if (lower.contains(u"not a database") || lower.contains(u"malformed"))
        return RuntimeError(kNotADatabase,
                            QStringLiteral("Unrecognized database format '%1'.").arg(file));
    if (lower.contains(u"locked") || lower.contains(u"busy"))
        return RuntimeError(
            kLocked, QStringLiteral("Could not update; currently locked by another session ('%1').")
                         .arg(file));
    return RuntimeError(errors::kDatabase, text);
}

SqliteConnection::SqliteConnection(const QString& file, Open mode) : file_(file) {
    if (mode == Open::Existing && !QFileInfo(file).isFile())
        throw RuntimeError(kFileMissing, QStringLiteral("Could not find file '%1'.").arg(file));
    name_ = QStringLiteral("kallomir-catalogue-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(file);
        // A locked file is reported after a short wait instead of hanging the window.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            const QSqlError error = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name_);
            throw SqliteError(error, file);
        }
    }
    try {
        ensureTable();
    } catch (...) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
        throw;
    }
}

SqliteConnection::~SqliteConnection() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isOpen()) {
            if (inTransaction_)
                db.rollback();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name_);
}

void SqliteConnection::ensureTable() const {
    QSqlQuery info = prepare(QStringLiteral("PRAGMA table_info(dati)"));
    run(info);
    QStringList existing;
    while (info.next()) existing << info.value(1).toString();
    info.finish();
    if (existing.isEmpty()) {
        exec(CreateTableSql(false));
    } else {
        for (const CatalogueColumn& column : MissingColumns(existing))
            exec(AddColumnSql(column, false));
    }
    exec(QStringLiteral("CREATE INDEX IF NOT EXISTS dati_nome ON dati (NOME COLLATE NOCASE)"));
}

QSqlQuery SqliteConnection::prepare(const QString& sql) const {
    QSqlQuery query(db());
    if (!query.prepare(sql))
        throw SqliteError(query.lastError(), file_);
    return query;
}

void SqliteConnection::run(QSqlQuery& query) const {
    if (!query.exec())
        throw SqliteError(query.lastError(), file_);
}

void SqliteConnection::exec(const QString& sql) const {
    QSqlQuery query = prepare(sql);
    run(query);
}

void SqliteConnection::begin() {
    exec(QStringLiteral("BEGIN IMMEDIATE"));
    inTransaction_ = true;
}

void SqliteConnection::commit() {
    exec(QStringLiteral("COMMIT"));
    inTransaction_ = false;
}

}  // namespace kallomir
