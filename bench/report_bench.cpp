// Lays out and renders the logbook report for a catalogue of 10 000 rows and prints the
// times (goal: under 2 s from catalogue to every page drawn).
#include "player/ReportDocument.h"

#include <QDate>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

using namespace kallomir;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    const QString file = home.filePath(QStringLiteral("datirec.mdb"));
    const int rows = 10000;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("b"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery q(db);
        q.exec(
            QStringLiteral("CREATE TABLE dati (NOME TEXT, etichetta TEXT, dtfile DATE, ora TEXT, "
                           "progressivo INTEGER, LETTO BOOLEAN, SCRITTO BOOLEAN, TRADOTTO BOOLEAN, "
                           "traduzione TEXT, user TEXT)"));
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO dati VALUES (?,?,?,?,?,?,?,?,?,?)"));
        for (int i = 0; i < rows; ++i) {
            q.addBindValue(QStringLiteral("rec%1.Ems").arg(i));
            q.addBindValue(QStringLiteral("Not Set"));
            q.addBindValue(QDate(2020, 1, 1).addDays((rows - i) / 40));
            q.addBindValue(QStringLiteral("%1:%2")
                               .arg(i % 24, 2, 10, QChar(u'0'))
                               .arg(i % 60, 2, 10, QChar(u'0')));
            q.addBindValue(i + 1);
            q.addBindValue(i % 2 == 0);
            q.addBindValue(i % 3 == 0);
            q.addBindValue(false);
            q.addBindValue(
                QStringLiteral("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 {\\b Trascrizione} "
                               "della chiamata %1: il testo prosegue per un po' di righe "
                               "come in un verbale vero.\\par Seconda riga.}")
                    .arg(i));
            q.addBindValue(QStringLiteral("operatore"));
            q.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("b"));

    QElapsedTimer timer;
    timer.start();
    const ReportDocument report =
        BuildReport(home.path(), SqlReportRowSource(file), QDateTime::currentDateTime());
    const qint64 built = timer.elapsed();
    (void)report.renderPage(0, 1.0);
    const qint64 first = timer.elapsed();
    QImage page(report.pageSize().toSize(), QImage::Format_RGB32);
    for (int i = 0; i < report.pageCount(); ++i) {
        QPainter painter(&page);
        report.paintPage(painter, i);
    }
    const qint64 drawn = timer.elapsed();
    QString error;
    report.exportPdf(home.filePath(QStringLiteral("r.pdf")), &error);
    const qint64 pdf = timer.elapsed();
    std::printf(
        "report of %d rows: %d pages; read+sort+layout %lld ms, first page shown %lld ms "
        "(goal: under 2000 ms), all pages drawn %lld ms, PDF written %lld ms\n",
        report.rowCount(), report.pageCount(), static_cast<long long>(built),
        static_cast<long long>(first), static_cast<long long>(drawn), static_cast<long long>(pdf));
    return 0;
}
