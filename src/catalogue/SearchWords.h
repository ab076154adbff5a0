#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kallomir {

// The words of a text as the search compares them: letters and digits only, lower case,
// accents folded ("città" -> "citta"), reduced to their Italian stem ("chiamata",
// "chiamate" -> "chiam"). The transcriptions' index and the operator's query both go
// through this, so a word is found in any of its forms.

// One word of a UTF-8 text: its stem, and where the word lies (byte offsets).
using SearchWordSink = std::function<void(std::string_view stem, int begin, int end)>;
void ForEachSearchWord(std::string_view utf8, const SearchWordSink& sink);

// One word of a text: its stem and where it lies (QChar offsets).
struct SearchWord {
    QString stem;
    int position = 0;
    int length = 0;
};
std::vector<SearchWord> SearchWords(const QString& text);

// The words of a query as typed, without anything else, joined by spaces.
QString SearchWordsText(const QString& query);

// The distinct stems of a query, in the order typed.
QStringList SearchStems(const QString& query);

// The name of the full-text tokenizer that splits the embedded catalogue's transcriptions.
inline constexpr const char* kSearchTokenizerName = "kallomir_it";

// Makes the tokenizer known to one SQLite connection (FTS5). False when FTS5 is missing.
bool RegisterSearchTokenizer(sqlite3* db);

}  // namespace kallomir
