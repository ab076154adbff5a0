#include "catalogue/CatalogueSchema.h"

#include <QSqlRecord>

namespace kallomir {

namespace {

// On the server every name is lower case, as PostgreSQL folds unquoted names; "user" is a
// reserved word there, so names are always quoted.
QString QuotedName(const QString& name, bool server) {
    return u'"' + (server ? name.toLower() : name) + u'"';
}

}  // namespace

CatalogueColumn CallerNumberColumn() {
    // Rows written before the number was kept have none (null), as do sound-card recordings.
    return {QStringLiteral("numero"), QStringLiteral("TEXT"), QStringLiteral("text")};
}

const std::vector<CatalogueColumn>& CatalogueColumns() {
    static const std::vector<CatalogueColumn> columns = {
        {QStringLiteral("NOME"), QStringLiteral("TEXT COLLATE NOCASE"), QStringLiteral("text")},
        {QStringLiteral("etichetta"), QStringLiteral("TEXT"), QStringLiteral("text")},
        {QStringLiteral("dtfile"), QStringLiteral("DATE"), QStringLiteral("date")},
        {QStringLiteral("ora"), QStringLiteral("TEXT"), QStringLiteral("text")},
        {QStringLiteral("progressivo"), QStringLiteral("INTEGER"), QStringLiteral("integer")},
        {QStringLiteral("LETTO"), QStringLiteral("BOOLEAN"), QStringLiteral("boolean")},
        {QStringLiteral("SCRITTO"), QStringLiteral("BOOLEAN"), QStringLiteral("boolean")},
        {QStringLiteral("TRADOTTO"), QStringLiteral("BOOLEAN"), QStringLiteral("boolean")},
        {QStringLiteral("traduzione"), QStringLiteral("TEXT"), QStringLiteral("text")},
        {QStringLiteral("user"), QStringLiteral("TEXT"), QStringLiteral("text")},
        // Rows written before the edit check existed count as their first version.
        {QStringLiteral("versione"), QStringLiteral("INTEGER NOT NULL DEFAULT 1"),
         QStringLiteral("integer NOT NULL DEFAULT 1")},
        CallerNumberColumn(),
        // The recording file's SHA-256 and size as saved; empty for rows from before.
        {QStringLiteral("impronta"), QStringLiteral("TEXT"), QStringLiteral("text")},
        {QStringLiteral("impronta_byte"), QStringLiteral("INTEGER"), QStringLiteral("bigint")},
    };
    return columns;
}

std::vector<CatalogueColumn> MissingColumns(const QStringList& existing) {
    std::vector<CatalogueColumn> missing;
    for (const CatalogueColumn& column : CatalogueColumns())
        if (!existing.contains(column.name, Qt::CaseInsensitive))
            missing.push_back(column);
    return missing;
}

QString CreateTableSql(bool server) {
    QStringList parts;
    if (server)
        parts << QStringLiteral("id bigserial PRIMARY KEY");
    for (const CatalogueColumn& column : CatalogueColumns())
        parts << QuotedName(column.name, server) + u' ' +
                     (server ? column.serverType : column.sqliteType);
    return QStringLiteral("CREATE TABLE dati (") + parts.join(QStringLiteral(", ")) + u')';
}

QString AddColumnSql(const CatalogueColumn& column, bool server) {
    return QStringLiteral("ALTER TABLE dati ADD COLUMN ") + QuotedName(column.name, server) + u' ' +
           (server ? column.serverType : column.sqliteType);
}

std::optional<CatalogueFingerprint> FingerprintFromValues(const QVariant& sha256,
                                                          const QVariant& bytes) {
    if (sha256.isNull() || sha256.toString().isEmpty())
        return std::nullopt;
    return CatalogueFingerprint{sha256.toString(), bytes.toLongLong()};
}

FingerprintedRow FingerprintedRowFromQuery(const QSqlQuery& query) {
    FingerprintedRow row;
    row.nome = query.value(0).toString();
    if (!query.value(1).isNull())
        row.traduzione = query.value(1).toString();
    row.letto = TruthOf(query.value(2));
    row.scritto = TruthOf(query.value(3));
    row.tradotto = TruthOf(query.value(4));
    row.fingerprint = FingerprintFromValues(query.value(5), query.value(6));
    return row;
}

QString RowColumnsSql() {
    return QStringLiteral(
        "nome, etichetta, dtfile, ora, progressivo, letto, scritto, tradotto, traduzione, "
        "\"user\", versione, numero");
}

int RowColumnCount() {
    return int(RowColumnsSql().count(u',')) + 1;
}

bool TruthOf(const QVariant& value) {
    if (value.isNull())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == u"true" || text == u"vero" || text == u"t")
        return true;
    return text.toLongLong() != 0;
}

CatalogueRow RowFromQuery(const QSqlQuery& query, int first) {
    CatalogueRow row;
    row.nome = query.value(first).toString();
    row.etichetta = query.value(first + 1).toString();
    const QVariant date = query.value(first + 2);
    if (date.isNull()) {
        // no date: the name holds none
    } else if (date.typeId() == QMetaType::QDate) {
        row.dtfile = date.toDate();
    } else {
        const QDate parsed = QDate::fromString(date.toString().left(10), Qt::ISODate);
        if (parsed.isValid())
            row.dtfile = parsed;
    }
    row.ora = query.value(first + 3).toString();
    if (!query.value(first + 4).isNull())
        row.progressivo = query.value(first + 4).toInt();
    row.letto = TruthOf(query.value(first + 5));
    row.scritto = TruthOf(query.value(first + 6));
    row.tradotto = TruthOf(query.value(first + 7));
    if (!query.value(first + 8).isNull())
        row.traduzione = query.value(first + 8).toString();
    row.user = query.value(first + 9).toString();
    row.versione = query.value(first + 10).isNull() ? 1 : query.value(first + 10).toLongLong();
    row.numero = query.value(first + 11).toString();
    return row;
}

QVariant DateValueOf(const QString& nome, bool server) {
    const auto date = DateFromRecordingName(nome);
    if (!date)
        return QVariant();
    // The embedded file keeps dates as ISO text; the server has a real date type.
    return server ? QVariant(*date) : QVariant(date->toString(Qt::ISODate));
}

QVariant TimeValueOf(const QString& nome) {
    const auto time = TimeFromRecordingName(nome);
    return time ? QVariant(*time) : QVariant();
}

QVariant NumberValueOf(const QString& numero) {
    const QString trimmed = numero.trimmed();
    return trimmed.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(trimmed);
}

}  // namespace kallomir
