#include "catalogue/SqliteSearchIndex.h"

#include "catalogue/CatalogueSchema.h"
#include "catalogue/SearchSnippet.h"
#include "catalogue/SearchWords.h"
#include "catalogue/SqliteConnection.h"

#include <QVariant>

namespace kallomir {

namespace {

const QString kCreateIndex =
    QStringLiteral("CREATE VIRTUAL TABLE dati_parole USING fts5(testo, tokenize='%1')")
        .arg(QLatin1String(kSearchTokenizerName));

// Each trigger only notes the row: the index itself is written by code that can turn the
// rich text into plain text, so writers that cannot (an older program) still work.
const char* const kIndexObjects[] = {
    "CREATE TABLE IF NOT EXISTS dati_parole_attesa (riga INTEGER PRIMARY KEY)",
    // Every column a search filters on, newest first: a page is found without reading rows.
    "CREATE INDEX IF NOT EXISTS dati_ricerca ON dati (dtfile, ora, numero, etichetta, LETTO, "
    "SCRITTO, TRADOTTO)",
    "CREATE TRIGGER IF NOT EXISTS dati_parole_inserita AFTER INSERT ON dati "
    "WHEN new.traduzione IS NOT NULL BEGIN "
    "INSERT OR IGNORE INTO dati_parole_attesa (riga) VALUES (new.rowid); END",
    "CREATE TRIGGER IF NOT EXISTS dati_parole_cambiata AFTER UPDATE OF traduzione ON dati BEGIN "
    "INSERT OR IGNORE INTO dati_parole_attesa (riga) VALUES (new.rowid); END",
    "CREATE TRIGGER IF NOT EXISTS dati_parole_tolta AFTER DELETE ON dati BEGIN "
    "INSERT OR IGNORE INTO dati_parole_attesa (riga) VALUES (old.rowid); END",
};
constexpr int kIndexObjectCount = 6;  // the word index and the five above

// A stored truth value (1/0 here, -1 or text in files from elsewhere) as SQL.
QString IsSet(const QString& column) {
    return QStringLiteral("(coalesce(d.%1, 0) NOT IN (0, '0', '', 'false', 'False', 'FALSE'))")
        .arg(column);
}

void AddMark(QStringList& where, const QString& column, MarkFilter filter) {
    if (filter == MarkFilter::Set)
        where << IsSet(column);
    else if (filter == MarkFilter::Clear)
        where << QStringLiteral("NOT ") + IsSet(column);
}

// FTS5 query: every word typed, each quoted, so the tokenizer stems it as it stemmed the text.
QString MatchExpression(const QString& words) {
    QStringList terms;
    for (const SearchWord& word : SearchWords(words))
        terms << u'"' +
                     words.mid(word.position, word.length).replace(u'"', QStringLiteral("\"\"")) +
                     u'"';
    return terms.join(u' ');
}

}  // namespace

QString ContainsPattern(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

void EnsureSearchIndex(const SqliteConnection& connection) {
    QSqlQuery present = connection.prepare(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE name IN ('dati_parole', 'dati_parole_attesa', "
        "'dati_ricerca', 'dati_parole_inserita', 'dati_parole_cambiata', 'dati_parole_tolta')"));
    connection.run(present);
    if (present.next() && present.value(0).toInt() == kIndexObjectCount)
        return;
    present.finish();
    connection.exec(QStringLiteral("SAVEPOINT indice"));
    try {
        QSqlQuery index = connection.prepare(
            QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'dati_parole'"));
        connection.run(index);
        const bool hadIndex = index.next();
        index.finish();
        for (const char* sql : kIndexObjects) connection.exec(QString::fromLatin1(sql));
        if (!hadIndex) {
            connection.exec(kCreateIndex);
            // Every transcription written before the index existed is indexed on first use.
            connection.exec(QStringLiteral(
                "INSERT OR IGNORE INTO dati_parole_attesa (riga) SELECT rowid FROM dati "
                "WHERE traduzione IS NOT NULL"));
        }
        connection.exec(QStringLiteral("RELEASE indice"));
    } catch (...) {
        connection.exec(QStringLiteral("ROLLBACK TO indice"));
        connection.exec(QStringLiteral("RELEASE indice"));
        throw;
    }
}

int SqliteSearchBacklog(const SqliteConnection& connection) {
    QSqlQuery query = connection.prepare(QStringLiteral("SELECT count(*) FROM dati_parole_attesa"));
    connection.run(query);
    return query.next() ? query.value(0).toInt() : 0;
}

int SqliteIndexBacklog(SqliteConnection& connection, int maxRows, const PlainTextOf& plainTextOf) {
    connection.begin();
    QSqlQuery waiting = connection.prepare(
        QStringLiteral("SELECT a.riga, d.traduzione FROM dati_parole_attesa a LEFT JOIN dati d "
                       "ON d.rowid = a.riga ORDER BY a.riga LIMIT ?"));
    waiting.addBindValue(maxRows);
    connection.run(waiting);
    std::vector<std::pair<qint64, QString>> rows;
    while (waiting.next())
        rows.emplace_back(waiting.value(0).toLongLong(), waiting.value(1).toString());
    waiting.finish();
    QSqlQuery remove =
        connection.prepare(QStringLiteral("DELETE FROM dati_parole WHERE rowid = ?"));
    QSqlQuery insert =
        connection.prepare(QStringLiteral("INSERT INTO dati_parole (rowid, testo) VALUES (?, ?)"));
    QSqlQuery done =
        connection.prepare(QStringLiteral("DELETE FROM dati_parole_attesa WHERE riga = ?"));
    for (const auto& [rowid, traduzione] : rows) {
        remove.addBindValue(rowid);
        connection.run(remove);
        const QString text = traduzione.isEmpty() ? QString() : plainTextOf(traduzione);
        if (!text.trimmed().isEmpty()) {
            insert.addBindValue(rowid);
            insert.addBindValue(text);
            connection.run(insert);
        }
        done.addBindValue(rowid);
        connection.run(done);
    }
    const int left = SqliteSearchBacklog(connection);
    connection.commit();
    return left;
}

SearchPage SqliteSearch(const SqliteConnection& connection, const SearchQuery& query) {
    QStringList where;
    QVariantList values;
    const QString match = MatchExpression(query.words);
    if (!match.isEmpty()) {
        // The matching rows as a set: the page then walks dati newest first and stops at
        // its last row, however many rows match.
        where << QStringLiteral(
            "d.rowid IN (SELECT rowid FROM dati_parole WHERE dati_parole MATCH ?)");
        values << match;
    }
    if (!query.numero.trimmed().isEmpty()) {
        where << QStringLiteral("d.numero LIKE ? ESCAPE '\\'");
        values << ContainsPattern(query.numero.trimmed());
    }
    // Dates are ISO text (a time may follow): compared as text, so the index serves them.
    if (query.from) {
        where << QStringLiteral("d.dtfile >= ?");
        values << query.from->toString(Qt::ISODate);
    }
    if (query.to) {
        where << QStringLiteral("d.dtfile < ?");
        values << query.to->addDays(1).toString(Qt::ISODate);
    }
    if (!query.etichetta.trimmed().isEmpty()) {
        where << QStringLiteral("d.etichetta LIKE ? ESCAPE '\\'");
        values << ContainsPattern(query.etichetta.trimmed());
    }
    AddMark(where, QStringLiteral("LETTO"), query.letto);
    AddMark(where, QStringLiteral("SCRITTO"), query.scritto);
    AddMark(where, QStringLiteral("TRADOTTO"), query.tradotto);
    const QString order = QStringLiteral(" ORDER BY d.dtfile DESC, d.ora DESC, d.rowid DESC");
    const QString filter = where.isEmpty()
                               ? QString()
                               : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    // The page's rows are chosen first, from the index dati_ricerca alone; the rows and their
    // extracts are then read for those rows only.
    QSqlQuery page =
        connection.prepare(QStringLiteral("SELECT d.rowid FROM dati d INDEXED BY dati_ricerca") +
                           filter + order + QStringLiteral(" LIMIT ?"));
    for (const QVariant& value : values) page.addBindValue(value);
    page.addBindValue(query.limit + 1);
    connection.run(page);
    SearchPage result;
    QStringList rowids;
    while (page.next()) {
        if (int(rowids.size()) == query.limit) {
            result.more = true;
            break;
        }
        rowids << QString::number(page.value(0).toLongLong());
    }
    page.finish();
    if (rowids.isEmpty())
        return result;
    // The row numbers come from the catalogue itself, so they can stand in the statement.
    // The extract is made here from the indexed plain text, one pass over each row's words;
    // the word index's own extracts walk its match lists again for every row.
    QSqlQuery rows = connection.prepare(
        QStringLiteral("SELECT ") + RowColumnsSql() +
        QStringLiteral(", (SELECT testo FROM dati_parole WHERE rowid = d.rowid) FROM dati d "
                       "WHERE d.rowid IN (") +
        rowids.join(u',') + u')' + order);
    connection.run(rows);
    const QStringList stems = SearchStems(query.words);
    while (rows.next())
        result.hits.push_back(SearchHit{
            RowFromQuery(rows, 0), SearchSnippet(rows.value(RowColumnCount()).toString(), stems)});
    return result;
}

void EmptySqliteSearchIndex(const SqliteConnection& connection) {
    // Dropping and making the table again is immediate; deleting its rows one by one is not.
    connection.exec(QStringLiteral("DROP TABLE IF EXISTS dati_parole"));
    connection.exec(kCreateIndex);
    connection.exec(QStringLiteral("DELETE FROM dati_parole_attesa"));
}

}  // namespace kallomir
