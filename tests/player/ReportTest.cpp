#include "player/ReportDocument.h"

#include "core/RuntimeError.h"

#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

// A catalogue file with `count` rows spread over `days` dates, inserted newest first so
// that sorting has work to do.
void MakeCatalogue(const QString& file, int count, int days) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mk"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "CREATE TABLE dati (NOME TEXT, etichetta TEXT, dtfile DATE, ora TEXT, progressivo "
            "INTEGER, LETTO BOOLEAN, SCRITTO BOOLEAN, TRADOTTO BOOLEAN, traduzione TEXT, user "
            "TEXT)")));
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO dati VALUES (?,?,?,?,?,?,?,?,?,?)"));
        for (int i = count - 1; i >= 0; --i) {
            const QDate date = QDate(2024, 3, 1).addDays(i * days / count);
            const QString ora = QStringLiteral("%1:%2")
                                    .arg(8 + i % 10, 2, 10, QChar(u'0'))
                                    .arg(i % 60, 2, 10, QChar(u'0'));
            q.addBindValue(date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("_") +
                           QString(ora).remove(u':') + QStringLiteral("00.Ems"));
            q.addBindValue(QStringLiteral("Not Set"));
            q.addBindValue(date);
            q.addBindValue(QStringLiteral("%1:%2")
                               .arg(8 + i % 10, 2, 10, QChar(u'0'))
                               .arg(i % 60, 2, 10, QChar(u'0')));
            q.addBindValue(i + 1);
            q.addBindValue(i % 2 == 0);
            q.addBindValue(false);
            q.addBindValue(i % 3 == 0);
            q.addBindValue(
                i % 5 == 0
                    ? QVariant(
                          QStringLiteral("{\\rtf1 {\\b Chiamata} numero %1 con un testo abbastanza "
                                         "lungo da essere tagliato nel rapporto\\par seconda riga}")
                              .arg(i + 1))
                    : QVariant());
            q.addBindValue(QStringLiteral("op%1").arg(i % 4));
            ASSERT_TRUE(q.exec());
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mk"));
}

int PdfPageCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString pdf = QString::fromLatin1(f.readAll());
    return static_cast<int>(pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))));
}

}  // namespace

TEST(ReportDefinition, DefaultLogbookIsWrittenWhenMissingAndKeptOtherwise) {
    QTemporaryDir home;
    const ReportParseResult first = LoadReportDefinition(home.path());
    ASSERT_TRUE(first.definition) << first.error.toStdString();
    EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral("report.rpt"))));
    const ReportDefinition& d = *first.definition;
    EXPECT_EQ(d.title, QStringLiteral("Brogliaccio"));
    EXPECT_EQ(d.groupByDate, QStringLiteral("dtfile"));
    QStringList fields;
    for (const ReportColumn& c : d.columns) fields << c.field;
    EXPECT_EQ(fields, (QStringList{"dtfile", "ora", "progressivo", "nome", "etichetta", "user",
                                   "letto", "scritto", "tradotto", "traduzione"}));

    // The operator's own definition is never replaced.
    QFile own(home.filePath(QStringLiteral("report.rpt")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("title: Mio\ncolumn: Nome | nome\n");
    own.close();
    const ReportParseResult second = LoadReportDefinition(home.path());
    ASSERT_TRUE(second.definition);
    EXPECT_EQ(second.definition->title, QStringLiteral("Mio"));
    EXPECT_EQ(second.definition->columns.size(), 1u);
}

TEST(ReportDefinition, BrokenDefinitionsNameTheLineAndTheFault) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"title: X\ncolumn: A | nonesiste\n", "riga 2: campo sconosciuto «nonesiste»"},
        {"title: X\n\ncolumn A | nome\n", "riga 3: manca «:»"},
        {"title: X\ncolumn: A | nome | zero\n", "riga 2: larghezza non valida «zero»"},
        {"title: X\ncolumn: A | nome | 5 | colore\n", "riga 2: formato sconosciuto «colore»"},
        {"title: X\ncolumn: A | nome\nsort: nome sideways\n", "riga 3: ordinamento non valido"},
        {"title: X\ncolumn: A | nome\nfooter: no\n", "riga 3: voce sconosciuta «footer»"},
        {"column: A | nome\n", "manca la voce «title»"},
        {"title: X\n", "nessuna colonna definita"},
        {"title: X\ncolumn: A | nome\norientation: sideways\n", "riga 3: orientamento"},
    };
    for (const Case& c : cases) {
        const ReportParseResult r = ParseReportDefinition(QString::fromUtf8(c.text));
        EXPECT_FALSE(r.definition) << c.text;
        EXPECT_TRUE(r.error.startsWith(QString::fromUtf8(c.error))) << r.error.toStdString();
    }
    // A broken file surfaces as a clear error naming the file.
    QTemporaryDir home;
    QFile bad(home.filePath(QStringLiteral("report.rpt")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\x01\x02garbage");
    bad.close();
    MakeCatalogue(home.filePath(QStringLiteral("datirec.mdb")), 1, 1);
    try {
        BuildReport(home.path(), SqlReportRowSource(home.filePath(QStringLiteral("datirec.mdb"))),
                    QDateTime::currentDateTime());
        FAIL() << "a broken definition must not render";
    } catch (const RuntimeError& e) {
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("report.rpt, riga 1:")))
            << e.description().toStdString();
    }
}

TEST(Report, FiveHundredRowsSortedGroupedAndPaged) {
    QTemporaryDir home;
    const QString db = home.filePath(QStringLiteral("datirec.mdb"));
    MakeCatalogue(db, 500, 5);
    const ReportDocument report =
        BuildReport(home.path(), SqlReportRowSource(db), QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    EXPECT_EQ(report.rowCount(), 500);
    // Landscape A4: 35 lines a page; 500 rows and 5 date headings need 505 lines.
    EXPECT_EQ(report.linesPerPage(), 35);
    EXPECT_EQ(report.pageCount(), 15);

    int rows = 0, headings = 0;
    QDate lastDate;
    QString lastKey;
    for (int p = 0; p < report.pageCount(); ++p) {
        const auto& page = report.page(p);
        ASSERT_LE(static_cast<int>(page.size()), report.linesPerPage());
        ASSERT_FALSE(page.back().groupHeading) << "heading alone at the foot of page " << p;
        for (const auto& line : page) {
            if (line.groupHeading) {
                ++headings;
                continue;
            }
            ++rows;
            ASSERT_EQ(line.cells.size(), 10);
            const QDate date = QDate::fromString(line.cells[0], QStringLiteral("dd/MM/yyyy"));
            ASSERT_TRUE(date.isValid()) << line.cells[0].toStdString();
            const QString key =
                date.toString(Qt::ISODate) + line.cells[1] + line.cells[2].rightJustified(6, u'0');
            EXPECT_LE(lastKey, key) << "rows out of order";
            lastKey = key;
            lastDate = date;
        }
    }
    EXPECT_EQ(rows, 500);
    EXPECT_EQ(headings, 5);

    // Cell texts: marks, numbers and the start of the transcription as plain text.
    bool sawTranscript = false;
    for (const auto& line : report.page(0)) {
        if (line.groupHeading)
            continue;
        const int n = line.cells[2].toInt();
        EXPECT_EQ(line.cells[6], (n - 1) % 2 == 0 ? QStringLiteral("Sì") : QString());
        EXPECT_EQ(line.cells[7], QString());
        if ((n - 1) % 5 == 0) {
            sawTranscript = true;
            EXPECT_TRUE(line.cells[9].startsWith(QStringLiteral("Chiamata numero %1 con").arg(n)))
                << line.cells[9].toStdString();
            EXPECT_EQ(line.cells[9].size(), 81);  // 80 characters and the ellipsis
        } else {
            EXPECT_TRUE(line.cells[9].isEmpty());
        }
    }
    EXPECT_TRUE(sawTranscript);

    const QString pdf = home.filePath(QStringLiteral("out.pdf"));
    QString error;
    ASSERT_TRUE(report.exportPdf(pdf, &error)) << error.toStdString();
    EXPECT_EQ(PdfPageCount(pdf), 15);
    const QImage image = report.renderPage(14, 1.0);
    EXPECT_EQ(image.size(), QSize(842, 595));
}

TEST(Report, MissingOrForeignCatalogueIsAClearError) {
    QTemporaryDir home;
    EXPECT_THROW(SqlReportRowSource(home.filePath(QStringLiteral("datirec.mdb"))).rows(),
                 RuntimeError);
    QFile junk(home.filePath(QStringLiteral("datirec.mdb")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("Standard Jet DB, not SQLite");
    junk.close();
    EXPECT_THROW(SqlReportRowSource(home.filePath(QStringLiteral("datirec.mdb"))).rows(),
                 RuntimeError);
}

TEST(Report, EmptyCatalogueGivesOnePage) {
    QTemporaryDir home;
    const QString db = home.filePath(QStringLiteral("datirec.mdb"));
    MakeCatalogue(db, 0, 1);
    const ReportDocument report = BuildReport(home.path(), SqlReportRowSource(db), QDateTime());
    EXPECT_EQ(report.pageCount(), 1);
    EXPECT_EQ(report.rowCount(), 0);
}
