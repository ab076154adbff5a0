#include "player/HeardCoverageStore.h"

#include "core/RuntimeError.h"

#include <QAtomicInteger>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kallomir {

namespace {

QAtomicInteger<quint64> connectionCounter;

RuntimeError StoreError(const QString& file, const QString& what) {
    return RuntimeError(errors::kDatabase,
                        QStringLiteral("Archivio dell'ascolto %1: %2").arg(file, what));
}

// One connection per call, closed and unregistered when it goes.
class Connection {
public:
    explicit Connection(const QString& file) : file_(file) {
        name_ = QStringLiteral("kallomir-heard-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            const QString reason = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name_);
            name_.clear();
            throw StoreError(file, reason);
        }
        QString failure;
        {
            QSqlQuery create(db);
            if (!create.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS heard ("
                                            "path TEXT PRIMARY KEY, stretches TEXT NOT NULL)")))
                failure = create.lastError().text();
        }
        if (!failure.isEmpty()) {
            db = QSqlDatabase();
            close();
            throw StoreError(file, failure);
        }
    }
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlQuery run(const QString& sql, const QVariantList& values) const {
        QSqlQuery query(QSqlDatabase::database(name_, false));
        if (!query.prepare(sql))
            throw StoreError(file_, query.lastError().text());
        for (const QVariant& v : values) query.addBindValue(v);
        if (!query.exec())
            throw StoreError(file_, query.lastError().text());
        return query;
    }

private:
    void close() {
        if (name_.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
        name_.clear();
    }

    QString file_;
    QString name_;
};

}  // namespace

HeardCoverageStore HeardCoverageStore::InFolder(const QString& programFolder) {
    return HeardCoverageStore(QDir(programFolder).filePath(QString::fromLatin1(kFileName)));
}

HeardCoverage HeardCoverageStore::load(const QString& recordingPath) const {
    const Connection connection(file_);
    QSqlQuery query = connection.run(QStringLiteral("SELECT stretches FROM heard WHERE path = ?"),
                                     {QDir::cleanPath(recordingPath)});
    if (!query.next())
        return HeardCoverage();
    return HeardCoverage::fromText(query.value(0).toString());
}

void HeardCoverageStore::save(const QString& recordingPath, const HeardCoverage& coverage) const {
    const Connection connection(file_);
    connection.run(QStringLiteral("INSERT INTO heard (path, stretches) VALUES (?, ?) "
                                  "ON CONFLICT(path) DO UPDATE SET stretches = excluded.stretches"),
                   {QDir::cleanPath(recordingPath), coverage.toText()});
}

}  // namespace kallomir
