// The catalogue's rules, each run against the embedded file and against the server.
#include "CatalogueBackends.h"
#include "catalogue/CatalogueSchema.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <limits>

using namespace kallomir;
using namespace kallomir::test;

namespace {

using CatalogueTest = CatalogueBackend;

TEST_P(CatalogueTest, RecorderInsertTakesDateTimeFromTheNameAndAdvancesTheNumber) {
    startNumbersAfter(41);
    settings().save("etichetta", "Caso 7");
    EXPECT_EQ(catalogue().recorderInsert("20240131_142305.Ems", settings()), 42);
    EXPECT_EQ(settings().get("progressivo", ""), "42");

    const auto row = catalogue().find("20240131_142305.ems");  // case-blind lookup
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->nome, "20240131_142305.Ems");
    EXPECT_EQ(row->dtfile, QDate(2024, 1, 31));
    EXPECT_EQ(row->ora, "14:23");
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(row->progressivo, 42);
    EXPECT_FALSE(row->letto);
    EXPECT_FALSE(row->traduzione.has_value());
    EXPECT_EQ(row->versione, 1);

    // The same name again adds no row and keeps the number.
    EXPECT_EQ(catalogue().recorderInsert("20240131_142305.EMS", settings()), std::nullopt);
    EXPECT_EQ(settings().get("progressivo", ""), "42");
    EXPECT_EQ(catalogue().rowCount(), 1);
    EXPECT_EQ(catalogue().recorderInsert("20240131_142306.Ems", settings()), 43);
}

TEST_P(CatalogueTest, DayAndMonthNeverSwapWhateverTheLocale) {
    startNumbersAfter(0);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    catalogue().recorderInsert("20240203_000000.Ems", settings());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(catalogue().find("20240203_000000.Ems")->dtfile, QDate(2024, 2, 3));
}

// On the embedded file the settings hold the number and a broken one stops the insert; on
// the server they are only a copy of the last number, which the next insert repairs.
TEST_P(CatalogueTest, ARunningNumberSettingThatIsNoNumber) {
    int second = 10;
    for (const char* bad : {"abc", "", "12x"}) {
        SCOPED_TRACE(bad);
        settings().save("progressivo", bad);
        const QString name = QStringLiteral("20240131_1423%1.Ems").arg(second++);
        const int error = ErrorNumberOf([&] { catalogue().recorderInsert(name, settings()); });
        if (server()) {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(settings().get("progressivo", ""),
                      QString::number(*catalogue().find(name)->progressivo));
        } else {
            EXPECT_EQ(error, errors::kTypeMismatch);
        }
    }
    EXPECT_EQ(catalogue().rowCount(), server() ? 3 : 0);
}

// No recording is left without its row: past the last 32-bit number the row is kept without
// one, and the caller hears of it.
TEST_P(CatalogueTest, RowsOutlastTheRunningNumbers) {
    startNumbersAfter(std::numeric_limits<std::int32_t>::max());
    RecorderInsertNotes notes;
    EXPECT_EQ(catalogue().recorderInsert("20240131_142305.Ems", settings(), &notes), std::nullopt);
    EXPECT_TRUE(notes.numbersExhausted);
    EXPECT_FALSE(notes.queued);
    ASSERT_EQ(catalogue().rowCount(), 1);
    EXPECT_FALSE(catalogue().find("20240131_142305.Ems")->progressivo.has_value());
    EXPECT_EQ(settings().get("progressivo", ""), "2147483647");
}

// A number the settings failed to keep is never handed out again.
TEST_P(CatalogueTest, ANumberTheSettingsLostIsNotGivenTwice) {
    startNumbersAfter(6);
    home.store.failWrites(true);
    RecorderInsertNotes notes;
    EXPECT_EQ(catalogue().recorderInsert("20240131_142305.Ems", settings(), &notes), 7);
    EXPECT_TRUE(notes.numberNotStored);
    home.store.failWrites(false);
    EXPECT_EQ(settings().get("progressivo", ""), "6");
    EXPECT_EQ(catalogue().recorderInsert("20240131_142306.Ems", settings()), 8);
}

TEST_P(CatalogueTest, QuotesInNamesAndLabelsAreStoredAsText) {
    startNumbersAfter(0);
    settings().save("etichetta", "l'ufficio'; DROP TABLE dati; --");
    const QString name = "20240131_142305 d'Amico.Ems";
    ASSERT_EQ(catalogue().recorderInsert(name, settings()), 1);
    EXPECT_TRUE(catalogue().playerInsert("o'neil.Ems", "x'y", "l'utente"));
    EXPECT_EQ(catalogue().find(name)->etichetta, "l'ufficio'; DROP TABLE dati; --");
    EXPECT_EQ(catalogue().find("O'NEIL.ems")->user, "l'utente");
    EXPECT_EQ(catalogue().rowCount(), 2);
}

TEST_P(CatalogueTest, PlayerInsertAndSave) {
    // A file copied by hand: a row with LETTO false and no running number; a name that is no
    // date leaves the date empty.
    EXPECT_TRUE(catalogue().playerInsert("20231224_235959.Ems", "Not Set", "anna"));
    EXPECT_FALSE(catalogue().playerInsert("20231224_235959.Ems", "Not Set", "anna"));
    EXPECT_TRUE(catalogue().playerInsert("appunti.Ems", "Not Set", "anna"));
    auto row = catalogue().find("20231224_235959.Ems");
    EXPECT_EQ(row->dtfile, QDate(2023, 12, 24));
    EXPECT_EQ(row->ora, "23:59");
    EXPECT_FALSE(row->progressivo.has_value());
    EXPECT_FALSE(catalogue().find("appunti.Ems")->dtfile.has_value());

    PlayerMarks marks{true, false, true, "{\\rtf1 ciao}"};
    const PlayerSaveResult saved =
        catalogue().playerSave("20231224_235959.EMS", marks, "Caso 9", "bruno");
    EXPECT_EQ(saved.status, PlayerSaveResult::Status::Saved);
    row = catalogue().find("20231224_235959.Ems");
    EXPECT_TRUE(row->letto);
    EXPECT_FALSE(row->scritto);
    EXPECT_TRUE(row->tradotto);
    EXPECT_EQ(row->traduzione, "{\\rtf1 ciao}");
    EXPECT_EQ(row->etichetta, "Caso 9");
    EXPECT_EQ(row->user, "bruno");
    EXPECT_EQ(row->versione, 2);
    EXPECT_EQ(saved.row->versione, 2) << "the caller learns the version it now holds";
    EXPECT_EQ(catalogue().playerSave("nessuno.Ems", marks, "x", "y").status,
              PlayerSaveResult::Status::NoRow);
}

// Two operators on one row: a save over a version that is no longer the row's writes
// nothing and hands back what the other stored.
TEST_P(CatalogueTest, ASaveOverAnOlderVersionWritesNothing) {
    ASSERT_TRUE(catalogue().playerInsert("20240131_142305.Ems", "Not Set", "anna"));
    const std::int64_t opened = catalogue().find("20240131_142305.Ems")->versione;

    const PlayerMarks theirs{true, true, false, "{\\rtf1 di bruno}"};
    EXPECT_EQ(catalogue().playerSave("20240131_142305.Ems", theirs, "E", "bruno", opened).status,
              PlayerSaveResult::Status::Saved);

    const PlayerMarks mine{false, false, true, "{\\rtf1 di anna}"};
    const PlayerSaveResult late =
        catalogue().playerSave("20240131_142305.Ems", mine, "E", "anna", opened);
    ASSERT_EQ(late.status, PlayerSaveResult::Status::Changed);
    EXPECT_EQ(late.row->traduzione, "{\\rtf1 di bruno}");
    EXPECT_EQ(late.row->user, "bruno");
    EXPECT_EQ(catalogue().find("20240131_142305.Ems")->traduzione, "{\\rtf1 di bruno}");

    // Over the version just seen it is written.
    EXPECT_EQ(
        catalogue().playerSave("20240131_142305.Ems", mine, "E", "anna", late.row->versione).status,
        PlayerSaveResult::Status::Saved);
    EXPECT_EQ(catalogue().find("20240131_142305.Ems")->traduzione, "{\\rtf1 di anna}");
}

TEST_P(CatalogueTest, EndOfServiceArchivesThenEmpties) {
    startNumbersAfter(0);
    for (const char* name : {"20240101_100000.Ems", "20240101_110000.Ems", "20240101_120000.Ems"})
        catalogue().recorderInsert(name, settings());
    catalogue().playerSave("20240101_110000.Ems", PlayerMarks{true, true, true, "{\\rtf1 t}"}, "E",
                           "anna");
    QDir().mkpath(home.path("servizio"));
    const QString archive = home.path("servizio/datirec.mdb");
    EXPECT_EQ(catalogue().archiveAndEmpty(archive), 3);
    EXPECT_EQ(catalogue().rowCount(), 0);
    SqliteCatalogue filed(archive);
    EXPECT_EQ(filed.rowCount(), 3);
    const auto kept = filed.find("20240101_110000.Ems");
    EXPECT_EQ(kept->progressivo, 2);
    EXPECT_EQ(kept->traduzione, "{\\rtf1 t}");
    EXPECT_TRUE(kept->scritto);
    EXPECT_EQ(kept->dtfile, QDate(2024, 1, 1));
    // The running numbers start again.
    settings().save("progressivo", "0");
    EXPECT_EQ(catalogue().recorderInsert("20240102_090000.Ems", settings()), 1);

    // A copy that cannot be made leaves the live rows alone.
    EXPECT_EQ(ErrorNumberOf([&] { catalogue().archiveAndEmpty(home.path("nope/datirec.mdb")); }),
              errors::kPathNotFound);
    EXPECT_EQ(catalogue().rowCount(), 1);

    // A failed copy over an earlier archive of the same name keeps that archive whole.
    QDir().mkpath(archive + ".partial");  // the copy cannot be written
    EXPECT_NE(ErrorNumberOf([&] { catalogue().archiveAndEmpty(archive); }), 0);
    EXPECT_EQ(SqliteCatalogue(archive).rowCount(), 3);
    EXPECT_EQ(catalogue().rowCount(), 1);
}

TEST_P(CatalogueTest, ALockedCatalogueIsReportedAndChangesNothing) {
    startNumbersAfter(5);
    auto lock = holdTable();
    EXPECT_EQ(ErrorNumberOf([&] { catalogue().recorderInsert("20240131_142305.Ems", settings()); }),
              3218);
    lock->release();
    EXPECT_EQ(settings().get("progressivo", ""), "5");
    EXPECT_EQ(catalogue().recorderInsert("20240131_142305.Ems", settings()), 6);
}

// What the logbook reads: every row, every column by its lower-case name, in the order the
// rows were added.
TEST_P(CatalogueTest, EveryRowWithEveryColumnForTheLogbook) {
    startNumbersAfter(0);
    catalogue().recorderInsert("20240101_100000.Ems", settings());
    catalogue().playerInsert("20240101_090000.Ems", "E", "anna");
    const std::vector<CatalogueRecord> rows = catalogue().allRows();
    ASSERT_EQ(rows.size(), 2u);
    for (const CatalogueColumn& column : CatalogueColumns())
        EXPECT_TRUE(rows[0].contains(column.name.toLower())) << column.name.toStdString();
    EXPECT_EQ(rows[0].value("nome").toString(), "20240101_100000.Ems");
    EXPECT_EQ(rows[0].value("progressivo").toInt(), 1);
    EXPECT_EQ(rows[1].value("user").toString(), "anna");
    EXPECT_TRUE(rows[1].value("progressivo").isNull());
    EXPECT_FALSE(TruthOf(rows[1].value("letto")));
}

// A table made before the edit check existed gains its column; its rows stay readable and
// count as their first version.
TEST_P(CatalogueTest, AnOlderTableGainsTheNewColumns) {
    const QString oldColumns = server() ? QStringLiteral(
                                              "id bigserial PRIMARY KEY, nome text, etichetta "
                                              "text, dtfile date, ora text, progressivo integer, "
                                              "letto boolean, scritto boolean, tradotto boolean, "
                                              "traduzione text, \"user\" text")
                                        : QStringLiteral(
                                              "NOME TEXT, etichetta TEXT, dtfile DATE, ora TEXT, "
                                              "progressivo INTEGER, LETTO BOOLEAN, SCRITTO "
                                              "BOOLEAN, TRADOTTO BOOLEAN, traduzione TEXT, user "
                                              "TEXT");
    const QString oldRow = server() ? QStringLiteral(
                                          "INSERT INTO dati (nome, progressivo, letto, traduzione) "
                                          "VALUES ('20230101_080000.Ems', 7, true, 'vecchio')")
                                    : QStringLiteral(
                                          "INSERT INTO dati (NOME, progressivo, LETTO, traduzione) "
                                          "VALUES ('20230101_080000.Ems', 7, 1, 'vecchio')");
    if (server()) {
        // A fresh store on a schema whose table predates the column.
        schema = std::make_unique<TestServerSchema>();
        ASSERT_TRUE(schema->exec("CREATE TABLE dati (" + oldColumns + ")"));
        ASSERT_TRUE(schema->exec(oldRow));
        home.useCatalogue(
            std::make_unique<ServerCatalogue>(schema->config(), home.home(), &settings()));
    } else {
        QFile::remove(SqliteCatalogue::FileInFolder(home.home()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName(home.path("datirec.mdb"));
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec("CREATE TABLE dati (" + oldColumns + ")");
            QSqlQuery(db).exec(oldRow);
        }
        QSqlDatabase::removeDatabase("old");
    }
    const auto row = catalogue().find("20230101_080000.Ems");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->versione, 1);
    EXPECT_EQ(row->progressivo, 7);
    EXPECT_TRUE(row->letto);
    EXPECT_EQ(row->traduzione, "vecchio");
    EXPECT_EQ(catalogue().playerSave("20230101_080000.Ems", PlayerMarks{}, "E", "u", 1).status,
              PlayerSaveResult::Status::Saved);
    EXPECT_EQ(catalogue().find("20230101_080000.Ems")->versione, 2);
    startNumbersAfter(0);
    EXPECT_EQ(catalogue().recorderInsert("20230101_090000.Ems", settings()), 8)
        << "after the numbers the table holds";
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, CatalogueTest,
                         ::testing::Values(Backend::File, Backend::Server), BackendName);

// ---- the embedded file only ----------------------------------------------------------

TEST(CatalogueFile, MissingAndCorruptFilesGiveClearErrors) {
    TempHome home;
    home.context->settings.save("progressivo", "5");
    SqliteCatalogue missing(home.path("altro.mdb"));
    EXPECT_EQ(ErrorNumberOf(
                  [&] { missing.recorderInsert("20240131_142305.Ems", home.context->settings); }),
              3024);
    EXPECT_FALSE(QFile::exists(home.path("altro.mdb")));

    home.writeFile("rotto.mdb", QByteArray(4096, 'x'));
    SqliteCatalogue corrupt(home.path("rotto.mdb"));
    EXPECT_EQ(ErrorNumberOf([&] { corrupt.find("a.Ems"); }), 3343);
}

TEST(CatalogueFile, FoundWhateverTheCaseOfItsName) {
    TempHome home;
    SqliteCatalogue(home.path("DATIREC.MDB")).create();
    EXPECT_EQ(SqliteCatalogue::FileInFolder(home.home()), home.path("DATIREC.MDB"));
    EXPECT_EQ(SqliteCatalogue::InFolder(home.home())->file(), home.path("DATIREC.MDB"));
}

}  // namespace
