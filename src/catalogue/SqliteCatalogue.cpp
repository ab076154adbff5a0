#include "catalogue/SqliteCatalogue.h"

#include "catalogue/CatalogueSchema.h"
#include "catalogue/SqliteConnection.h"
#include "catalogue/SqliteSearchIndex.h"
#include "core/RuntimeError.h"
#include "core/SettingsStore.h"
#include "core/VbConvert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace kallomir {

namespace {

using Open = SqliteConnection::Open;

const QString kSelectByName = QStringLiteral("SELECT rowid, ") + RowColumnsSql() +
                              QStringLiteral(" FROM dati WHERE NOME = ? ORDER BY rowid LIMIT 1");

// A value as the embedded file keeps it: dates as ISO text, truth values as 1/0.
QVariant SqliteValue(const QVariant& value) {
    if (value.isNull())
        return QVariant();
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date().toString(Qt::ISODate);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    return value;
}

}  // namespace

std::optional<QDate> DateFromRecordingName(const QString& nome) {
    if (nome.size() < 8)
        return std::nullopt;
    for (int i = 0; i < 8; ++i)
        if (!nome[i].isDigit() || nome[i].unicode() > 127)
            return std::nullopt;
    const QDate date(nome.mid(0, 4).toInt(), nome.mid(4, 2).toInt(), nome.mid(6, 2).toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QString> TimeFromRecordingName(const QString& nome) {
    if (nome.size() < 13)
        return std::nullopt;
    for (int i = 9; i < 13; ++i)
        if (!nome[i].isDigit() || nome[i].unicode() > 127)
            return std::nullopt;
    const int hour = nome.mid(9, 2).toInt();
    const int minute = nome.mid(11, 2).toInt();
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return nome.mid(9, 2) + u':' + nome.mid(11, 2);
}

std::optional<std::int32_t> NextRunningNumber(const QString& stored, qint64 highestInUse) {
    if (!IsWholeNumber(stored))
        throw RuntimeError(errors::kTypeMismatch, QStringLiteral("Type mismatch"));
    const double value = std::max(Val(stored), double(highestInUse));
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    if (value < static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        throw RuntimeError(errors::kOverflow, QStringLiteral("Overflow"));
    return static_cast<std::int32_t>(value) + 1;
}

SqliteCatalogue::SqliteCatalogue(QString databaseFile) : file_(std::move(databaseFile)) {}

QString SqliteCatalogue::FileInFolder(const QString& programFolder) {
    QString folder = programFolder;
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    const QString exact = folder + u'/' + FileName();
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList candidates = QDir(folder).entryList(QDir::Files);
    for (const QString& candidate : candidates)
        if (candidate.compare(FileName(), Qt::CaseInsensitive) == 0)
            return folder + u'/' + candidate;
    return exact;
}

std::unique_ptr<SqliteCatalogue> SqliteCatalogue::InFolder(const QString& programFolder) {
    std::unique_ptr<SqliteCatalogue> catalogue(new SqliteCatalogue());
    catalogue->folder_ = programFolder;
    return catalogue;
}

QString SqliteCatalogue::file() const {
    return folder_.isEmpty() ? file_ : FileInFolder(folder_);
}

CatalogueStatus SqliteCatalogue::status() const {
    CatalogueStatus s;
    s.location = file();
    return s;
}

void SqliteCatalogue::create() {
    SqliteConnection connection(file(), Open::MayCreate);
}

std::optional<CatalogueRow> SqliteCatalogue::find(const QString& nome) {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery query = connection.prepare(kSelectByName);
    query.addBindValue(nome);
    connection.run(query);
    if (!query.next())
        return std::nullopt;
    return RowFromQuery(query, 1);
}

int SqliteCatalogue::rowCount() {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT COUNT(*) FROM dati"));
    connection.run(query);
    return query.next() ? query.value(0).toInt() : 0;
}

std::optional<std::int32_t> SqliteCatalogue::recorderInsert(const QString& nome,
                                                            UserSettings& settings,
                                                            RecorderInsertNotes* notes,
                                                            const QString& numero) {
    SqliteConnection connection(file(), Open::Existing);
    connection.begin();
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    if (existing.next())
        return std::nullopt;
    existing.finish();

    QSqlQuery highest = connection.prepare(QStringLiteral("SELECT MAX(progressivo) FROM dati"));
    connection.run(highest);
    const qint64 highestInTable =
        highest.next() && !highest.value(0).isNull() ? highest.value(0).toLongLong() : 0;
    highest.finish();
    const std::optional<std::int32_t> number =
        NextRunningNumber(settings.get(QStringLiteral("progressivo"), QString()), highestInTable);
    QSqlQuery insert = connection.prepare(
        QStringLiteral("INSERT INTO dati (NOME, etichetta, dtfile, ora, progressivo, numero) "
                       "VALUES (?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(settings.get(QStringLiteral("etichetta"), QStringLiteral("Not Set")));
    insert.addBindValue(DateValueOf(nome, false));
    insert.addBindValue(TimeValueOf(nome));
    insert.addBindValue(number ? QVariant(*number) : QVariant());
    insert.addBindValue(NumberValueOf(numero));
    connection.run(insert);
    connection.commit();
    if (!number) {
        if (notes)
            notes->numbersExhausted = true;
        return std::nullopt;
    }
    if (!settings.save(QStringLiteral("progressivo"), QString::number(*number)) && notes)
        notes->numberNotStored = true;
    return number;
}

bool SqliteCatalogue::playerInsert(const QString& nome, const QString& etichetta,
                                   const QString& user) {
    SqliteConnection connection(file(), Open::Existing);
    connection.begin();
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    if (existing.next())
        return false;
    existing.finish();
    QSqlQuery insert = connection.prepare(
        QStringLiteral("INSERT INTO dati (NOME, LETTO, etichetta, \"user\", dtfile, ora) "
                       "VALUES (?, 0, ?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(etichetta);
    insert.addBindValue(user);
    insert.addBindValue(DateValueOf(nome, false));
    insert.addBindValue(TimeValueOf(nome));
    connection.run(insert);
    connection.commit();
    return true;
}

PlayerSaveResult SqliteCatalogue::playerSave(const QString& nome, const PlayerMarks& marks,
                                             const QString& etichetta, const QString& user,
                                             std::optional<std::int64_t> openedVersion) {
    SqliteConnection connection(file(), Open::Existing);
    connection.begin();  // the write lock: no other save between the check and the update
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    PlayerSaveResult result;
    if (!existing.next())
        return result;
    const qint64 rowid = existing.value(0).toLongLong();
    CatalogueRow row = RowFromQuery(existing, 1);
    existing.finish();
    if (openedVersion && row.versione != *openedVersion) {
        result.status = PlayerSaveResult::Status::Changed;
        result.row = std::move(row);
        return result;
    }
    QSqlQuery update = connection.prepare(QStringLiteral(
        "UPDATE dati SET LETTO = ?, SCRITTO = ?, TRADOTTO = ?, traduzione = ?, etichetta = ?, "
        "\"user\" = ?, versione = ? WHERE rowid = ?"));
    update.addBindValue(marks.letto ? 1 : 0);
    update.addBindValue(marks.scritto ? 1 : 0);
    update.addBindValue(marks.tradotto ? 1 : 0);
    update.addBindValue(marks.traduzione);
    update.addBindValue(etichetta);
    update.addBindValue(user);
    update.addBindValue(qint64(row.versione + 1));
    update.addBindValue(rowid);
    connection.run(update);
    connection.commit();
    row.letto = marks.letto;
    row.scritto = marks.scritto;
    row.tradotto = marks.tradotto;
    row.traduzione = marks.traduzione;
    row.etichetta = etichetta;
    row.user = user;
    row.versione += 1;
    result.status = PlayerSaveResult::Status::Saved;
    result.row = std::move(row);
    return result;
}

int SqliteCatalogue::archiveAndEmpty(const QString& archiveFile) {
    const QString live = file();
    const int rows = rowCount();  // also proves the live file is a readable catalogue
    // The copy is made beside the archive and put in place only once it reads back whole,
    // so a failed copy never costs an earlier archive of the same name.
    const QString partial = archiveFile + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!QFile::copy(live, partial)) {
        const int number = QFileInfo(QFileInfo(archiveFile).path()).isDir()
                               ? errors::kPathFileAccess
                               : errors::kPathNotFound;
        throw RuntimeError(number,
                           number == errors::kPathNotFound
                               ? QStringLiteral("Path not found: '%1'").arg(archiveFile)
                               : QStringLiteral("Path/File access error: '%1'").arg(archiveFile));
    }
    int archived = -1;
    try {
        archived = SqliteCatalogue(partial).rowCount();
    } catch (const RuntimeError&) {
        QFile::remove(partial);
        throw;
    }
    if (archived != rows)
        QFile::remove(partial);
    if (archived == rows && std::rename(QFile::encodeName(partial).constData(),
                                        QFile::encodeName(archiveFile).constData()) != 0) {
        QFile::remove(partial);
        throw RuntimeError(errors::kPermissionDenied,
                           QStringLiteral("Permission denied: '%1'").arg(archiveFile));
    }
    if (archived != rows)
        throw RuntimeError(
            errors::kDatabase,
            QStringLiteral(
                "The archive copy '%1' holds %2 rows instead of %3; the catalogue was not emptied.")
                .arg(archiveFile)
                .arg(archived)
                .arg(rows));
    SqliteConnection connection(live, Open::Existing);
    connection.begin();
    connection.exec(QStringLiteral("DELETE FROM dati"));
    EmptySqliteSearchIndex(connection);
    connection.commit();
    return rows;
}

int SqliteCatalogue::searchBacklog() {
    SqliteConnection connection(file(), Open::Existing);
    return SqliteSearchBacklog(connection);
}

int SqliteCatalogue::indexBacklog(int maxRows, const PlainTextOf& plainTextOf) {
    SqliteConnection connection(file(), Open::Existing);
    return SqliteIndexBacklog(connection, maxRows, plainTextOf);
}

SearchPage SqliteCatalogue::search(const SearchQuery& query) {
    SqliteConnection connection(file(), Open::Existing);
    return SqliteSearch(connection, query);
}

std::vector<CatalogueRecord> SqliteCatalogue::allRows() {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT * FROM dati ORDER BY rowid"));
    query.setForwardOnly(true);
    connection.run(query);
    const QSqlRecord record = query.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i) names << record.fieldName(i).toLower();
    std::vector<CatalogueRecord> rows;
    while (query.next()) {
        CatalogueRecord row;
        for (int i = 0; i < names.size(); ++i) row.insert(names[i], query.value(i));
        rows.push_back(std::move(row));
    }
    return rows;
}

void SqliteCatalogue::appendRecords(const std::vector<CatalogueRecord>& records) {
    SqliteConnection connection(file(), Open::MayCreate);
    QStringList names, marks;
    for (const CatalogueColumn& column : CatalogueColumns()) {
        names << u'"' + column.name + u'"';
        marks << QStringLiteral("?");
    }
    connection.begin();
    QSqlQuery insert = connection.prepare(QStringLiteral("INSERT INTO dati (") + names.join(u',') +
                                          QStringLiteral(") VALUES (") + marks.join(u',') + u')');
    for (const CatalogueRecord& record : records) {
        for (const CatalogueColumn& column : CatalogueColumns()) {
            QVariant value = SqliteValue(record.value(column.name.toLower()));
            if (value.isNull() && column.name == u"versione")
                value = 1;
            insert.addBindValue(value);
        }
        connection.run(insert);
    }
    connection.commit();
}

bool SqliteCatalogue::setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery update = connection.prepare(
        QStringLiteral("UPDATE dati SET impronta = ?, impronta_byte = ? WHERE rowid = "
                       "(SELECT rowid FROM dati WHERE NOME = ? ORDER BY rowid LIMIT 1)"));
    update.addBindValue(fingerprint.sha256);
    update.addBindValue(fingerprint.bytes);
    update.addBindValue(nome);
    connection.run(update);
    return update.numRowsAffected() > 0;
}

std::optional<CatalogueFingerprint> SqliteCatalogue::fingerprint(const QString& nome) {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery query = connection.prepare(QStringLiteral(
        "SELECT impronta, impronta_byte FROM dati WHERE NOME = ? ORDER BY rowid LIMIT 1"));
    query.addBindValue(nome);
    connection.run(query);
    if (!query.next())
        return std::nullopt;
    return FingerprintFromValues(query.value(0), query.value(1));
}

std::vector<FingerprintedRow> SqliteCatalogue::fingerprintedRows() {
    SqliteConnection connection(file(), Open::Existing);
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT ") + FingerprintedColumnsSql() +
                                         QStringLiteral(" FROM dati ORDER BY rowid"));
    query.setForwardOnly(true);
    connection.run(query);
    std::vector<FingerprintedRow> rows;
    while (query.next()) rows.push_back(FingerprintedRowFromQuery(query));
    return rows;
}

}  // namespace kallomir
