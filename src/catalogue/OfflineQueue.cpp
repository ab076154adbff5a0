#include "catalogue/OfflineQueue.h"

#include "catalogue/CatalogueSchema.h"
#include "catalogue/SqliteCatalogue.h"
#include "catalogue/SqliteConnection.h"

namespace kallomir {

namespace {

void EnsureQueue(const SqliteConnection& connection) {
    connection.exec(
        QStringLiteral("CREATE TABLE IF NOT EXISTS dati_in_attesa (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT, NOME TEXT NOT NULL COLLATE NOCASE, etichetta TEXT, "
                       "accodato TEXT, numero TEXT, impronta TEXT, impronta_byte INTEGER)"));
    // A queue left by an older program gains the caller's number and the fingerprint; its
    // rows wait without them.
    QSqlQuery info = connection.prepare(QStringLiteral("PRAGMA table_info(dati_in_attesa)"));
    connection.run(info);
    QStringList columns;
    while (info.next()) columns << info.value(1).toString().toLower();
    info.finish();
    if (!columns.contains(QStringLiteral("numero")))
        connection.exec(QStringLiteral("ALTER TABLE dati_in_attesa ADD COLUMN numero TEXT"));
    if (!columns.contains(QStringLiteral("impronta")))
        connection.exec(QStringLiteral("ALTER TABLE dati_in_attesa ADD COLUMN impronta TEXT"));
    if (!columns.contains(QStringLiteral("impronta_byte")))
        connection.exec(
            QStringLiteral("ALTER TABLE dati_in_attesa ADD COLUMN impronta_byte INTEGER"));
}

}  // namespace

QString OfflineQueue::file() const {
    return SqliteCatalogue::FileInFolder(folder_);
}

void OfflineQueue::add(const QString& nome, const QString& etichetta, const QDateTime& at,
                       const QString& numero) {
    SqliteConnection connection(file(), SqliteConnection::Open::MayCreate);
    EnsureQueue(connection);
    connection.begin();
    QSqlQuery existing =
        connection.prepare(QStringLiteral("SELECT 1 FROM dati_in_attesa WHERE NOME = ?"));
    existing.addBindValue(nome);
    connection.run(existing);
    if (existing.next())
        return;  // the same recording saved again after a crash: it waits once
    existing.finish();
    QSqlQuery insert = connection.prepare(
        QStringLiteral("INSERT INTO dati_in_attesa (NOME, etichetta, accodato, numero) "
                       "VALUES (?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(etichetta);
    insert.addBindValue(at.toString(Qt::ISODate));
    insert.addBindValue(numero);
    connection.run(insert);
    connection.commit();
}

std::vector<OfflineQueue::Entry> OfflineQueue::entries() const {
    std::vector<Entry> out;
    SqliteConnection connection(file(), SqliteConnection::Open::MayCreate);
    EnsureQueue(connection);
    QSqlQuery query = connection.prepare(
        QStringLiteral("SELECT id, NOME, etichetta, accodato, numero, impronta, impronta_byte FROM "
                       "dati_in_attesa ORDER BY id"));
    connection.run(query);
    while (query.next()) {
        out.push_back(Entry{query.value(0).toLongLong(), query.value(1).toString(),
                            query.value(2).toString(),
                            QDateTime::fromString(query.value(3).toString(), Qt::ISODate),
                            query.value(4).toString(),
                            FingerprintFromValues(query.value(5), query.value(6))});
    }
    return out;
}

int OfflineQueue::count() const {
    SqliteConnection connection(file(), SqliteConnection::Open::MayCreate);
    EnsureQueue(connection);
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT COUNT(*) FROM dati_in_attesa"));
    connection.run(query);
    return query.next() ? query.value(0).toInt() : 0;
}

void OfflineQueue::remove(qint64 id) {
    SqliteConnection connection(file(), SqliteConnection::Open::Existing);
    EnsureQueue(connection);
    QSqlQuery query = connection.prepare(QStringLiteral("DELETE FROM dati_in_attesa WHERE id = ?"));
    query.addBindValue(id);
    connection.run(query);
}

bool OfflineQueue::setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) {
    SqliteConnection connection(file(), SqliteConnection::Open::MayCreate);
    EnsureQueue(connection);
    QSqlQuery update = connection.prepare(
        QStringLiteral("UPDATE dati_in_attesa SET impronta = ?, impronta_byte = ? WHERE NOME = ?"));
    update.addBindValue(fingerprint.sha256);
    update.addBindValue(fingerprint.bytes);
    update.addBindValue(nome);
    connection.run(update);
    return update.numRowsAffected() > 0;
}

}  // namespace kallomir
