#include "catalogue/Catalogue.h"
#include "core/RuntimeError.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { catalogue.create(); }
    UserSettings& settings() { return home.context->settings; }

    test::TempHome home;
    Catalogue catalogue = Catalogue::InFolder(home.home());
};

int ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.number();
    }
    return 0;
}

TEST_F(CatalogueTest, RecorderInsertTakesDateTimeFromTheNameAndAdvancesTheNumber) {
    settings().save("progressivo", "41");
    settings().save("etichetta", "Caso 7");
    EXPECT_EQ(catalogue.recorderInsert("20240131_142305.Ems", settings()), 42);
    EXPECT_EQ(settings().get("progressivo", ""), "42");

    const auto row = catalogue.find("20240131_142305.ems");  // case-blind lookup
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->nome, "20240131_142305.Ems");
    EXPECT_EQ(row->dtfile, QDate(2024, 1, 31));
    EXPECT_EQ(row->ora, "14:23");
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(row->progressivo, 42);
    EXPECT_FALSE(row->letto);
    EXPECT_FALSE(row->traduzione.has_value());

    // The same name again adds no row and keeps the number.
    EXPECT_EQ(catalogue.recorderInsert("20240131_142305.EMS", settings()), std::nullopt);
    EXPECT_EQ(settings().get("progressivo", ""), "42");
    EXPECT_EQ(catalogue.rowCount(), 1);
}

TEST_F(CatalogueTest, DayAndMonthNeverSwapWhateverTheLocale) {
    settings().save("progressivo", "0");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    catalogue.recorderInsert("20240203_000000.Ems", settings());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(catalogue.find("20240203_000000.Ems")->dtfile, QDate(2024, 2, 3));
}

TEST_F(CatalogueTest, NonNumericRunningNumberFailsBeforeWriting) {
    for (const char* bad : {"abc", "", "12x"}) {
        settings().save("progressivo", bad);
        EXPECT_EQ(
            ErrorNumberOf([&] { catalogue.recorderInsert("20240131_142305.Ems", settings()); }),
            errors::kTypeMismatch)
            << bad;
    }
    EXPECT_EQ(catalogue.rowCount(), 0);
}

// No recording is left without its row: past the last 32-bit number the row is kept without
// one, and the caller hears of it.
TEST_F(CatalogueTest, RowsOutlastTheRunningNumbers) {
    settings().save("progressivo", "2147483647");
    RecorderInsertNotes notes;
    EXPECT_EQ(catalogue.recorderInsert("20240131_142305.Ems", settings(), &notes), std::nullopt);
    EXPECT_TRUE(notes.numbersExhausted);
    ASSERT_EQ(catalogue.rowCount(), 1);
    EXPECT_FALSE(catalogue.find("20240131_142305.Ems")->progressivo.has_value());
    EXPECT_EQ(settings().get("progressivo", ""), "2147483647");
}

// A number the settings failed to keep is never handed out again: the table remembers it.
TEST_F(CatalogueTest, ANumberTheSettingsLostIsNotGivenTwice) {
    settings().save("progressivo", "6");
    home.store.failWrites(true);
    RecorderInsertNotes notes;
    EXPECT_EQ(catalogue.recorderInsert("20240131_142305.Ems", settings(), &notes), 7);
    EXPECT_TRUE(notes.numberNotStored);
    home.store.failWrites(false);
    EXPECT_EQ(settings().get("progressivo", ""), "6");
    EXPECT_EQ(catalogue.recorderInsert("20240131_142306.Ems", settings()), 8);
}

TEST_F(CatalogueTest, QuotesInNamesAndLabelsAreStoredAsText) {
    settings().save("progressivo", "0");
    settings().save("etichetta", "l'ufficio'; DROP TABLE dati; --");
    const QString name = "20240131_142305 d'Amico.Ems";
    ASSERT_EQ(catalogue.recorderInsert(name, settings()), 1);
    EXPECT_TRUE(catalogue.playerInsert("o'neil.Ems", "x'y", "l'utente"));
    EXPECT_EQ(catalogue.find(name)->etichetta, "l'ufficio'; DROP TABLE dati; --");
    EXPECT_EQ(catalogue.find("O'NEIL.ems")->user, "l'utente");
    EXPECT_EQ(catalogue.rowCount(), 2);
}

TEST_F(CatalogueTest, PlayerInsertAndSave) {
    // A file copied by hand: a row with LETTO false and no running number; a name that is no
    // date leaves the date empty.
    EXPECT_TRUE(catalogue.playerInsert("20231224_235959.Ems", "Not Set", "anna"));
    EXPECT_FALSE(catalogue.playerInsert("20231224_235959.Ems", "Not Set", "anna"));
    EXPECT_TRUE(catalogue.playerInsert("appunti.Ems", "Not Set", "anna"));
    auto row = catalogue.find("20231224_235959.Ems");
    EXPECT_EQ(row->dtfile, QDate(2023, 12, 24));
    EXPECT_EQ(row->ora, "23:59");
    EXPECT_FALSE(row->progressivo.has_value());
    EXPECT_FALSE(catalogue.find("appunti.Ems")->dtfile.has_value());

    PlayerMarks marks{true, false, true, "{\\rtf1 ciao}"};
    EXPECT_TRUE(catalogue.playerSave("20231224_235959.EMS", marks, "Caso 9", "bruno"));
    row = catalogue.find("20231224_235959.Ems");
    EXPECT_TRUE(row->letto);
    EXPECT_FALSE(row->scritto);
    EXPECT_TRUE(row->tradotto);
    EXPECT_EQ(row->traduzione, "{\\rtf1 ciao}");
    EXPECT_EQ(row->etichetta, "Caso 9");
    EXPECT_EQ(row->user, "bruno");
    EXPECT_FALSE(catalogue.playerSave("nessuno.Ems", marks, "x", "y"));
}

TEST_F(CatalogueTest, EndOfServiceArchivesThenEmpties) {
    settings().save("progressivo", "0");
    for (const char* name : {"20240101_100000.Ems", "20240101_110000.Ems", "20240101_120000.Ems"})
        catalogue.recorderInsert(name, settings());
    const QString archive = home.path("archivio.mdb");
    EXPECT_EQ(catalogue.archiveAndEmpty(archive), 3);
    EXPECT_EQ(catalogue.rowCount(), 0);
    EXPECT_EQ(Catalogue(archive).rowCount(), 3);
    EXPECT_EQ(Catalogue(archive).find("20240101_110000.Ems")->progressivo, 2);

    // A copy that cannot be made leaves the live rows alone.
    catalogue.recorderInsert("20240102_100000.Ems", settings());
    EXPECT_EQ(ErrorNumberOf([&] { catalogue.archiveAndEmpty(home.path("nope/datirec.mdb")); }),
              errors::kPathNotFound);
    EXPECT_EQ(catalogue.rowCount(), 1);

    // A failed copy over an earlier archive of the same name keeps that archive whole.
    QDir().mkpath(archive + ".partial");  // the copy cannot be written
    EXPECT_NE(ErrorNumberOf([&] { catalogue.archiveAndEmpty(archive); }), 0);
    EXPECT_EQ(Catalogue(archive).rowCount(), 3);
    EXPECT_EQ(catalogue.rowCount(), 1);
}

TEST_F(CatalogueTest, MissingCorruptAndLockedFilesGiveClearErrors) {
    settings().save("progressivo", "5");
    Catalogue missing(home.path("altro.mdb"));
    EXPECT_EQ(ErrorNumberOf([&] { missing.recorderInsert("20240131_142305.Ems", settings()); }),
              3024);
    EXPECT_FALSE(QFile::exists(home.path("altro.mdb")));

    home.writeFile("rotto.mdb", QByteArray(4096, 'x'));
    Catalogue corrupt(home.path("rotto.mdb"));
    EXPECT_EQ(ErrorNumberOf([&] { corrupt.find("a.Ems"); }), 3343);

    {
        QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
        holder.setDatabaseName(catalogue.file());
        ASSERT_TRUE(holder.open());
        QSqlQuery(holder).exec("BEGIN EXCLUSIVE");
        EXPECT_EQ(
            ErrorNumberOf([&] { catalogue.recorderInsert("20240131_142305.Ems", settings()); }),
            3218);
        QSqlQuery(holder).exec("ROLLBACK");
        holder.close();
    }
    QSqlDatabase::removeDatabase("holder");
    EXPECT_EQ(settings().get("progressivo", ""), "5");
    EXPECT_EQ(catalogue.recorderInsert("20240131_142305.Ems", settings()), 6);
}

TEST(CatalogueFile, FoundWhateverTheCaseOfItsName) {
    test::TempHome home;
    Catalogue(home.path("DATIREC.MDB")).create();
    EXPECT_EQ(Catalogue::InFolder(home.home()).file(), home.path("DATIREC.MDB"));
}

}  // namespace
