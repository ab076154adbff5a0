// The fingerprint columns of table dati: an older catalogue opens, gains them and keeps every
// row; reading never changes the file; writing goes to the first row of the name only.
#include "catalogue/Catalogue.h"
#include "core/RuntimeError.h"
#include "support/TempHome.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

const QString kShaA = QString(64, u'a');
const QString kShaB = QString(64, u'b');

// A catalogue as the program knew it before fingerprints, with two rows in it.
void WriteOlderCatalogue(const QString& file) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "older");
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec("CREATE TABLE dati (NOME TEXT COLLATE NOCASE, etichetta TEXT, dtfile DATE, "
                   "ora TEXT, progressivo INTEGER, LETTO BOOLEAN, SCRITTO BOOLEAN, TRADOTTO "
                   "BOOLEAN, traduzione TEXT, user TEXT)"));
        ASSERT_TRUE(
            q.exec("INSERT INTO dati VALUES ('20240131_142305.Ems', 'Caso 7', "
                   "'2024-01-31', '14:23', 7, 1, 0, 1, '{\\rtf1 testo}', 'anna')"));
        ASSERT_TRUE(q.exec("INSERT INTO dati (NOME, LETTO) VALUES ('20240201_090000.Ems', 0)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("older");
}

QStringList Columns(const QString& file) {
    QStringList names;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "columns");
        db.setDatabaseName(file);
        db.open();
        const QSqlRecord record = db.record("dati");
        for (int i = 0; i < record.count(); ++i) names << record.fieldName(i);
        db.close();
    }
    QSqlDatabase::removeDatabase("columns");
    return names;
}

TEST(CatalogueFingerprint, AnOlderCatalogueOpensGainsTheColumnsAndKeepsItsRows) {
    test::TempHome home;
    const Catalogue catalogue = Catalogue::InFolder(home.home());
    WriteOlderCatalogue(catalogue.file());
    const QStringList before = Columns(catalogue.file());
    ASSERT_FALSE(before.contains("impronta"));

    // Reading an older file leaves its table as it is.
    EXPECT_FALSE(catalogue.fingerprint("20240131_142305.Ems"));
    const auto olderRows = catalogue.fingerprintedRows();
    ASSERT_EQ(olderRows.size(), 2u);
    EXPECT_FALSE(olderRows[0].fingerprint);
    EXPECT_EQ(olderRows[0].traduzione, "{\\rtf1 testo}");
    EXPECT_TRUE(olderRows[0].letto && !olderRows[0].scritto && olderRows[0].tradotto);
    EXPECT_FALSE(olderRows[1].traduzione);
    EXPECT_EQ(Columns(catalogue.file()), before);

    catalogue.ensureFingerprintColumns();
    catalogue.ensureFingerprintColumns();  // a second start finds them there
    const QStringList after = Columns(catalogue.file());
    EXPECT_EQ(after.mid(0, before.size()), before);
    EXPECT_EQ(after.mid(before.size()), (QStringList{"impronta", "impronta_byte"}));

    const auto row = catalogue.find("20240131_142305.Ems");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(row->dtfile, QDate(2024, 1, 31));
    EXPECT_EQ(row->ora, "14:23");
    EXPECT_EQ(row->progressivo, 7);
    EXPECT_TRUE(row->letto && !row->scritto && row->tradotto);
    EXPECT_EQ(row->traduzione, "{\\rtf1 testo}");
    EXPECT_EQ(row->user, "anna");
    EXPECT_EQ(catalogue.rowCount(), 2);
    EXPECT_FALSE(catalogue.fingerprint("20240131_142305.Ems"));  // old rows stay empty
}

TEST(CatalogueFingerprint, IsWrittenToTheFirstRowOfItsNameAndReadBack) {
    test::TempHome home;
    const Catalogue catalogue = Catalogue::InFolder(home.home());
    WriteOlderCatalogue(catalogue.file());
    // No row of that name: nothing written (and the columns are there afterwards).
    EXPECT_FALSE(catalogue.setFingerprint("20991231_000000.Ems", {kShaA, 10}));
    EXPECT_TRUE(Columns(catalogue.file()).contains("impronta"));

    EXPECT_TRUE(catalogue.setFingerprint("20240201_090000.ems", {kShaA, 1234567890123}));
    EXPECT_EQ(catalogue.fingerprint("20240201_090000.Ems"),
              (CatalogueFingerprint{kShaA, 1234567890123}));
    EXPECT_FALSE(catalogue.fingerprint("20240131_142305.Ems"));
    EXPECT_TRUE(catalogue.setFingerprint("20240201_090000.Ems", {kShaB, 5}));
    const auto rows = catalogue.fingerprintedRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0].fingerprint);
    EXPECT_EQ(rows[1].fingerprint, (CatalogueFingerprint{kShaB, 5}));
    EXPECT_EQ(rows[1].nome, "20240201_090000.Ems");
}

TEST(CatalogueFingerprint, ANewCatalogueGetsTheColumnsAndAMissingOneIsAnError) {
    test::TempHome home;
    const Catalogue catalogue = Catalogue::InFolder(home.home());
    try {
        catalogue.fingerprintedRows();
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 3024);
    }
    catalogue.create();
    catalogue.ensureFingerprintColumns();
    EXPECT_TRUE(Columns(catalogue.file()).contains("impronta_byte"));
    EXPECT_TRUE(catalogue.fingerprintedRows().empty());
}

}  // namespace
