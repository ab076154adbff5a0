// The recording cycle when things go wrong: folders that refuse writes, boxes left open,
// the line closed under a call, inputs that vanished, a catalogue that is locked, settings
// that cannot be stored. Nothing recorded may be lost and every failure reaches the operator.
#include "SessionFixture.h"
#include "catalogue/RecordingTrailer.h"
#include "core/IniFile.h"
#include "recorder/CaptureMarker.h"
#include "support/WavFixture.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

using namespace kallomir;
using namespace kallomir::test;

namespace {

class FaultTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        audio.addInput({"card", ReadMonoSamples(SpeechFile(), 8000)});
        settings().save("Sound Card Input", "1");  // the line's audio
    }
    // A caller who talks for `talkMs` and hangs up; answered at the second ring.
    void call(qint64 talkMs) {
        SimulatedIncomingCall c;
        c.atMs = 100;  // from now
        c.ringPeriodMs = 1000;
        c.audioPath = SpeechFile();
        c.hangUpAfterMs = talkMs;
        line.addIncomingCall(c);
    }
    // Runs until the call has connected and been recorded for a while.
    void untilRecording() {
        for (int i = 0; i < 50 && !st().recording; ++i) runLine(100);
        ASSERT_TRUE(st().recording);
    }
    // A recordings folder that refuses every write, whoever runs the test: a file where the
    // folder should be.
    void blockRecordingsFolder() {
        QDir(home.config.recordingsFolder()).removeRecursively();
        WriteBytes(home.config.recordingsFolder(), "not a folder");
    }
    void unblockRecordingsFolder() {
        QFile::remove(home.config.recordingsFolder());
        QDir().mkpath(home.config.recordingsFolder());
    }
    int boxesWith(const QString& words) const {
        int n = 0;
        for (const QString& text : home.boxes.texts()) n += text.contains(words) ? 1 : 0;
        return n;
    }
};

// Call 1 cannot be saved; call 2 rings in while its error box is open; the folder is
// repaired: both calls end up saved and catalogued, each in a file of its own.
TEST_F(FaultTest, CallsWhileASaveFailedAndItsBoxIsOpenAreRecordedAndAllAreSavedLater) {
    settings().save("Rings Before Answer", "2");
    load();
    blockRecordingsFolder();
    call(2500);
    untilRecording();
    bool secondCallDone = false;
    home.boxes.onShow([&](const ScriptedMessageBoxes::Shown& box) {
        if (secondCallDone || box.title != "errore di registrazione")
            return;
        secondCallDone = true;
        // The operator has not read the box yet; the second caller rings and talks.
        call(2500);
        for (int i = 0; i < 80 && (st().recording || st().call != CallState::None); ++i)
            runLine(100);
        for (int i = 0; i < 50 && !st().recording; ++i) runLine(100);
        for (int i = 0; i < 50 && st().recording; ++i) runLine(100);
        waitSaves();
    });
    // The first call ends; its save fails and the box opens once the save has reported.
    for (int i = 0; i < 80 && (st().recording || st().call != CallState::None); ++i) runLine(100);
    waitSaves();
    ASSERT_TRUE(secondCallDone);
    waitSaves();
    EXPECT_EQ(MarkedCaptureFiles(home.home()).size(), 2) << "both captures kept";
    EXPECT_EQ(rows(), 0);

    unblockRecordingsFolder();
    for (int i = 0; i < 12; ++i) tick();  // the next attempt finishes both saves
    waitSaves();
    ASSERT_EQ(recordings().size(), 2);
    EXPECT_EQ(rows(), 2);
    EXPECT_TRUE(MarkedCaptureFiles(home.home()).isEmpty());
    for (const QString& name : recordings()) {
        const QByteArray bytes = ReadBytes(home.config.recordingsFolder() + "/" + name);
        EXPECT_GT(bytes.size(), 8000 * 2) << "a second of audio at least";
        EXPECT_TRUE(RecordingTrailer::FromBytes(bytes.right(48)).has_value());
    }
    EXPECT_EQ(boxesWith("recuperata"), 2);
}

// The settings dialog closes the line while a call is recorded: the recording is saved.
TEST_F(FaultTest, ClosingTheLineUnderACallSavesItsRecording) {
    call(60000);
    RecorderSession& s = load();
    untilRecording();
    runLine(2000);
    s.amTapiPro1().setLineOpen(false);  // what the settings dialog does when it opens
    EXPECT_FALSE(st().recording);
    EXPECT_EQ(st().call, CallState::None);
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 1);
}

// The mixer's start-up box ("Non è possibile aprire il mixer") is up while a call connects;
// then the mixer re-applies the line settings, which closes and reopens the line.
TEST_F(FaultTest, CallConnectingWhileABoxIsOpenIsRecordedAndSavedWhenTheLineIsReapplied) {
    RecorderSession& s = load();
    call(60000);
    home.boxes.onShow([&](const ScriptedMessageBoxes::Shown&) {
        for (int i = 0; i < 50 && !st().recording; ++i) runLine(100);
        runLine(2000);
    });
    home.boxes.show("Non è possibile aprire il mixer ", kApplicationTitle, MsgButtons::Ok,
                    MsgIcon::None);
    ASSERT_TRUE(st().recording) << "answered and recorded while the box was open";
    TelephonyControl& tapi = s.amTapiPro1();
    tapi.setLineOpen(false);
    tapi.setLineName(SimulatedLine::DefaultDevice().name);
    tapi.setCallPrivilege(4);
    tapi.setLineOpen(true);
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 1);
}

// A call is answered only when its capture can start; otherwise the operator is told, once.
TEST_F(FaultTest, ACallThatCannotBeRecordedIsNotAnsweredAndTheOperatorIsTold) {
    struct Case {
        const char* key;
        const char* value;
        const char* words;
    } cases[] = {
        {"Sound Card Input", "3", "non esiste"},
        {"Record Format", "3", "non è valido"},
        {"Record Format", "-1", "Formato Record non selezionato"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        session.reset();
        home.boxes.clear();
        settings().save("Record Format", "2");
        settings().save("Sound Card Input", "1");
        settings().save(c.key, c.value);
        RecorderSession& s = load();
        for (int ring = 1; ring <= 5; ++ring) s.amTapiPro1_IncomingCall(ring);
        deliver();
        EXPECT_FALSE(takeTrace().contains("t10")) << "never answered";
        EXPECT_EQ(boxesWith(c.words), 1) << home.boxes.texts().join('|').toStdString();
        EXPECT_TRUE(st().notice.contains(c.words));
        s.amTapiPro1_Idle();  // the caller gives up; the next caller is told about again
        s.amTapiPro1_IncomingCall(2);
        deliver();
        EXPECT_EQ(boxesWith(c.words), 2);
    }
}

// A call whose audio never arrives is ended by the silence rule like a quiet one, and a
// recording without a single sample is kept but not catalogued as if it held audio.
TEST_F(FaultTest, ACallWithoutAudioEndsByTheSilenceRuleAndIsNotCatalogued) {
    call(60000);
    RecorderSession& s = load();
    untilRecording();
    s.amWavePro1().closeCapture();  // from here on nothing reaches the capture
    const qint64 header = 44;
    QFile::resize(s.captureFile(), header);  // the capture holds no sample at all
    for (int i = 0; i < 12 && st().recording; ++i) {
        home.clock.advanceSeconds(1);
        tick();
    }
    EXPECT_FALSE(st().recording);
    EXPECT_EQ(line.callsDropped, 1) << "the silence rule ends the call of the recording";
    waitSaves();
    ASSERT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(boxesWith("non contiene audio"), 1);
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
}

// A split or a new folder after the call has ended starts nothing.
TEST_F(FaultTest, SplitAfterTheCallEndedStartsNoNewCapture) {
    call(60000);
    RecorderSession& s = load();
    untilRecording();
    runLine(1500);
    s.amTapiPro1_Idle();  // the line reports the call gone before its disconnect is handled
    s.SplitRecording();
    EXPECT_FALSE(st().recording);
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_FALSE(s.amWavePro1().isCapturing());
}

// The marker that lets a crash be recovered cannot be written: the operator hears it, and
// the recording is still made and saved.
TEST_F(FaultTest, AMarkerThatCannotBeWrittenIsTold) {
    QDir().mkpath(home.path("Record.wav.unsaved"));  // a folder where the marker goes
    RecorderSession& s = load();
    s.selectSource(RecordSource::LineIn);
    settings().save("Sound Card Input", "0");
    s.BtiNIReg_Click();
    deliver();
    EXPECT_EQ(boxesWith("non potrà essere recuperata"), 1);
    runCard(1500);
    s.BtFineReg_Click();
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 1);
}

// Audio lost on the way (the capture's ring overflowed) is told, once.
TEST_F(FaultTest, LostAudioIsTold) {
    RecorderSession& s = load();
    emit s.amWavePro1().captureWarning("Audio perso: 12 campioni");
    deliver();
    EXPECT_EQ(boxesWith("Audio perso"), 1);
    EXPECT_EQ(st().notice, "Audio perso: 12 campioni");
}

// The running number cannot be stored in the settings: the operator is told and the number
// is never given again.
TEST_F(FaultTest, ARunningNumberTheSettingsCannotKeepIsToldAndNeverRepeated) {
    RecorderSession& s = load();
    s.selectSource(RecordSource::LineIn);
    settings().save("Sound Card Input", "0");
    home.store.failWrites(true);
    for (int i = 0; i < 2; ++i) {
        s.BtiNIReg_Click();
        runCard(1500);
        s.BtFineReg_Click();
        waitSaves();
    }
    home.store.failWrites(false);
    ASSERT_EQ(rows(), 2);
    EXPECT_EQ(boxesWith("progressivo"), 2);
    EXPECT_EQ(st().progressive, "2");
    QStringList numbers;
    for (const QString& name : recordings())
        numbers << QString::number(catalogue().find(name)->progressivo.value_or(-1));
    EXPECT_EQ(numbers, (QStringList{"1", "2"}));
}

// The next folder's number cannot be stored: the operator is told and the recording goes on
// in the folder it is in.
TEST_F(FaultTest, AFolderNumberThatCannotBeStoredKeepsRecordingInTheSameFolder) {
    RecorderSession& s = load();
    const QString folder = home.config.recFolder;
    QFile::remove(home.config.iniFile);
    QDir().mkpath(home.config.iniFile);  // the INI file cannot be written any more
    s.selectSource(RecordSource::LineIn);
    settings().save("Sound Card Input", "0");
    s.BtiNIReg_Click();
    s.setFolderSizeLimit(0);  // full at once
    runCard(2500);
    deliver();
    EXPECT_EQ(home.config.recFolder, folder);
    EXPECT_TRUE(st().recording) << "the recording goes on";
    EXPECT_EQ(boxesWith("non può essere salvato"), 1);
    EXPECT_EQ(home.boxes.shown().front().title, "Command2_Click");
    runCard(1500);
    s.BtFineReg_Click();
    waitSaves();
    EXPECT_EQ(recordings().size(), 2);
    EXPECT_EQ(rows(), 2);
}

// The catalogue is locked by another program at the save: the row waits and is written as
// soon as the catalogue is free; the operator is told in between.
TEST_F(FaultTest, ARowTheCatalogueRefusesIsWrittenWhenItCan) {
    RecorderSession& s = load();
    s.selectSource(RecordSource::LineIn);
    settings().save("Sound Card Input", "0");
    s.BtiNIReg_Click();
    runCard(1500);
    {
        QSqlDatabase lock = QSqlDatabase::addDatabase("QSQLITE", "lock");
        lock.setDatabaseName(home.path("datirec.mdb"));
        ASSERT_TRUE(lock.open());
        QSqlQuery(lock).exec("BEGIN EXCLUSIVE");
        s.BtFineReg_Click();
        waitSaves();
        EXPECT_EQ(recordings().size(), 1);
        EXPECT_TRUE(st().notice.contains("non ancora nel catalogo"));
        EXPECT_TRUE(CaptureMarker(home.path("Record.wav")).isSet()) << "kept until catalogued";
        QSqlQuery(lock).exec("ROLLBACK");
        lock.close();
    }
    QSqlDatabase::removeDatabase("lock");
    for (int i = 0; i < 12; ++i) tick();
    waitSaves();
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
    EXPECT_EQ(recordings().size(), 1) << "the retry saved nothing twice";
    EXPECT_TRUE(st().notice.isEmpty());
}

}  // namespace
