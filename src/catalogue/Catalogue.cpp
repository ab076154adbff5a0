#include "catalogue/Catalogue.h"

#include <cstdio>

#include "core/RuntimeError.h"
#include "core/SettingsStore.h"
#include "core/VbConvert.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace kallomir {

namespace {

constexpr int kFileMissing = 3024;
constexpr int kNotADatabase = 3343;
constexpr int kLocked = 3218;

QAtomicInteger<quint64> connectionCounter;

RuntimeError DatabaseError(const QSqlError& error, const QString& file) {
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

// One connection per operation: opened here, closed and unregistered on destruction.
class Connection {
public:
    Connection(const QString& file, bool mayCreate) : file_(file) {
        if (!mayCreate && !QFileInfo(file).isFile())
            throw RuntimeError(kFileMissing, QStringLiteral("Could not find file '%1'.").arg(file));
        name_ =
            QStringLiteral("kallomir-catalogue-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
            db.setDatabaseName(file);
            // A locked file is reported after a short wait instead of hanging the window.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
            if (!db.open()) {
                const QSqlError error = db.lastError();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(name_);
                throw DatabaseError(error, file);
            }
        }
        exec(
            QStringLiteral("CREATE TABLE IF NOT EXISTS dati ("
                           "NOME TEXT COLLATE NOCASE, etichetta TEXT, dtfile DATE, ora TEXT, "
                           "progressivo INTEGER, LETTO BOOLEAN, SCRITTO BOOLEAN, TRADOTTO BOOLEAN, "
                           "traduzione TEXT, user TEXT)"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS dati_nome ON dati (NOME COLLATE NOCASE)"));
    }
    ~Connection() {
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
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

    QSqlQuery prepare(const QString& sql) const {
        QSqlQuery query(db());
        if (!query.prepare(sql))
            throw DatabaseError(query.lastError(), file_);
        return query;
    }
    void run(QSqlQuery& query) const {
        if (!query.exec())
            throw DatabaseError(query.lastError(), file_);
    }
    void exec(const QString& sql) const {
        QSqlQuery query = prepare(sql);
        run(query);
    }
    // An immediate transaction takes the write lock up front, so a locked file fails here.
    void begin() {
        exec(QStringLiteral("BEGIN IMMEDIATE"));
        inTransaction_ = true;
    }
    void commit() {
        exec(QStringLiteral("COMMIT"));
        inTransaction_ = false;
    }

private:
    QString file_;
    QString name_;
    bool inTransaction_ = false;
};

const QString kSelectByName = QStringLiteral(
    "SELECT rowid, NOME, etichetta, dtfile, ora, progressivo, LETTO, SCRITTO, "
    "TRADOTTO, traduzione, user FROM dati WHERE NOME = ? ORDER BY rowid LIMIT 1");

QVariant DateValue(const QString& nome) {
    const auto date = DateFromRecordingName(nome);
    return date ? QVariant(date->toString(Qt::ISODate)) : QVariant();
}

QVariant TimeValue(const QString& nome) {
    const auto time = TimeFromRecordingName(nome);
    return time ? QVariant(*time) : QVariant();
}

// The number after both the stored one and the highest in the table; nothing when the
// 32-bit range is used up.
std::optional<std::int32_t> NextRunningNumber(const QString& stored, qint64 highestInTable) {
    if (!IsWholeNumber(stored))
        throw RuntimeError(errors::kTypeMismatch, QStringLiteral("Type mismatch"));
    const double value = std::max(Val(stored), double(highestInTable));
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    if (value < static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        throw RuntimeError(errors::kOverflow, QStringLiteral("Overflow"));
    return static_cast<std::int32_t>(value) + 1;
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

Catalogue::Catalogue(QString databaseFile) : file_(std::move(databaseFile)) {}

Catalogue Catalogue::InFolder(const QString& programFolder) {
    QString folder = programFolder;
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    const QString exact = folder + u'/' + FileName();
    if (QFileInfo::exists(exact))
        return Catalogue(exact);
    const QStringList candidates = QDir(folder).entryList(QDir::Files);
    for (const QString& candidate : candidates)
        if (candidate.compare(FileName(), Qt::CaseInsensitive) == 0)
            return Catalogue(folder + u'/' + candidate);
    return Catalogue(exact);
}

void Catalogue::create() const {
    Connection connection(file_, true);
}

std::optional<CatalogueRow> Catalogue::find(const QString& nome) const {
    Connection connection(file_, false);
    QSqlQuery query = connection.prepare(kSelectByName);
    query.addBindValue(nome);
    connection.run(query);
    if (!query.next())
        return std::nullopt;
    CatalogueRow row;
    row.nome = query.value(1).toString();
    row.etichetta = query.value(2).toString();
    const QDate date = QDate::fromString(query.value(3).toString(), Qt::ISODate);
    if (date.isValid())
        row.dtfile = date;
    row.ora = query.value(4).toString();
    if (!query.value(5).isNull())
        row.progressivo = query.value(5).toInt();
    row.letto = query.value(6).toInt() != 0;
    row.scritto = query.value(7).toInt() != 0;
    row.tradotto = query.value(8).toInt() != 0;
    if (!query.value(9).isNull())
        row.traduzione = query.value(9).toString();
    row.user = query.value(10).toString();
    return row;
}

int Catalogue::rowCount() const {
    Connection connection(file_, false);
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT COUNT(*) FROM dati"));
    connection.run(query);
    return query.next() ? query.value(0).toInt() : 0;
}

std::optional<std::int32_t> Catalogue::recorderInsert(const QString& nome, UserSettings& settings,
                                                      RecorderInsertNotes* notes) const {
    Connection connection(file_, false);
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
    QSqlQuery insert = connection.prepare(QStringLiteral(
        "INSERT INTO dati (NOME, etichetta, dtfile, ora, progressivo) VALUES (?, ?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(settings.get(QStringLiteral("etichetta"), QStringLiteral("Not Set")));
    insert.addBindValue(DateValue(nome));
    insert.addBindValue(TimeValue(nome));
    insert.addBindValue(number ? QVariant(*number) : QVariant());
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

bool Catalogue::playerInsert(const QString& nome, const QString& etichetta,
                             const QString& user) const {
    Connection connection(file_, false);
    connection.begin();
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    if (existing.next())
        return false;
    existing.finish();
    QSqlQuery insert = connection.prepare(QStringLiteral(
        "INSERT INTO dati (NOME, LETTO, etichetta, user, dtfile, ora) VALUES (?, 0, ?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(etichetta);
    insert.addBindValue(user);
    insert.addBindValue(DateValue(nome));
    insert.addBindValue(TimeValue(nome));
    connection.run(insert);
    connection.commit();
    return true;
}

bool Catalogue::playerSave(const QString& nome, const PlayerMarks& marks, const QString& etichetta,
                           const QString& user) const {
    Connection connection(file_, false);
    connection.begin();
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    if (!existing.next())
        return false;
    const qint64 rowid = existing.value(0).toLongLong();
    existing.finish();
    QSqlQuery update = connection.prepare(QStringLiteral(
        "UPDATE dati SET LETTO = ?, SCRITTO = ?, TRADOTTO = ?, traduzione = ?, etichetta = ?, "
        "user = ? WHERE rowid = ?"));
    update.addBindValue(marks.letto ? 1 : 0);
    update.addBindValue(marks.scritto ? 1 : 0);
    update.addBindValue(marks.tradotto ? 1 : 0);
    update.addBindValue(marks.traduzione);
    update.addBindValue(etichetta);
    update.addBindValue(user);
    update.addBindValue(rowid);
    connection.run(update);
    connection.commit();
    return true;
}

int Catalogue::archiveAndEmpty(const QString& archiveFile) const {
    const int rows = rowCount();  // also proves the live file is a readable catalogue
    // The copy is made beside the archive and put in place only once it reads back whole,
    // so a failed copy never costs an earlier archive of the same name.
    const QString partial = archiveFile + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!QFile::copy(file_, partial)) {
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
        archived = Catalogue(partial).rowCount();
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
    Connection connection(file_, false);
    connection.exec(QStringLiteral("DELETE FROM dati"));
    return rows;
}

// ---- Fingerprints ---------------------------------------------------------------------
// Kept apart from the rest so that they move as one piece to another database engine.

namespace {

bool HasFingerprintColumns(const Connection& connection) {
    QSqlQuery columns = connection.prepare(QStringLiteral("PRAGMA table_info(dati)"));
    connection.run(columns);
    int found = 0;
    while (columns.next()) {
        const QString name = columns.value(1).toString().toLower();
        if (name == u"impronta" || name == u"impronta_byte")
            ++found;
    }
    return found == 2;
}

std::optional<CatalogueFingerprint> FingerprintValue(const QVariant& sha256,
                                                     const QVariant& bytes) {
    if (sha256.isNull() || sha256.toString().isEmpty())
        return std::nullopt;
    return CatalogueFingerprint{sha256.toString(), bytes.toLongLong()};
}

}  // namespace

void Catalogue::ensureFingerprintColumns() const {
    Connection connection(file_, false);
    connection.begin();
    QSqlQuery columns = connection.prepare(QStringLiteral("PRAGMA table_info(dati)"));
    connection.run(columns);
    bool haveSha = false;
    bool haveBytes = false;
    while (columns.next()) {
        const QString name = columns.value(1).toString().toLower();
        haveSha = haveSha || name == u"impronta";
        haveBytes = haveBytes || name == u"impronta_byte";
    }
    columns.finish();
    if (!haveSha)
        connection.exec(QStringLiteral("ALTER TABLE dati ADD COLUMN impronta TEXT"));
    if (!haveBytes)
        connection.exec(QStringLiteral("ALTER TABLE dati ADD COLUMN impronta_byte INTEGER"));
    connection.commit();
}

bool Catalogue::setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) const {
    ensureFingerprintColumns();
    Connection connection(file_, false);
    connection.begin();
    QSqlQuery existing = connection.prepare(kSelectByName);
    existing.addBindValue(nome);
    connection.run(existing);
    if (!existing.next())
        return false;
    const qint64 rowid = existing.value(0).toLongLong();
    existing.finish();
    QSqlQuery update = connection.prepare(
        QStringLiteral("UPDATE dati SET impronta = ?, impronta_byte = ? WHERE rowid = ?"));
    update.addBindValue(fingerprint.sha256);
    update.addBindValue(fingerprint.bytes);
    update.addBindValue(rowid);
    connection.run(update);
    connection.commit();
    return true;
}

std::optional<CatalogueFingerprint> Catalogue::fingerprint(const QString& nome) const {
    Connection connection(file_, false);
    if (!HasFingerprintColumns(connection))
        return std::nullopt;
    QSqlQuery query =
        connection.prepare(QStringLiteral("SELECT impronta, impronta_byte FROM dati WHERE NOME = ? "
                                          "ORDER BY rowid LIMIT 1"));
    query.addBindValue(nome);
    connection.run(query);
    if (!query.next())
        return std::nullopt;
    return FingerprintValue(query.value(0), query.value(1));
}

std::vector<FingerprintedRow> Catalogue::fingerprintedRows() const {
    Connection connection(file_, false);
    const bool withColumns = HasFingerprintColumns(connection);
    QSqlQuery query = connection.prepare(
        withColumns ? QStringLiteral("SELECT NOME, traduzione, LETTO, SCRITTO, TRADOTTO, impronta, "
                                     "impronta_byte FROM dati ORDER BY rowid")
                    : QStringLiteral("SELECT NOME, traduzione, LETTO, SCRITTO, TRADOTTO FROM dati "
                                     "ORDER BY rowid"));
    query.setForwardOnly(true);
    connection.run(query);
    std::vector<FingerprintedRow> rows;
    while (query.next()) {
        FingerprintedRow row;
        row.nome = query.value(0).toString();
        if (!query.value(1).isNull())
            row.traduzione = query.value(1).toString();
        row.letto = query.value(2).toInt() != 0;
        row.scritto = query.value(3).toInt() != 0;
        row.tradotto = query.value(4).toInt() != 0;
        if (withColumns)
            row.fingerprint = FingerprintValue(query.value(5), query.value(6));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace kallomir
