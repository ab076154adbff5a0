// The word search over 100 000 catalogued recordings with 300-word transcriptions (rich
// text): building the index for rows written before it existed, the first page of a search
// (median of several queries; goal under 100 ms), and a saved transcription found by its
// new words (goal within 1 s). Usage: kallomir_search_bench [rows [catalogue file to keep]]
// on the embedded file; kallomir_search_bench --server [rows] on the PostgreSQL test server
// (run it under scripts/with-test-services.sh).
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "player/RecordingSearch.h"
#include "support/TestCatalogueServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kallomir;

namespace {

const char* const kWords[] = {
    "chiamata", "cliente",    "fattura",   "pagamento", "ritardo",      "consegna",  "ufficio",
    "telefono", "richiesta",  "contratto", "scadenza",  "appuntamento", "città",     "perché",
    "domani",   "ieri",       "settimana", "numero",    "indirizzo",    "ordine",    "prodotto",
    "servizio", "problema",   "soluzione", "tecnico",   "intervento",   "verifica",  "conferma",
    "mattina",  "pomeriggio", "sera",      "signora",   "signore",      "dottore",   "avvocato",
    "banca",    "conto",      "bonifico",  "assegno",   "ricevuta",     "documento", "pratica"};

QString Transcription(QRandomGenerator& random, int words) {
    QString text = QStringLiteral("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 ");
    for (int i = 0; i < words; ++i) {
        // Most words come from a long tail, a few from the list above.
        if (random.bounded(10) < 3)
            text += QString::fromUtf8(kWords[random.bounded(int(std::size(kWords)))]);
        else
            text += QStringLiteral("parola%1").arg(random.bounded(20000));
        text += i % 15 == 14 ? QStringLiteral("\\par ") : QStringLiteral(" ");
    }
    return text + u'}';
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<CatalogueRecord> Batch(QRandomGenerator& random, int from, int to) {
    std::vector<CatalogueRecord> batch;
    for (int i = from; i < to; ++i) {
        const QDate date = QDate(2020, 1, 1).addDays(i / 60);
        batch.push_back(
            {{"nome", date.toString(QStringLiteral("yyyyMMdd")) +
                          QStringLiteral("_%1.Ems").arg(i % 60 * 100, 6, 10, QChar(u'0'))},
             {"dtfile", date.toString(Qt::ISODate)},
             {"ora", QStringLiteral("%1:00").arg(i % 24, 2, 10, QChar(u'0'))},
             {"numero", QStringLiteral("06%1").arg(random.bounded(10000000), 7, 10, QChar(u'0'))},
             {"progressivo", i + 1},
             {"scritto", i % 2},
             {"traduzione", Transcription(random, 300)}});
    }
    return batch;
}

void BuildIndex(CatalogueStore& catalogue, int rows) {
    QElapsedTimer timer;
    timer.start();
    int left = catalogue.searchBacklog();
    while (left > 0) left = catalogue.indexBacklog(2000, TranscriptionPlainText);
    std::printf("index built for %d rows in %.1f s (goal: under 60 s)\n", rows,
                timer.elapsed() / 1000.0);
}

void Searches(CatalogueStore& catalogue);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool server = argc > 1 && qstrcmp(argv[1], "--server") == 0;
    if (server) {
        --argc;
        ++argv;
    }
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QRandomGenerator random(17);
    QElapsedTimer timer;
    timer.start();
    if (server) {
        if (!test::TestCatalogueServer::available()) {
            std::printf("no catalogue server: %s\n",
                        qPrintable(test::TestCatalogueServer::skipReason()));
            return 1;
        }
        test::TestServerSchema schema;
        QTemporaryDir folder;
        ServerCatalogue catalogue(schema.config(), folder.path());
        catalogue.create();
        for (int start = 0; start < rows; start += 5000)
            catalogue.copyRows(Batch(random, start, std::min(rows, start + 5000)));
        std::printf("server catalogue of %d rows written in %.1f s\n", rows,
                    timer.elapsed() / 1000.0);
        BuildIndex(catalogue, rows);
        schema.exec(QStringLiteral("ANALYZE dati"));
        schema.exec(QStringLiteral("ANALYZE dati_parole"));
        Searches(catalogue);
        return 0;
    }
    // A second argument keeps the catalogue in that file, and a later run reuses it, so the
    // searches can be measured again without writing and indexing the rows again.
    QTemporaryDir home;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : home.filePath(QStringLiteral("datirec.mdb"));
    const bool reuse = argc > 2 && QFileInfo::exists(file);
    SqliteCatalogue catalogue(file);
    if (!reuse) {
        catalogue.create();
        for (int start = 0; start < rows; start += 5000)
            catalogue.appendRecords(Batch(random, start, std::min(rows, start + 5000)));
        std::printf("catalogue of %d rows written in %.1f s\n", rows, timer.elapsed() / 1000.0);
        BuildIndex(catalogue, rows);
    }
    Searches(catalogue);
    return 0;
}

namespace {

void Searches(CatalogueStore& catalogue) {
    struct Query {
        const char* what;
        SearchQuery query;
    };
    const Query queries[] = {
        {"one common word", {.words = QStringLiteral("chiamate")}},
        {"two words", {.words = QStringLiteral("fattura citta")}},
        {"three words", {.words = QStringLiteral("cliente pagamento ritardo")}},
        {"a rare word", {.words = QStringLiteral("parola12345")}},
        {"number part", {.numero = QStringLiteral("1234")}},
        {"words and marks", {.words = QStringLiteral("contratto"), .scritto = MarkFilter::Set}},
        {"date range", {.from = QDate(2021, 1, 1), .to = QDate(2021, 3, 31)}},
    };
    for (const Query& q : queries) {
        std::vector<double> times;
        std::size_t hits = 0;
        for (int i = 0; i < 7; ++i) {
            QElapsedTimer t;
            t.start();
            hits = catalogue.search(q.query).hits.size();
            times.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("search %-16s first page of %zu rows: median %.1f ms (goal: under 100 ms)\n",
                    q.what, hits, Median(times));
    }

    std::vector<double> saved;
    for (int i = 0; i < 5; ++i) {
        const QString nome = catalogue.search(SearchQuery{.limit = 1}).hits.front().row.nome;
        const QString word = QStringLiteral("novissima%1").arg(i);
        QElapsedTimer t;
        t.start();
        catalogue.playerSave(nome, PlayerMarks{.traduzione = "{\\rtf1 " + word + "\\par}"}, "E",
                             "op");
        catalogue.indexBacklog(1000, TranscriptionPlainText);
        const bool found = catalogue.search(SearchQuery{.words = word}).hits.size() == 1;
        saved.push_back(t.nsecsElapsed() / 1e6);
        if (!found)
            std::printf("saved transcription NOT found\n");
    }
    std::printf(
        "saved transcription found by its new words: median %.1f ms (goal: under 1000 ms)\n",
        Median(saved));
}

}  // namespace
