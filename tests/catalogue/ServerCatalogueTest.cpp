// The catalogue on a PostgreSQL server: several workstations, a server that goes away and
// comes back, moving an existing catalogue, closing a service.
#include "CatalogueBackends.h"
#include "catalogue/OfflineQueue.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace kallomir;
using namespace kallomir::test;

namespace {

class ServerCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestCatalogueServer::available())
            GTEST_SKIP() << TestCatalogueServer::skipReason().toStdString();
        schema = std::make_unique<TestServerSchema>();
        server = std::make_unique<ServerCatalogue>(schema->config(), home.home(), &settings());
        server->create();
        settings().save("progressivo", "0");
    }
    void TearDown() override {
        // A test that failed with the server stopped leaves it running for the next.
        if (TestCatalogueServer::available() && !schema->value("SELECT 1").isValid())
            TestCatalogueServer::start();
    }
    UserSettings& settings() { return home.context->settings; }
    int rowsNamed(const QString& nome) {
        return schema->value("SELECT count(*) FROM dati WHERE lower(nome) = lower('" + nome + "')")
            .toInt();
    }
    // A second workstation on the same server, with its own program folder.
    std::unique_ptr<ServerCatalogue> otherWorkstation() {
        return std::make_unique<ServerCatalogue>(schema->config(), other.path());
    }

    std::unique_ptr<TestServerSchema> schema;
    TempHome home;
    QTemporaryDir other;
    std::unique_ptr<ServerCatalogue> server;
};

// Two workstations (two processes, two connections) each save 500 recordings at the same
// time: 1000 rows with the numbers 1 to 1000, each once, and each workstation's numbers
// rising.
TEST_F(ServerCatalogueTest, TwoWorkstationsSavingAtOnceGetDistinctConsecutiveNumbers) {
    const ServerCatalogueConfig c = schema->config();
    QProcess a, b;
    for (auto [process, prefix] : {std::pair{&a, "A"}, std::pair{&b, "B"}}) {
        process->start(QStringLiteral(KALLOMIR_INSERT_CHILD),
                       {c.host, QString::number(c.port), c.database, c.user, c.passwordFile,
                        c.schema, prefix, "500"});
    }
    std::vector<int> all;
    for (QProcess* process : {&a, &b}) {
        ASSERT_TRUE(process->waitForFinished(120000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        std::vector<int> mine;
        for (const QByteArray& line : process->readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                mine.push_back(line.toInt());
        ASSERT_EQ(mine.size(), 500u);
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(all[i], i + 1) << "numbers 1..1000, each once";
    EXPECT_EQ(schema->value("SELECT count(DISTINCT progressivo) FROM dati").toInt(), 1000);
    EXPECT_EQ(schema->value("SELECT ultimo FROM dati_contatore").toInt(), 1000);
}

// The server stops in the middle of the work and starts again: the recording's row waits on
// this workstation, is sent when the server is back, and arrives exactly once.
TEST_F(ServerCatalogueTest, ServerStoppedDuringASaveThenRestartedGetsTheRowOnce) {
    ASSERT_EQ(server->recorderInsert("20240301_090000.Ems", settings()), 1);  // connected
    QSignalSpy status(server.get(), &CatalogueStore::statusChanged);
    ASSERT_TRUE(TestCatalogueServer::stop());

    settings().save("etichetta", "Turno 2");
    RecorderInsertNotes notes;
    EXPECT_EQ(server->recorderInsert("20240301_091500.Ems", settings(), &notes), std::nullopt);
    EXPECT_TRUE(notes.queued);
    EXPECT_FALSE(server->status().reachable);
    EXPECT_EQ(server->status().queued, 1);
    EXPECT_TRUE(server->status().problem.contains("Impossibile raggiungere il catalogo"))
        << server->status().problem.toStdString();
    EXPECT_GE(status.count(), 1);
    EXPECT_EQ(OfflineQueue(home.home()).count(), 1) << "kept in the workstation's own file";

    // Nothing can be sent while the server is away; the row keeps waiting.
    EXPECT_EQ(server->sendQueued(), 0);
    EXPECT_EQ(server->status().queued, 1);

    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_EQ(server->sendQueued(), 1);
    EXPECT_EQ(server->sendQueued(), 0);
    EXPECT_TRUE(server->status().reachable);
    EXPECT_EQ(server->status().queued, 0);
    EXPECT_EQ(rowsNamed("20240301_091500.Ems"), 1);
    const auto row = server->find("20240301_091500.Ems");
    EXPECT_EQ(row->progressivo, 2);
    EXPECT_EQ(row->etichetta, "Turno 2") << "the label at the time of the recording";
    EXPECT_EQ(settings().get("progressivo", ""), "2") << "the cache follows the rows sent";
}

// Nobody has to send the rows: while they wait the workstation looks at the server's port
// now and then, and sends them once it answers.
TEST_F(ServerCatalogueTest, WaitingRowsAreSentByThemselvesOnceTheServerAnswers) {
    server->startRetrying(100);
    ASSERT_TRUE(TestCatalogueServer::stop());
    RecorderInsertNotes notes;
    server->recorderInsert("20240301_093000.Ems", settings(), &notes);
    ASSERT_TRUE(notes.queued);
    QTest::qWait(400);  // a few looks at a server that does not answer
    EXPECT_EQ(server->status().queued, 1);
    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->status().queued == 0; }, 10000));
    EXPECT_TRUE(server->status().reachable);
    EXPECT_EQ(rowsNamed("20240301_093000.Ems"), 1);

    // Rows a crash left waiting are sent after the next start.
    OfflineQueue(home.home()).add("20240301_094000.Ems", "Not Set", QDateTime::currentDateTime());
    ServerCatalogue next(schema->config(), home.home(), &settings());
    next.create();
    EXPECT_TRUE(QTest::qWaitFor([&] { return next.status().queued == 0; }, 5000));
    EXPECT_EQ(rowsNamed("20240301_094000.Ems"), 1);
}

// Rows that wait are sent oldest first; a new recording made while they wait joins the end
// of the queue even once the server answers again, so the numbers follow the recordings.
TEST_F(ServerCatalogueTest, QueuedRowsKeepTheOrderOfTheRecordings) {
    ASSERT_TRUE(TestCatalogueServer::stop());
    for (const char* name : {"20240301_100000.Ems", "20240301_100100.Ems"}) {
        RecorderInsertNotes notes;
        server->recorderInsert(name, settings(), &notes);
        EXPECT_TRUE(notes.queued) << name;
    }
    ASSERT_TRUE(TestCatalogueServer::start());
    // A row by another workstation meanwhile takes the next number on the server.
    ASSERT_EQ(otherWorkstation()->recorderInsert("20240301_100030.Ems", settings()), 1);
    // The player reaches the server again before the rows have been sent.
    EXPECT_FALSE(server->find("20240301_100000.Ems").has_value());
    EXPECT_TRUE(server->status().reachable);
    RecorderInsertNotes notes;
    server->recorderInsert("20240301_100200.Ems", settings(), &notes);
    EXPECT_TRUE(notes.queued) << "behind the rows that wait";
    EXPECT_EQ(server->sendQueued(), 3);
    EXPECT_EQ(server->find("20240301_100000.Ems")->progressivo, 2);
    EXPECT_EQ(server->find("20240301_100100.Ems")->progressivo, 3);
    EXPECT_EQ(server->find("20240301_100200.Ems")->progressivo, 4);
    // With nothing waiting, rows go straight to the server again.
    notes = {};
    EXPECT_EQ(server->recorderInsert("20240301_100300.Ems", settings(), &notes), 5);
    EXPECT_FALSE(notes.queued);
}

// The row reached the server but the reply was lost with the connection, so the row was
// also queued (or queued twice after a crash): sending it again writes nothing more.
TEST_F(ServerCatalogueTest, ARowSentTwiceArrivesOnce) {
    ASSERT_EQ(server->recorderInsert("20240301_110000.Ems", settings()), 1);
    OfflineQueue queue(home.home());
    queue.add("20240301_110000.Ems", "Not Set", QDateTime::currentDateTime());
    queue.add("20240301_110000.ems", "Not Set", QDateTime::currentDateTime());
    queue.add("20240301_110500.Ems", "Not Set", QDateTime::currentDateTime());
    EXPECT_EQ(queue.count(), 2) << "a name waits once";
    ServerCatalogue restarted(schema->config(), home.home(), &settings());
    EXPECT_EQ(restarted.status().queued, 2);
    EXPECT_EQ(restarted.sendQueued(), 2);
    EXPECT_EQ(rowsNamed("20240301_110000.Ems"), 1);
    EXPECT_EQ(restarted.find("20240301_110500.Ems")->progressivo, 2);
    EXPECT_EQ(queue.count(), 0);
}

// A server restarted while the workstation was idle: its next operation works, without an
// error and without queueing.
TEST_F(ServerCatalogueTest, AConnectionTheServerDroppedWhileIdleIsOpenedAgain) {
    ASSERT_TRUE(server->playerInsert("20240301_120000.Ems", "E", "anna"));
    ASSERT_TRUE(TestCatalogueServer::stop());
    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_TRUE(server->find("20240301_120000.Ems").has_value());
    RecorderInsertNotes notes;
    ASSERT_TRUE(TestCatalogueServer::stop());
    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_EQ(server->recorderInsert("20240301_120100.Ems", settings(), &notes), 1);
    EXPECT_FALSE(notes.queued);
    EXPECT_TRUE(server->status().reachable);
}

// The player and the logbook are told clearly when the server is away.
TEST_F(ServerCatalogueTest, PlayerOperationsWhileTheServerIsAwaySayWhy) {
    ASSERT_TRUE(TestCatalogueServer::stop());
    for (const auto& [what, operation] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"find", [&] { server->find("x.Ems"); }},
             {"playerInsert", [&] { server->playerInsert("x.Ems", "E", "u"); }},
             {"playerSave", [&] { server->playerSave("x.Ems", PlayerMarks{}, "E", "u"); }},
             {"allRows", [&] { server->allRows(); }}}) {
        try {
            operation();
            ADD_FAILURE() << what << " did not fail";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), kCatalogueUnreachable) << what;
            EXPECT_TRUE(error.description().startsWith(
                "Impossibile raggiungere il catalogo sul server kallo@127.0.0.1:"))
                << error.description().toStdString();
        }
    }
    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_FALSE(server->find("x.Ems").has_value());
    EXPECT_TRUE(server->status().reachable);
}

// Moving a workstation's catalogue to the server: numbers, marks, text and versions kept;
// names already there are not copied again; the running numbers go on after the highest.
TEST_F(ServerCatalogueTest, CopyKeepsNumbersAndRefusesDuplicates) {
    SqliteCatalogue local(home.path("vecchio.mdb"));
    local.create();
    settings().save("progressivo", "40");
    ASSERT_EQ(local.recorderInsert("20230101_080000.Ems", settings()), 41);
    ASSERT_EQ(local.recorderInsert("20230101_090000.Ems", settings()), 42);
    local.playerInsert("a mano.Ems", "E", "anna");
    local.playerSave("20230101_090000.Ems", PlayerMarks{true, true, false, "{\\rtf1 fatto}"}, "E",
                     "bruno");
    ASSERT_TRUE(server->playerInsert("a mano.EMS", "E", "carla"));  // already on the server

    const auto report = server->copyRows(local.allRows());
    EXPECT_EQ(report.copied, 2);
    EXPECT_EQ(report.alreadyThere, QStringList{"a mano.Ems"});
    const auto copied = server->find("20230101_090000.Ems");
    EXPECT_EQ(copied->progressivo, 42);
    EXPECT_TRUE(copied->letto);
    EXPECT_TRUE(copied->scritto);
    EXPECT_FALSE(copied->tradotto);
    EXPECT_EQ(copied->traduzione, "{\\rtf1 fatto}");
    EXPECT_EQ(copied->user, "bruno");
    EXPECT_EQ(copied->versione, 2);
    EXPECT_EQ(copied->dtfile, QDate(2023, 1, 1));
    EXPECT_EQ(server->find("a mano.Ems")->user, "carla") << "the server's row stays";
    EXPECT_EQ(schema->value("SELECT ultimo FROM dati_contatore").toInt(), 42);
    EXPECT_EQ(server->recorderInsert("20240101_080000.Ems", settings()), 43);

    // Once is enough: a second run copies nothing.
    const auto again = server->copyRows(local.allRows());
    EXPECT_EQ(again.copied, 0);
    EXPECT_EQ(again.alreadyThere.size(), 3);
    EXPECT_EQ(server->rowCount(), 4);
}

// A number that another recording already has on the server cannot be kept: nothing is
// copied, and the operator learns which numbers clash.
TEST_F(ServerCatalogueTest, CopyWithANumberTakenOnTheServerCopiesNothing) {
    ASSERT_EQ(server->recorderInsert("20240101_080000.Ems", settings()), 1);
    SqliteCatalogue local(home.path("vecchio.mdb"));
    local.create();
    settings().save("progressivo", "0");
    local.recorderInsert("20230101_080000.Ems", settings());  // number 1 as well
    local.recorderInsert("20230101_090000.Ems", settings());
    try {
        server->copyRows(local.allRows());
        ADD_FAILURE() << "copied over a number in use";
    } catch (const RuntimeError& error) {
        EXPECT_TRUE(error.description().contains("1 (20230101_080000.Ems; sul server: "))
            << error.description().toStdString();
    }
    EXPECT_EQ(server->rowCount(), 1);
}

// Closing a service on the server: the rows go into a dated table on the server and into
// the file beside the recordings, both checked, before the live table is emptied; a row
// still waiting on the workstation is sent first, into the service it belongs to.
TEST_F(ServerCatalogueTest, EndOfServiceArchivesOnTheServerThenEmpties) {
    server->recorderInsert("20240401_080000.Ems", settings());
    otherWorkstation()->recorderInsert("20240401_081000.Ems", settings());
    OfflineQueue(home.home()).add("20240401_082000.Ems", "Not Set", QDateTime::currentDateTime());
    ServerCatalogue workstation(schema->config(), home.home(), &settings());
    QDir().mkpath(home.path("servizio"));
    EXPECT_EQ(workstation.archiveAndEmpty(home.path("servizio/datirec.mdb")), 3);
    EXPECT_EQ(workstation.rowCount(), 0);
    EXPECT_EQ(workstation.status().queued, 0);
    const QString table =
        schema
            ->value(
                "SELECT table_name FROM information_schema.tables WHERE table_schema = "
                "current_schema() AND table_name LIKE 'dati_archivio_%'")
            .toString();
    ASSERT_FALSE(table.isEmpty());
    EXPECT_EQ(schema->value("SELECT count(*) FROM " + table).toInt(), 3);
    EXPECT_EQ(
        schema->value("SELECT progressivo FROM " + table + " WHERE nome = '20240401_082000.Ems'")
            .toInt(),
        3);
    EXPECT_EQ(SqliteCatalogue(home.path("servizio/datirec.mdb")).rowCount(), 3);
    EXPECT_EQ(workstation.recorderInsert("20240402_080000.Ems", settings()), 1);

    // When the file cannot be written, nothing changes on the server either.
    EXPECT_EQ(ErrorNumberOf([&] { workstation.archiveAndEmpty(home.path("manca/datirec.mdb")); }),
              errors::kPathNotFound);
    EXPECT_EQ(workstation.rowCount(), 1);
    EXPECT_EQ(schema
                  ->value("SELECT count(*) FROM information_schema.tables WHERE table_schema "
                          "= current_schema() AND table_name LIKE 'dati_archivio_%'")
                  .toInt(),
              1);
}

// ---- no server needed ---------------------------------------------------------------

// A server that does not answer: the row waits in the workstation's file, the status says
// why, and the player is told.
TEST(ServerUnreachable, RecorderRowsWaitAndThePlayerIsTold) {
    TempHome home;
    ServerCatalogue catalogue(TestCatalogueServer::unreachableConfig(), home.home(),
                              &home.context->settings);
    catalogue.create();  // not an error: the status tells
    EXPECT_FALSE(catalogue.status().reachable);
    EXPECT_TRUE(catalogue.status().server);
    RecorderInsertNotes notes;
    EXPECT_EQ(catalogue.recorderInsert("20240301_090000.Ems", home.context->settings, &notes),
              std::nullopt);
    EXPECT_TRUE(notes.queued);
    EXPECT_EQ(catalogue.status().queued, 1);
    EXPECT_EQ(ErrorNumberOf([&] { catalogue.find("20240301_090000.Ems"); }), kCatalogueUnreachable);
    EXPECT_EQ(OfflineQueue(home.home()).entries().front().nome, "20240301_090000.Ems");
}

TEST(ServerUnreachable, APasswordFileOthersCanReadIsRefused) {
    TempHome home;
    ServerCatalogueConfig config = TestCatalogueServer::unreachableConfig();
    config.passwordFile = home.path("pw");
    home.writeFile("pw", "segreto\n");
    QFile::setPermissions(config.passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ReadOther);
    ServerCatalogue catalogue(config, home.home());
    try {
        catalogue.rowCount();
        ADD_FAILURE() << "connected with a password file anyone can read";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), kCatalogueUnreachable);
        EXPECT_TRUE(error.description().contains("chmod 600")) << error.description().toStdString();
    }
}

}  // namespace
