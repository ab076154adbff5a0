// The recording cycle with the catalogue on the PostgreSQL test server: a call answered,
// recorded and catalogued; and the server away at the save.
#include "SessionFixture.h"
#include "catalogue/OfflineQueue.h"
#include "catalogue/RecordingName.h"
#include "catalogue/ServerCatalogue.h"
#include "recorder/CaptureMarker.h"
#include "support/TestCatalogueServer.h"

using namespace kallomir;
using namespace kallomir::test;

namespace {

class ServerCatalogueSession : public SessionTest {
protected:
    void SetUp() override {
        if (!TestCatalogueServer::available())
            GTEST_SKIP() << TestCatalogueServer::skipReason().toStdString();
        SessionTest::SetUp();
        schema = std::make_unique<TestServerSchema>();
        auto store = std::make_unique<ServerCatalogue>(schema->config(), home.home(), &settings());
        server = store.get();
        home.useCatalogue(std::move(store));
    }
    void TearDown() override {
        SessionTest::TearDown();
        if (schema && !schema->value("SELECT 1").isValid())
            TestCatalogueServer::start();
    }
    // A call whose caller speaks, then hangs up; returns the recording's name.
    QString recordACall() {
        SimulatedIncomingCall call;
        call.ringPeriodMs = 3000;
        call.audioPath = SpeechFile();
        line.addIncomingCall(call);
        runLine(3100);
        EXPECT_TRUE(st().recording);
        const QString name = MakeRecordingName(st().startTime) + ".Ems";
        runLine(5000);
        waitSaves();
        return name;
    }

    std::unique_ptr<TestServerSchema> schema;
    ServerCatalogue* server = nullptr;
};

TEST_F(ServerCatalogueSession, AnsweredCallIsRecordedSavedAndCatalogued) {
    settings().save("etichetta", "Caso 7");
    load();
    ASSERT_TRUE(schema->exec("UPDATE dati_contatore SET ultimo = 41"));
    const QString name = recordACall();
    ASSERT_EQ(recordings(), QStringList{name});
    const auto row = server->find(name);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->progressivo, 42) << "the number comes from the server";
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(st().progressive, "42");
    EXPECT_EQ(settings().get("progressivo", ""), "42");
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
    EXPECT_TRUE(st().notice.isEmpty());
    EXPECT_TRUE(home.boxes.empty()) << home.boxes.texts().join('|').toStdString();
}

// The server stops before the save: the recording is saved all the same, its row waits on
// the workstation and the notice line says the catalogue is offline; when the server is
// back the row arrives once, the notice goes and the number shows.
TEST_F(ServerCatalogueSession, ServerAwayAtTheSaveQueuesTheRowAndSaysSo) {
    load();
    ASSERT_TRUE(TestCatalogueServer::stop());
    const QString name = recordACall();
    ASSERT_EQ(recordings(), QStringList{name}) << "the recording is on the disk";
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet())
        << "its row is safe in the queue, so the capture is done";
    EXPECT_EQ(OfflineQueue(home.home()).count(), 1);
    EXPECT_TRUE(st().notice.contains("non raggiungibile")) << st().notice.toStdString();
    EXPECT_TRUE(st().notice.contains("su questa postazione: 1 ")) << st().notice.toStdString();
    EXPECT_TRUE(st().notice.contains(schema->config().describe()));
    EXPECT_EQ(st().progressive, "0");
    ASSERT_EQ(home.boxes.shown().size(), 1) << "told once";
    EXPECT_TRUE(home.boxes.last().text.contains("Impossibile raggiungere il catalogo"));

    ASSERT_TRUE(TestCatalogueServer::start());
    EXPECT_EQ(server->sendQueued(), 1);
    deliver();
    const auto row = server->find(name);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->progressivo, 1);
    EXPECT_EQ(schema->value("SELECT count(*) FROM dati").toInt(), 1);
    EXPECT_TRUE(st().notice.isEmpty()) << st().notice.toStdString();
    EXPECT_EQ(st().progressive, "1");
    EXPECT_EQ(home.boxes.shown().size(), 1);
}

}  // namespace
