// The fingerprint columns of table dati, on both back ends: an older catalogue gains them and
// keeps every row; a fingerprint goes to the first row of its name only; a row waiting for
// the server takes its fingerprint along.
#include "CatalogueBackends.h"
#include "catalogue/OfflineQueue.h"

#include <QSqlRecord>

using namespace kallomir;
using namespace kallomir::test;

namespace {

const QString kShaA = QString(64, u'a');
const QString kShaB = QString(64, u'b');

// A catalogue as the program knew it before fingerprints (and versions), with two rows.
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

TEST(CatalogueFingerprint, AnOlderCatalogueGainsTheColumnsAtTheEndAndKeepsItsRows) {
    TempHome home;
    const auto catalogue = SqliteCatalogue::InFolder(home.home());
    WriteOlderCatalogue(catalogue->file());
    const QStringList before = Columns(catalogue->file());

    EXPECT_FALSE(catalogue->fingerprint("20240131_142305.Ems"));  // old rows stay empty
    const QStringList after = Columns(catalogue->file());
    EXPECT_EQ(after.mid(0, before.size()), before);
    EXPECT_TRUE(after.mid(before.size()).contains("impronta"));
    EXPECT_TRUE(after.mid(before.size()).contains("impronta_byte"));

    const auto rows = catalogue->fingerprintedRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0].fingerprint);
    EXPECT_EQ(rows[0].traduzione, "{\\rtf1 testo}");
    EXPECT_TRUE(rows[0].letto && !rows[0].scritto && rows[0].tradotto);
    EXPECT_FALSE(rows[1].traduzione);
    const auto row = catalogue->find("20240131_142305.Ems");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->progressivo, 7);
    EXPECT_EQ(row->user, "anna");
}

class CatalogueFingerprintTest : public CatalogueBackend {};

TEST_P(CatalogueFingerprintTest, IsWrittenToTheFirstRowOfItsNameAndReadBack) {
    startNumbersAfter(0);
    ASSERT_TRUE(catalogue().recorderInsert("20240131_142305.Ems", settings()));
    ASSERT_TRUE(catalogue().recorderInsert("20240201_090000.Ems", settings()));
    EXPECT_FALSE(catalogue().playerInsert("20240201_090000.EMS", "Not Set", "anna"));
    EXPECT_FALSE(catalogue().setFingerprint("20991231_000000.Ems", {kShaA, 10}));  // no row

    EXPECT_TRUE(catalogue().setFingerprint("20240201_090000.ems", {kShaA, 1234567890123}));
    EXPECT_EQ(catalogue().fingerprint("20240201_090000.Ems"),
              (CatalogueFingerprint{kShaA, 1234567890123}));
    EXPECT_FALSE(catalogue().fingerprint("20240131_142305.Ems"));
    EXPECT_FALSE(catalogue().fingerprint("20991231_000000.Ems"));
    EXPECT_TRUE(catalogue().setFingerprint("20240201_090000.Ems", {kShaB, 5}));

    catalogue().playerSave("20240131_142305.Ems", PlayerMarks{true, false, true, "{\\rtf1 t}"},
                           "Not Set", "anna");
    const auto rows = catalogue().fingerprintedRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].nome, "20240131_142305.Ems");
    EXPECT_FALSE(rows[0].fingerprint);
    EXPECT_EQ(rows[0].traduzione, "{\\rtf1 t}");
    EXPECT_TRUE(rows[0].letto && !rows[0].scritto && rows[0].tradotto);
    EXPECT_EQ(rows[1].fingerprint, (CatalogueFingerprint{kShaB, 5}));
    EXPECT_FALSE(rows[1].traduzione);
}

TEST_P(CatalogueFingerprintTest, TheArchiveOfAServiceKeepsTheFingerprints) {
    startNumbersAfter(0);
    ASSERT_TRUE(catalogue().recorderInsert("20240131_142305.Ems", settings()));
    ASSERT_TRUE(catalogue().setFingerprint("20240131_142305.Ems", {kShaA, 77}));
    const QString archive = home.path("archivio.mdb");
    ASSERT_EQ(catalogue().archiveAndEmpty(archive), 1);
    SqliteCatalogue archived(archive);
    EXPECT_EQ(archived.fingerprint("20240131_142305.Ems"), (CatalogueFingerprint{kShaA, 77}));
    EXPECT_TRUE(catalogue().fingerprintedRows().empty());
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, CatalogueFingerprintTest,
                         ::testing::Values(Backend::File, Backend::Server), BackendName);

// The server away at the save: the row waits on the workstation with its fingerprint and
// reaches the server with it. A row already on the server cannot be given one while the
// server is away: the recorder is told and tries again.
TEST(ServerFingerprint, ARowWaitingForTheServerTakesItsFingerprintAlong) {
    if (!TestCatalogueServer::available())
        GTEST_SKIP() << TestCatalogueServer::skipReason().toStdString();
    TestServerSchema schema;
    TempHome home;
    ServerCatalogue away(TestCatalogueServer::unreachableConfig(), home.home(),
                         &home.context->settings);
    RecorderInsertNotes notes;
    away.recorderInsert("20240301_090000.Ems", home.context->settings, &notes);
    ASSERT_TRUE(notes.queued);
    EXPECT_TRUE(away.setFingerprint("20240301_090000.ems", {kShaA, 4096}));
    EXPECT_EQ(OfflineQueue(home.home()).entries().front().fingerprint,
              (CatalogueFingerprint{kShaA, 4096}));
    EXPECT_EQ(ErrorNumberOf([&] {
                  away.setFingerprint("20240301_080000.Ems", {kShaB, 1});
              }),
              kCatalogueUnreachable);

    ServerCatalogue back(schema.config(), home.home(), &home.context->settings);
    back.create();
    EXPECT_EQ(back.sendQueued(), 1);
    EXPECT_EQ(back.fingerprint("20240301_090000.Ems"), (CatalogueFingerprint{kShaA, 4096}));
}

}  // namespace
