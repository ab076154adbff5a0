// The word search and the filters, each run against the embedded file and the server.
#include "CatalogueBackends.h"
#include "catalogue/SearchWords.h"

#include <QSqlError>

using namespace kallomir;
using namespace kallomir::test;

namespace {

QString Same(const QString& text) {
    return text;
}

class SearchTest : public CatalogueBackend {
protected:
    void SetUp() override {
        CatalogueBackend::SetUp();
        if (!IsSkipped())
            startNumbersAfter(0);
    }

    struct Recording {
        QString nome;
        QString numero;
        QString etichetta;
        PlayerMarks marks;
    };

    void add(const Recording& r) {
        settings().save("etichetta", r.etichetta);
        catalogue().recorderInsert(r.nome, settings(), nullptr, r.numero);
        if (!r.marks.traduzione.isEmpty() || r.marks.letto || r.marks.scritto || r.marks.tradotto) {
            ASSERT_EQ(catalogue().playerSave(r.nome, r.marks, r.etichetta, "op").status,
                      PlayerSaveResult::Status::Saved);
        }
    }
    void saveText(const QString& nome, const QString& text) {
        ASSERT_EQ(catalogue().playerSave(nome, PlayerMarks{.traduzione = text}, "E", "op").status,
                  PlayerSaveResult::Status::Saved);
    }
    static QStringList names(CatalogueStore& store, const SearchQuery& query) {
        EXPECT_EQ(store.indexBacklog(100000, Same), 0);
        QStringList out;
        for (const SearchHit& hit : store.search(query).hits) out << hit.row.nome;
        return out;
    }
    QStringList names(const SearchQuery& query) { return names(catalogue(), query); }
    QStringList names(const QString& words) { return names(SearchQuery{.words = words}); }
};

// Italian word forms meet at their stem, accents and case are folded away; words that only
// look alike stay apart.
TEST_P(SearchTest, StemsAndAccents) {
    struct Case {
        const char* typed;
        const char* stored;
        bool found;
    };
    const Case cases[] = {
        {"chiamata", "chiamate", true},     {"chiamate", "la chiamata", true},
        {"telefonata", "telefonato", true}, {"citta", "città", true},
        {"CITTÀ", "citta", true},           {"perche", "perché", true},
        {"caffe", "Caffè", true},           {"Senora Muller", "señora Müller", true},
        {"chiamata", "richiamata", false},  {"casa", "cassa", false},
        {"nome", "numero", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString nome = QStringLiteral("20240101_1000%1.Ems").arg(n++, 2, 10, QChar(u'0'));
        add({nome, {}, "E", PlayerMarks{.traduzione = QString::fromUtf8(c.stored)}});
        const QStringList found = names(QString::fromUtf8(c.typed));
        EXPECT_EQ(found.contains(nome), c.found) << c.typed << " / " << c.stored;
        saveText(nome, "x");  // out of the way of the next pair
    }
}

TEST_P(SearchTest, EveryFilterAloneAndCombined) {
    add({"20240110_090000.Ems", "0612345678", "Caso 7",
         PlayerMarks{.letto = true, .traduzione = "Il cliente chiama per la fattura"}});
    add({"20240215_100000.Ems", "+393331112222", "Turno 2",
         PlayerMarks{.scritto = true, .traduzione = "Ritardo della consegna in città"}});
    add({"20240320_110000.Ems", "", "Caso 7",
         PlayerMarks{.tradotto = true, .traduzione = "chiamate ripetute sulla fattura"}});
    add({"20240401_120000.Ems", "0698765", "Turno 2", {}});
    const QString a = "20240110_090000.Ems", b = "20240215_100000.Ems", c = "20240320_110000.Ems",
                  d = "20240401_120000.Ems";
    struct Case {
        const char* what;
        SearchQuery query;
        QStringList expected;  // newest first
    };
    const Case cases[] = {
        {"nothing: every row", {}, {d, c, b, a}},
        {"a word", {.words = "fattura"}, {c, a}},
        {"every word must occur", {.words = "fattura chiamata"}, {c, a}},
        {"a word in no row", {.words = "fattura consegna"}, {}},
        {"accents folded", {.words = "citta"}, {b}},
        {"number prefix", {.numero = "06"}, {d, a}},
        {"number part", {.numero = "333"}, {b}},
        {"number with +", {.numero = "+39"}, {b}},
        {"wildcards are text", {.numero = "%"}, {}},
        {"from a date", {.from = QDate(2024, 2, 15)}, {d, c, b}},
        {"up to a date", {.to = QDate(2024, 2, 15)}, {b, a}},
        {"between dates", {.from = QDate(2024, 2, 1), .to = QDate(2024, 3, 31)}, {c, b}},
        {"label, any case", {.etichetta = "caso"}, {c, a}},
        {"listened", {.letto = MarkFilter::Set}, {a}},
        {"not listened", {.letto = MarkFilter::Clear}, {d, c, b}},
        {"transcribed", {.scritto = MarkFilter::Set}, {b}},
        {"mastered", {.tradotto = MarkFilter::Set}, {c}},
        {"combined", {.words = "fattura", .etichetta = "Caso 7", .tradotto = MarkFilter::Set}, {c}},
        {"combined, number and date", {.numero = "06", .from = QDate(2024, 3, 1)}, {d}},
    };
    for (const Case& k : cases) EXPECT_EQ(names(k.query), k.expected) << k.what;
}

TEST_P(SearchTest, SnippetMarksTheMatchedWordsAndThePageHasItsLimit) {
    for (int i = 0; i < 3; ++i)
        add({QStringLiteral("20240501_10000%1.Ems").arg(i),
             {},
             "E",
             PlayerMarks{.traduzione = "Buongiorno, la richiamo per le chiamate di ieri."}});
    catalogue().indexBacklog(100, Same);
    const SearchPage page = catalogue().search(SearchQuery{.words = "chiamata", .limit = 2});
    ASSERT_EQ(page.hits.size(), 2u);
    EXPECT_TRUE(page.more);
    const QString marked = QChar(kHitStart) + QStringLiteral("chiamate") + QChar(kHitEnd);
    EXPECT_TRUE(page.hits[0].snippet.contains(marked)) << page.hits[0].snippet.toStdString();
    EXPECT_FALSE(page.hits[0].snippet.contains(QChar(kHitStart) + QStringLiteral("richiamo")));
}

// Saved again, a transcription is found by its new words and no longer by the old ones.
TEST_P(SearchTest, EditedTranscriptionIsFoundByItsNewWords) {
    add({"20240601_090000.Ems", {}, "E", PlayerMarks{.traduzione = "pagamento arretrato"}});
    EXPECT_EQ(catalogue().searchBacklog(), 1);
    EXPECT_EQ(names("pagamento"), QStringList{"20240601_090000.Ems"});
    saveText("20240601_090000.Ems", "appuntamento confermato");
    EXPECT_EQ(catalogue().searchBacklog(), 1);
    EXPECT_EQ(names("pagamento"), QStringList{});
    EXPECT_EQ(names("appuntamenti"), QStringList{"20240601_090000.Ems"});
}

// End of service empties the index with the rows; what comes after is found alone.
TEST_P(SearchTest, EndOfServiceLeavesNothingInTheIndex) {
    add({"20240601_090000.Ems", {}, "E", PlayerMarks{.traduzione = "contratto firmato"}});
    add({"20240601_100000.Ems", {}, "E", PlayerMarks{.traduzione = "contratto scaduto"}});
    ASSERT_EQ(names("contratto").size(), 2u);
    ASSERT_EQ(catalogue().archiveAndEmpty(home.path("archivio.mdb")), 2);
    EXPECT_EQ(catalogue().searchBacklog(), 0);
    EXPECT_EQ(names("contratto"), QStringList{});
    add({"20240602_090000.Ems", {}, "E", PlayerMarks{.traduzione = "nuovo contratto"}});
    EXPECT_EQ(names("contratto"), QStringList{"20240602_090000.Ems"});
}

// Rows changed or removed by any other writer are noted by the table's triggers.
TEST_P(SearchTest, RowsChangedOutsideTheProgramAreIndexedToo) {
    add({"20240701_090000.Ems", {}, "E", PlayerMarks{.traduzione = "sopralluogo"}});
    add({"20240701_100000.Ems", {}, "E", PlayerMarks{.traduzione = "sopralluogo"}});
    ASSERT_EQ(names("sopralluogo").size(), 2u);
    const char* removal = "DELETE FROM dati WHERE nome = '20240701_090000.Ems'";
    const char* change =
        "UPDATE dati SET traduzione = 'preventivo' WHERE nome = '20240701_100000.Ems'";
    if (server()) {
        ASSERT_TRUE(schema->exec(removal));
        ASSERT_TRUE(schema->exec(change));
    } else {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
        db.setDatabaseName(SqliteCatalogue::FileInFolder(home.home()));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(removal)) << q.lastError().text().toStdString();
        ASSERT_TRUE(q.exec(change)) << q.lastError().text().toStdString();
        q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    }
    EXPECT_EQ(catalogue().searchBacklog(), 2);
    EXPECT_EQ(names("sopralluogo"), QStringList{});
    EXPECT_EQ(names("preventivo"), QStringList{"20240701_100000.Ems"});
}

// A caller ID may carry a name rather than digits.
TEST_P(SearchTest, NumberWithLettersMatchesInAnyCase) {
    add({"20240801_090000.Ems", "Centralino 2", "E", {}});
    add({"20240801_100000.Ems", "0612345", "E", {}});
    EXPECT_EQ(names(SearchQuery{.numero = "centralino"}), QStringList{"20240801_090000.Ems"});
    EXPECT_EQ(names(SearchQuery{.numero = "TRALINO 2"}), QStringList{"20240801_090000.Ems"});
    EXPECT_EQ(names(SearchQuery{.numero = "123"}), QStringList{"20240801_100000.Ems"});
}

// A catalogue prepared by an older program lacks the index the search walks; the next
// program to open it adds it.
TEST_P(SearchTest, TheSearchOrderIndexIsAddedToAnOlderCatalogue) {
    add({"20240901_090000.Ems", {}, "E", PlayerMarks{.traduzione = "sopralluogo"}});
    ASSERT_EQ(names("sopralluogo").size(), 1u);
    const char* present = "SELECT count(*) FROM %1 WHERE %2 = 'dati_ricerca'";
    if (server()) {
        ASSERT_TRUE(schema->exec("DROP INDEX dati_ricerca"));
        ServerCatalogue again(schema->config(), home.home(), &settings());
        EXPECT_EQ(names(again, SearchQuery{.words = "sopralluogo"}).size(), 1u);
        EXPECT_EQ(schema->value(QString::fromLatin1(present)
                                    .arg("pg_indexes", "indexname")
                                    .replace("WHERE", "WHERE schemaname = current_schema() AND")),
                  1);
    } else {
        auto count = [&](const char* sql) {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
            db.setDatabaseName(SqliteCatalogue::FileInFolder(home.home()));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QString::fromLatin1(sql))) << q.lastError().text().toStdString();
            const int n = q.next() ? q.value(0).toInt() : -1;
            q = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase("other");
            return n;
        };
        count("DROP INDEX dati_ricerca");
        EXPECT_EQ(names("sopralluogo").size(), 1u);
        EXPECT_EQ(count(qPrintable(QString::fromLatin1(present).arg("sqlite_master", "name"))), 1);
    }
}

// A catalogue of 10 000 rows written before the index existed is indexed in batches.
TEST_P(SearchTest, IndexBuiltForTenThousandExistingRows) {
    if (server()) {
        ASSERT_TRUE(schema->exec(
            "INSERT INTO dati (nome, traduzione) SELECT to_char(i, 'FM00000') || '.Ems', "
            "'testo numero ' || i || CASE WHEN i % 1000 = 0 THEN ' sorpresa' ELSE '' END "
            "FROM generate_series(1, 10000) i"));
    } else {
        SqliteCatalogue& file = static_cast<SqliteCatalogue&>(catalogue());
        std::vector<CatalogueRecord> rows;
        for (int i = 1; i <= 10000; ++i)
            rows.push_back({{"nome", QStringLiteral("%1.Ems").arg(i, 5, 10, QChar(u'0'))},
                            {"traduzione", QStringLiteral("testo numero %1%2")
                                               .arg(i)
                                               .arg(i % 1000 == 0 ? " sorpresa" : "")}});
        file.appendRecords(rows);
    }
    EXPECT_EQ(catalogue().searchBacklog(), 10000);
    int left = 10000, batches = 0;
    while (left > 0) {
        const int before = left;
        left = catalogue().indexBacklog(2500, Same);
        ASSERT_LT(left, before);
        ++batches;
    }
    EXPECT_EQ(batches, 4);
    EXPECT_EQ(catalogue().search(SearchQuery{.words = "sorpresa", .limit = 50}).hits.size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, SearchTest,
                         ::testing::Values(Backend::File, Backend::Server), BackendName);

// ---- the words themselves -------------------------------------------------------------

TEST(SearchWords, SplitFoldAndPlace) {
    struct Case {
        const char* text;
        QStringList stems;
    };
    const Case cases[] = {
        {"Città, perché?", {"citt", "perc"}},
        {"l'analisi dell'ufficio", {"l", "analis", "dell", "uffic"}},
        {"CHIAMATA", {"chiam"}},
        {"e\u0301 cosi\u0300", {"e", "cos"}},  // accents as combining marks
        {"via Roma 12", {"via", "rom", "12"}},
        {"", {}},
        {"--- ,;", {}},
    };
    for (const Case& c : cases) {
        QStringList stems;
        for (const SearchWord& w : SearchWords(QString::fromUtf8(c.text))) stems << w.stem;
        EXPECT_EQ(stems, c.stems) << c.text;
    }
    // Where each word lies, in characters of the text (for highlighting in the editor).
    const auto words = SearchWords(QStringLiteral("Però la città 😀 chiamò"));
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[2].position, 8);
    EXPECT_EQ(words[2].length, 5);
    EXPECT_EQ(words[3].position, 17) << "after a character outside the basic plane";
    EXPECT_EQ(words[3].length, 6);
}

}  // namespace
