// The catalogue on a PostgreSQL server over loopback: the time from a saved recording to its
// committed row (goal: median under 10 ms), and the logbook of 10 000 rows read from the
// server (goal: under 2 s to the first page). Run under scripts/with-test-services.sh, which
// starts the private server, or set KALLOMIR_TEST_PG_HOST/PORT/DATABASE/USER/PASSWORD_FILE.
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/RuntimeError.h"
#include "player/ReportDocument.h"
#include "player/ReportRows.h"
#include "support/MemorySettingsStore.h"
#include "support/TestCatalogueServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kallomir;

namespace {

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const std::size_t i =
        std::min(values.size() - 1, static_cast<std::size_t>(p * double(values.size() - 1) + 0.5));
    return values[i];
}

void SaveToCatalogued(const ServerCatalogueConfig& config) {
    QTemporaryDir folder;
    MemorySettingsStore store;
    UserSettings settings(store, QStringLiteral("kallomir"));
    ServerCatalogue catalogue(config, folder.path(), &settings);
    const int saves = 500;
    std::vector<double> ms;
    QElapsedTimer timer;
    const QDateTime start(QDate(2024, 5, 6), QTime(8, 0, 0));
    double first = 0;
    for (int i = 0; i <= saves; ++i) {
        const QString name = start.addSecs(i * 7).toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                             QStringLiteral(".Ems");
        timer.start();
        RecorderInsertNotes notes;
        const auto number = catalogue.recorderInsert(name, settings, &notes);
        const double elapsed = double(timer.nsecsElapsed()) / 1e6;
        if (!number || notes.queued) {
            std::printf("save %d was not catalogued on the server\n", i);
            return;
        }
        if (i == 0)
            first = elapsed;  // opens the connection and looks at the table
        else
            ms.push_back(elapsed);
    }
    std::printf(
        "save-to-catalogued on the server (loopback, %d saves, row + number + settings): "
        "median %.2f ms (goal: under 10 ms), 95th %.2f ms, max %.2f ms; first save with the "
        "connection opened %.1f ms\n",
        saves, Percentile(ms, 0.5), Percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()),
        first);
}

void Logbook(const ServerCatalogueConfig& config) {
    QTemporaryDir home;
    const int rows = 10000;
    std::vector<CatalogueRecord> records;
    records.reserve(rows);
    for (int i = 0; i < rows; ++i) {
        CatalogueRecord r;
        r.insert(QStringLiteral("nome"), QStringLiteral("rec%1.Ems").arg(i));
        r.insert(QStringLiteral("etichetta"), QStringLiteral("Not Set"));
        r.insert(QStringLiteral("dtfile"), QDate(2020, 1, 1).addDays((rows - i) / 40));
        r.insert(QStringLiteral("ora"), QStringLiteral("%1:%2")
                                            .arg(i % 24, 2, 10, QChar(u'0'))
                                            .arg(i % 60, 2, 10, QChar(u'0')));
        r.insert(QStringLiteral("progressivo"), i + 1);
        r.insert(QStringLiteral("letto"), i % 2 == 0);
        r.insert(QStringLiteral("scritto"), i % 3 == 0);
        r.insert(QStringLiteral("tradotto"), false);
        r.insert(
            QStringLiteral("traduzione"),
            QStringLiteral("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 {\\b Trascrizione} "
                           "della chiamata %1: il testo prosegue per un po' di righe "
                           "come in un verbale vero.\\par Seconda riga.}")
                .arg(i));
        r.insert(QStringLiteral("user"), QStringLiteral("operatore"));
        records.push_back(std::move(r));
    }
    ServerCatalogue catalogue(config, home.path());
    catalogue.copyRows(records);

    QElapsedTimer timer;
    timer.start();
    const std::vector<CatalogueRecord> read = catalogue.allRows();
    const qint64 fetched = timer.elapsed();
    const ReportDocument report =
        BuildReport(home.path(), CatalogueReportRowSource(catalogue), QDateTime::currentDateTime());
    const qint64 built = timer.elapsed();
    (void)report.renderPage(0, 1.0);
    const qint64 first = timer.elapsed();
    QImage page(report.pageSize().toSize(), QImage::Format_RGB32);
    for (int i = 0; i < report.pageCount(); ++i) {
        QPainter painter(&page);
        report.paintPage(painter, i);
    }
    const qint64 drawn = timer.elapsed();
    std::printf(
        "logbook of %d rows from the server: %d pages; rows fetched alone %lld ms; read + sort + "
        "layout %lld ms, first page shown %lld ms (goal: under 2000 ms; this includes a second "
        "fetch), all pages drawn %lld ms\n",
        int(read.size()), report.pageCount(), static_cast<long long>(fetched),
        static_cast<long long>(built - fetched), static_cast<long long>(first - fetched),
        static_cast<long long>(drawn - fetched));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!test::TestCatalogueServer::available()) {
        std::printf("no catalogue server: %s\n",
                    qPrintable(test::TestCatalogueServer::skipReason()));
        return 1;
    }
    try {
        test::TestServerSchema schema;
        std::printf("server fsync=%s synchronous_commit=%s\n",
                    qPrintable(schema.value(QStringLiteral("SHOW fsync")).toString()),
                    qPrintable(schema.value(QStringLiteral("SHOW synchronous_commit")).toString()));
        SaveToCatalogued(schema.config());
        test::TestServerSchema logbook;
        Logbook(logbook.config());
    } catch (const RuntimeError& error) {
        std::printf("Error %d %s\n", error.number(), error.what());
        return 1;
    }
    return 0;
}
