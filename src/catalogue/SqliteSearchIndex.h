#pragma once

#include "catalogue/CatalogueStore.h"

namespace kallomir {

class SqliteConnection;

// The embedded catalogue's word index of the transcriptions: FTS5 table dati_parole (the
// plain text of each row's traduzione, rowid = the row's rowid, split by the Italian
// tokenizer of SearchWords.h) and the backlog dati_parole_attesa, which triggers on dati
// fill with every row inserted with a text, changed or deleted - by this program, an older
// one or any other tool - so the index never drifts from the table.

// Creates the index, its backlog and triggers when missing; a catalogue that had no index
// puts every row with a text in the backlog.
void EnsureSearchIndex(const SqliteConnection& connection);

int SqliteSearchBacklog(const SqliteConnection& connection);
int SqliteIndexBacklog(SqliteConnection& connection, int maxRows, const PlainTextOf& plainTextOf);
SearchPage SqliteSearch(const SqliteConnection& connection, const SearchQuery& query);
// Empties the index and its backlog (the rows are being deleted in the same transaction).
void EmptySqliteSearchIndex(const SqliteConnection& connection);

// LIKE pattern matching text anywhere, with its wildcards escaped by '\'.
QString ContainsPattern(const QString& text);

}  // namespace kallomir
