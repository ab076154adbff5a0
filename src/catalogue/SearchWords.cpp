#include "catalogue/SearchWords.h"

#include <QChar>
#include <QSet>

#include <libstemmer.h>
#include <sqlite3.h>

#include <array>
#include <memory>

namespace kallomir {

namespace {

// Words longer than this are kept as they are: no Italian word is, and the stemmer need not
// see a pasted blob.
constexpr std::size_t kLongestStemmed = 64;

struct StemmerDeleter {
    void operator()(sb_stemmer* s) const { sb_stemmer_delete(s); }
};
using StemmerPtr = std::unique_ptr<sb_stemmer, StemmerDeleter>;

StemmerPtr NewStemmer() {
    return StemmerPtr(sb_stemmer_new("italian", "UTF_8"));
}

// The base letter of a character with its accents taken off.
char32_t WithoutAccents(char32_t cp) {
    for (int depth = 0; depth < 4 && QChar::decompositionTag(cp) == QChar::Canonical; ++depth) {
        const QString parts = QChar::decomposition(cp);
        if (parts.isEmpty())
            break;
        cp = parts.size() > 1 && parts[0].isHighSurrogate()
                 ? QChar::surrogateToUcs4(parts[0], parts[1])
                 : char32_t(parts[0].unicode());
    }
    return cp;
}

// Lower case without accents; the Latin letters, where nearly all the work is, from a table.
char32_t Folded(char32_t cp) {
    if (cp < 0x80)
        return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    static const auto table = [] {
        std::array<char32_t, 0x250> t{};
        for (char32_t c = 0; c < t.size(); ++c) t[c] = QChar::toLower(WithoutAccents(c));
        return t;
    }();
    if (cp < table.size())
        return table[cp];
    return QChar::toLower(WithoutAccents(cp));
}

bool IsWordCharacter(char32_t cp) {
    if (cp < 0x80)
        return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9');
    return QChar::isLetterOrNumber(cp);
}

bool IsMark(char32_t cp) {
    return cp >= 0x300 && QChar::isMark(cp);
}

// Decodes one UTF-8 character at i; a broken sequence counts as one non-word byte.
char32_t Decode(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80           ? 0
                      : (b >> 5) == 0x6  ? 1
                      : (b >> 4) == 0xE  ? 2
                      : (b >> 3) == 0x1E ? 3
                                         : -1;
    if (extra == 0) {
        ++i;
        return b;
    }
    if (extra < 0 || i + std::size_t(extra) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c >> 6) != 0x2) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    i += extra + 1;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Splits, folds and stems with the stemmer given (one per thread or per tokenizer).
void SplitWords(sb_stemmer* stemmer, std::string_view text, const SearchWordSink& sink) {
    std::string word;
    int begin = -1;
    int end = 0;
    auto flush = [&] {
        if (begin < 0)
            return;
        std::string_view stem = word;
        if (stemmer && word.size() <= kLongestStemmed) {
            const sb_symbol* s = sb_stemmer_stem(
                stemmer, reinterpret_cast<const sb_symbol*>(word.data()), int(word.size()));
            if (s)
                stem = std::string_view(reinterpret_cast<const char*>(s),
                                        std::size_t(sb_stemmer_length(stemmer)));
        }
        sink(stem, begin, end);
        word.clear();
        begin = -1;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t at = i;
        const char32_t cp = Decode(text, i);
        if (IsWordCharacter(cp)) {
            if (begin < 0)
                begin = int(at);
            AppendUtf8(word, Folded(cp));
            end = int(i);
        } else if (begin >= 0 && IsMark(cp)) {
            end = int(i);  // a combining accent belongs to its letter and is folded away
        } else {
            flush();
        }
    }
    flush();
}

sb_stemmer* ThreadStemmer() {
    thread_local StemmerPtr stemmer = NewStemmer();
    return stemmer.get();
}

// ---- the FTS5 tokenizer ---------------------------------------------------------------------

struct Tokenizer {
    StemmerPtr stemmer = NewStemmer();
};

int TokenizerCreate(void*, const char**, int, Fts5Tokenizer** out) {
    auto* t = new (std::nothrow) Tokenizer;
    if (!t)
        return SQLITE_NOMEM;
    if (!t->stemmer) {
        delete t;
        return SQLITE_ERROR;
    }
    *out = reinterpret_cast<Fts5Tokenizer*>(t);
    return SQLITE_OK;
}

void TokenizerDelete(Fts5Tokenizer* tokenizer) {
    delete reinterpret_cast<Tokenizer*>(tokenizer);
}

int TokenizerTokenize(Fts5Tokenizer* tokenizer, void* context, int, const char* text, int size,
                      int (*token)(void*, int, const char*, int, int, int)) {
    auto* t = reinterpret_cast<Tokenizer*>(tokenizer);
    int rc = SQLITE_OK;
    SplitWords(t->stemmer.get(), std::string_view(text, std::size_t(std::max(size, 0))),
               [&](std::string_view stem, int begin, int end) {
                   if (rc == SQLITE_OK)
                       rc = token(context, 0, stem.data(), int(stem.size()), begin, end);
               });
    return rc;
}

fts5_api* Fts5Api(sqlite3* db) {
    fts5_api* api = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return api;
}

}  // namespace

void ForEachSearchWord(std::string_view utf8, const SearchWordSink& sink) {
    SplitWords(ThreadStemmer(), utf8, sink);
}

std::vector<SearchWord> SearchWords(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::vector<SearchWord> words;
    // Byte offsets back to QChar offsets, walking forward once.
    int byte = 0;
    int qchar = 0;
    auto toQChar = [&](int target) {
        while (byte < target) {
            const auto b = static_cast<unsigned char>(utf8[byte]);
            const int size = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : 4;
            byte += size;
            qchar += size == 4 ? 2 : 1;
        }
        return qchar;
    };
    ForEachSearchWord(
        std::string_view(utf8.constData(), std::size_t(utf8.size())),
        [&](std::string_view stem, int begin, int end) {
            const int from = toQChar(begin);
            const int to = toQChar(end);
            words.push_back(SearchWord{QString::fromUtf8(stem.data(), qsizetype(stem.size())), from,
                                       to - from});
        });
    return words;
}

QString SearchWordsText(const QString& query) {
    QStringList words;
    for (const SearchWord& word : SearchWords(query))
        words << query.mid(word.position, word.length);
    return words.join(u' ');
}

QStringList SearchStems(const QString& query) {
    QStringList stems;
    for (const SearchWord& word : SearchWords(query))
        if (!stems.contains(word.stem))
            stems << word.stem;
    return stems;
}

bool RegisterSearchTokenizer(sqlite3* db) {
    fts5_api* api = Fts5Api(db);
    if (!api)
        return false;
    static fts5_tokenizer tokenizer = {&TokenizerCreate, &TokenizerDelete, &TokenizerTokenize};
    return api->xCreateTokenizer(api, kSearchTokenizerName, nullptr, &tokenizer, nullptr) ==
           SQLITE_OK;
}

}  // namespace kallomir
