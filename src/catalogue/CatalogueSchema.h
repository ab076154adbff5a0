#pragma once

#include "catalogue/CatalogueStore.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <vector>

namespace kallomir {

// One column of table dati as each back end declares it. A table made by an older program
// gains the columns it lacks (ALTER TABLE ... ADD COLUMN, in this order) the first time a
// newer one opens it; rows already there take the column's default. A new column is one
// more entry here, with a default that suits the rows written before it existed.
struct CatalogueColumn {
    QString name;        // as written in SQL; matched without regard to case
    QString sqliteType;  // declaration in the embedded file
    QString serverType;  // declaration on the PostgreSQL server
};

const std::vector<CatalogueColumn>& CatalogueColumns();

// The caller's number column "numero": what the line reported for the call (caller ID of an
// incoming call, the number dialled for a call-back); empty for sound-card recordings.
CatalogueColumn CallerNumberColumn();

// The columns missing from a table that has `existing` (any case), in declaration order.
std::vector<CatalogueColumn> MissingColumns(const QStringList& existing);

// "CREATE TABLE dati (...)" with every column, for each back end. The server table also has
// a serial key "id" that orders rows as the embedded file's rowid does.
QString CreateTableSql(bool server);
QString AddColumnSql(const CatalogueColumn& column, bool server);

// The columns CatalogueRow reads, in the order RowFromQuery expects them.
QString RowColumnsSql();
// How many columns RowColumnsSql() selects.
int RowColumnCount();
// Reads a CatalogueRow from the current record of a query selecting RowColumnsSql() at
// column `first`.
CatalogueRow RowFromQuery(const QSqlQuery& query, int first = 0);

// The fingerprint from the two columns (nothing when the SHA-256 is empty).
std::optional<CatalogueFingerprint> FingerprintFromValues(const QVariant& sha256,
                                                          const QVariant& bytes);
// The integrity check's columns, in the order FingerprintedRowFromQuery reads them.
inline QString FingerprintedColumnsSql() {
    return QStringLiteral("nome, traduzione, letto, scritto, tradotto, impronta, impronta_byte");
}
FingerprintedRow FingerprintedRowFromQuery(const QSqlQuery& query);

// Bound values for the date and the time a recording's name holds (null when it holds none).
QVariant DateValueOf(const QString& nome, bool server);
QVariant TimeValueOf(const QString& nome);
// The bound value of a caller's number: null when there is none.
QVariant NumberValueOf(const QString& numero);

// A truth value as either back end or an older file may hold it (bool, 1/0, -1, text).
bool TruthOf(const QVariant& value);

}  // namespace kallomir
