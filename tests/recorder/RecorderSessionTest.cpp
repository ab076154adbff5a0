// The recording cycle on its documented paths: load, answer, record, save, catalogue,
// call-back, Line In, split, folder limit, voice activation, leaving.
#include "SessionFixture.h"
#include "catalogue/RecordingName.h"
#include "catalogue/RecordingTrailer.h"
#include "core/IniFile.h"
#include "recorder/CaptureMarker.h"
#include "support/WavFixture.h"

#include <QFile>

#include <cmath>

using namespace kallomir;
using namespace kallomir::test;

namespace {

double Rms(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    for (std::int16_t s : samples) sum += double(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

TEST_F(SessionTest, LoadsWaitingWithTheStoredLineOpen) {
    RecorderSession& s = load();
    EXPECT_EQ(LineStatusText(st().lineStatus), "In Attesa");
    EXPECT_TRUE(st().recordEnabled);
    EXPECT_FALSE(st().stopEnabled || st().splitEnabled);
    EXPECT_EQ(st().source, RecordSource::Telephone);
    EXPECT_EQ(st().target, RecordTarget::File);
    EXPECT_EQ(st().progressive, "0");
    EXPECT_EQ(settings().get("progressivo", ""), "0");
    EXPECT_EQ(st().silenceCountdown, 7);
    EXPECT_EQ(st().voxThreshold, 10);
    EXPECT_EQ(s.amTapiPro1().member13(), 4);
    EXPECT_TRUE(s.amTapiPro1().lineOpen());
    EXPECT_TRUE(QFile::exists(home.path("datirec.mdb")));
}

TEST_F(SessionTest, AnsweredCallIsRecordedSavedAndCatalogued) {
    settings().save("progressivo", "41");
    settings().save("etichetta", "Caso 7");
    SimulatedIncomingCall call;
    call.ringPeriodMs = 3000;
    call.audioPath = SpeechFile();
    line.addIncomingCall(call);
    RecorderSession& s = load();

    runLine(100);  // first ring
    EXPECT_EQ(st().lineStatus, LineStatus::IncomingCall);
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Offering);
    runLine(3000);  // second ring: answered
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Connected);
    EXPECT_EQ(st().lineStatus, LineStatus::Connected);
    ASSERT_TRUE(st().recording);
    EXPECT_TRUE(st().recordingOfCall);
    EXPECT_TRUE(s.amTapiPro1().member46());
    EXPECT_EQ(forms.fakePlayer.status, "Stopped");
    const QDateTime start = st().startTime;

    runLine(5000);  // the caller speaks, then hangs up when the speech ends
    waitSaves();
    EXPECT_FALSE(st().recording);
    EXPECT_EQ(st().lineStatus, LineStatus::Waiting);
    const QString name = MakeRecordingName(start) + ".Ems";
    ASSERT_EQ(allFiles(), QStringList{name});
    const QString file = home.config.recordingsFolder() + "/" + name;
    EXPECT_EQ(st().currentFile, file);

    const QByteArray bytes = ReadBytes(file);
    EXPECT_EQ(bytes.right(48),
              RecordingTrailer::Make(home.config.recFolder, start, st().endTime).toBytes());
    EXPECT_EQ(bytes.left(bytes.size() - 48), ReadBytes(home.path("Record.wav")));
    const MonoSamples recorded = ReadMonoSamples(home.path("Record.wav"));
    const MonoSamples speech = ReadMonoSamples(SpeechFile(), recorded.sampleRate);
    EXPECT_EQ(recorded.sampleRate, 8000);
    EXPECT_NEAR(double(recorded.samples.size()) / 8000, double(speech.samples.size()) / 8000, 0.5);
    EXPECT_GT(Rms(recorded.samples), 0.5 * Rms(speech.samples));

    const auto row = catalogue().find(name);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->dtfile, start.date());
    EXPECT_EQ(row->ora, start.toString("HH:mm"));
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(row->progressivo, 42);
    EXPECT_EQ(st().progressive, "42");
    EXPECT_EQ(settings().get("progressivo", ""), "42");
    EXPECT_EQ(forms.fakePlayer.folder, home.config.recordingsFolder());
    EXPECT_GE(forms.fakePlayer.refreshes, 1);
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
    EXPECT_TRUE(home.boxes.empty());
}

// The caller's number the line reported goes into the recording's row: the caller ID of an
// incoming call (none when withheld), the number dialled for a call-back.
TEST_F(SessionTest, TheCallersNumberGoesWithTheRecording) {
    struct Case {
        const char* what;
        const char* callerId;  // null: a call-back to "Telephone Number" instead
        const char* stored;
    };
    const Case cases[] = {
        {"caller ID", "0612345678", "0612345678"},
        {"caller ID with a name", "+39061234 \"Rossi\"", "+39061234"},
        {"withheld", "-", ""},
        {"call-back", nullptr, "0698765"},
    };
    for (const Case& c : cases) {
        SimulatedIncomingCall call;
        call.audioPath = SpeechFile();
        if (c.callerId) {
            call.callerId = QString::fromUtf8(c.callerId);
            line.addIncomingCall(call);
        } else {
            settings().save("Telephone Number", "0698765");
            line.setDialAnswer(SimulatedDialAnswer{500, SpeechFile(), -1});
        }
        load();
        if (!c.callerId)
            session->BtiNIReg_Click();
        runLine(3100);
        ASSERT_TRUE(st().recording) << c.what;
        runLine(5000);
        waitSaves();
        ASSERT_EQ(allFiles().size(), 1) << c.what;
        const auto row = catalogue().find(allFiles().front());
        ASSERT_TRUE(row.has_value()) << c.what;
        EXPECT_EQ(row->numero, QString::fromUtf8(c.stored)) << c.what;
        EXPECT_TRUE(st().callNumber.isEmpty()) << "forgotten with the call: " << c.what;
        session.reset();
        for (const QString& f : allFiles()) QFile::remove(home.config.recordingsFolder() + "/" + f);
    }
}

TEST_F(SessionTest, AnswerRulesFollowTheSettings) {
    struct Row {
        const char* autoAnswer;
        const char* rings;
        int ringsHeard;  // ring events before the check
        bool answered;
    } rows[] = {
        {"1", "2", 1, false}, {"1", "2", 2, true},  {"1", "0", 1, true},
        {"0", "2", 5, false}, {"1", "3", 2, false},
    };
    for (const Row& r : rows) {
        settings().save("Auto Answer", r.autoAnswer);
        settings().save("Rings Before Answer", r.rings);
        load();
        for (int ring = 1; ring <= r.ringsHeard; ++ring) session->amTapiPro1_IncomingCall(ring);
        EXPECT_EQ(takeTrace().contains("t10"), r.answered)
            << r.autoAnswer << " " << r.rings << " " << r.ringsHeard;
        EXPECT_EQ(st().lineStatus, LineStatus::IncomingCall);
        session.reset();
    }
}

TEST_F(SessionTest, RecallDialsBackOnTheFirstTickThatFindsTheLineIdle) {
    settings().save("Recall", "1");
    settings().save("Telephone Number", "0612345");
    RecorderSession& s = load();
    s.amTapiPro1_IncomingCall(1);
    EXPECT_TRUE(st().recallArmed);
    EXPECT_FALSE(takeTrace().contains("t10"));  // never answered
    for (int i = 0; i < 14; ++i) tick();
    s.amTapiPro1_Idle();
    tick();  // the 15th second: RecallTime reached, line idle
    EXPECT_EQ(line.lastDialled(), "0612345");
    EXPECT_EQ(st().lineStatus, LineStatus::Dialling);
    EXPECT_FALSE(st().recallArmed);
}

TEST_F(SessionTest, RecallWaitsWhileTheLineStillRings) {
    settings().save("Recall", "1");
    settings().save("Telephone Number", "0612345");
    RecorderSession& s = load();
    s.amTapiPro1_IncomingCall(1);
    for (int i = 0; i < 20; ++i) tick();
    EXPECT_EQ(st().recallSeconds, 20);
    EXPECT_TRUE(line.lastDialled().isEmpty());
    s.amTapiPro1_IncomingCall(2);  // another ring starts the count again
    EXPECT_EQ(st().recallSeconds, 0);
    s.amTapiPro1_Idle();
    for (int i = 0; i < 14; ++i) tick();
    EXPECT_TRUE(line.lastDialled().isEmpty());
    tick();
    EXPECT_EQ(line.lastDialled(), "0612345");
    settings().save("Recall", "0");
    s.amTapiPro1_IncomingCall(1);
    tick();
    EXPECT_EQ(st().recallSeconds, 0);
}

TEST_F(SessionTest, TelephoneWithoutNumberFallsBackToLineIn) {
    RecorderSession& s = load();
    s.BtiNIReg_Click();
    deliver();
    ASSERT_EQ(home.boxes.texts(), (QStringList{"N. Telefonico non impostato", "Error 0 "}));
    EXPECT_EQ(home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_FALSE(st().telephoneSourceEnabled);
    EXPECT_EQ(st().source, RecordSource::LineIn);
}

class CardSessionTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        audio.addInput({"card", ReadMonoSamples(SpeechFile(), 8000)});
    }
    RecorderSession& startLineIn() {
        RecorderSession& s = load();
        s.selectSource(RecordSource::LineIn);
        s.BtiNIReg_Click();
        return s;
    }
};

TEST_F(CardSessionTest, LineInRecordingHasNoCallersNumber) {
    RecorderSession& s = startLineIn();
    runCard(2000);
    s.BtFineReg_Click();
    waitSaves();
    ASSERT_EQ(allFiles().size(), 1);
    EXPECT_EQ(catalogue().find(allFiles().front())->numero, "");
}

TEST_F(CardSessionTest, LineInRecordingStoppedWithinItsFirstSecondSavesNothing) {
    RecorderSession& s = startLineIn();
    ASSERT_TRUE(st().recording);
    EXPECT_FALSE(st().recordEnabled);
    EXPECT_TRUE(st().stopEnabled && st().splitEnabled);
    audio.advance(400);  // still the same second
    s.BtFineReg_Click();
    waitSaves();
    EXPECT_FALSE(st().recording);
    EXPECT_TRUE(allFiles().isEmpty());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(st().startText, "In attesa di registrare ...");
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
}

TEST_F(CardSessionTest, SplitGivesTwoRecordingsAndTheSameSecondNeverReplacesOne) {
    RecorderSession& s = startLineIn();
    runCard(2000);
    s.cmdProvvisorio_Click();
    EXPECT_TRUE(st().recording);
    EXPECT_EQ(st().lineStatus, LineStatus::Connected);
    EXPECT_EQ(home.config.silenceStopEnabled, "1");
    runCard(1500);
    s.BtFineReg_Click();
    waitSaves();
    ASSERT_EQ(recordings().size(), 2);
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(settings().get("progressivo", ""), "2");

    // A recording of the same start second already there stays whole.
    const QString taken = MakeRecordingName(home.clock.now()) + ".Ems";
    WriteBytes(home.config.recordingsFolder() + "/" + taken, "earlier recording");
    catalogue().recorderInsert(taken, settings());
    s.BtiNIReg_Click();
    runCard(1500);
    s.BtFineReg_Click();
    waitSaves();
    EXPECT_EQ(ReadBytes(home.config.recordingsFolder() + "/" + taken), "earlier recording");
    EXPECT_TRUE(recordings().contains(taken.left(15) + "_2.Ems"));
    EXPECT_EQ(rows(), 4);
    EXPECT_EQ(st().progressive, "4");
}

TEST_F(CardSessionTest, FolderLimitMovesRecordingToTheNextFolder) {
    QString three = "3";
    WriteIniValue(home.config.iniFile, "PATH", "FOLDER", three);
    home.config.recFolder = "Quendral/3";
    QDir().mkpath(home.config.recordingsFolder());
    RecorderSession& s = startLineIn();
    s.setFolderSizeLimit(1);  // one million bytes
    WriteBytes(home.config.recordingsFolder() + "/20240101_000000.Ems", QByteArray(999'000, 'x'));
    runCard(3000);
    waitSaves();
    EXPECT_EQ(home.config.recFolder, "Quendral/4");
    EXPECT_EQ(ReadIniValue(home.config.iniFile, "PATH", "FOLDER", ""), "4");
    EXPECT_EQ(recordings(home.config.dataPath + "Quendral/3").size(), 2);
    EXPECT_TRUE(st().recording);
    EXPECT_EQ(forms.fakePlayer.folder, home.config.dataPath + "Quendral/4");
    EXPECT_EQ(st().useDir, "Quendral/4");
    runCard(1500);
    s.BtFineReg_Click();
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardSessionTest, QuietRecordingStopsAfterTheCountdownALevelAtTheThresholdReloadsIt) {
    RecorderSession& s = startLineIn();
    s.amWavePro1().closeCapture();  // the levels come from the test from here on
    ASSERT_TRUE(st().recording);
    s.amWavePro1_Level(0, 0);
    for (int i = 0; i < 6; ++i) {
        tick();
        s.amWavePro1_Level(0, 0);
    }
    EXPECT_EQ(st().silenceCountdown, 1);
    EXPECT_TRUE(st().recording);
    s.amWavePro1_Level(10, 0);  // at the threshold: reloads
    EXPECT_EQ(st().silenceCountdown, 7);
    for (int i = 0; i < 7; ++i) {
        home.clock.advanceSeconds(1);
        s.amWavePro1_Level(9, 0);
        tick();
    }
    EXPECT_TRUE(st().recording);
    s.amWavePro1_Level(9, 0);  // below the threshold with the countdown at 0
    EXPECT_FALSE(st().recording);
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardSessionTest, VoiceStartsARecordingAndSilenceEndsIt) {
    // The test input plays its sound from the start at each opening: 3 s voice, 14 s quiet.
    std::vector<std::int16_t> sound(std::size_t(8000) * 17, 0);
    const MonoSamples speech = ReadMonoSamples(SpeechFile(), 8000);
    std::copy_n(speech.samples.begin(), std::min<std::size_t>(speech.samples.size(), 8000 * 3),
                sound.begin());
    audio.addInput({"voice", {8000, sound}});
    settings().save("Sound Card Input", "1");
    RecorderSession& s = load();
    s.silencecrt_Click(true);
    EXPECT_EQ(st().lineStatus, LineStatus::SilenceDetect);
    EXPECT_EQ(st().target, RecordTarget::Null);
    EXPECT_FALSE(st().recording);
    EXPECT_FALSE(QFile::exists(home.path("Record.wav")));

    runCard(500);  // voice
    EXPECT_TRUE(st().recording);
    EXPECT_EQ(st().lineStatus, LineStatus::Connected);
    EXPECT_EQ(st().target, RecordTarget::File);
    int ms = 0;
    while (st().recording && ms < 15000) {
        runCard(100);
        ms += 100;
    }
    EXPECT_FALSE(st().recording);
    EXPECT_GT(ms, 3000);  // not before the voice ended
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
    tick();  // re-armed: waiting for voice again
    EXPECT_EQ(st().lineStatus, LineStatus::SilenceDetect);
    EXPECT_EQ(st().target, RecordTarget::Null);

    s.silencecrt_Click(false);
    EXPECT_EQ(st().target, RecordTarget::File);
    EXPECT_EQ(st().lineStatus, LineStatus::Waiting);
}

TEST_F(CardSessionTest, LevelAtTheThresholdDoesNotStartOneAboveDoes) {
    RecorderSession& s = load();
    s.silencecrt_Click(true);
    s.amWavePro1_Level(10, 0);
    EXPECT_FALSE(st().recording);
    s.amWavePro1_Level(6, 5);  // both channels count
    EXPECT_TRUE(st().recording);
    EXPECT_EQ(st().level, 11);
    s.amWavePro1_Level(32767, 32767);  // no overflow
    EXPECT_EQ(st().level, 65534);
}

TEST_F(CardSessionTest, SilenceEventStopsOnlyWhenAllowed) {
    RecorderSession& s = startLineIn();
    runCard(1500);
    home.config.silenceStopEnabled = "0";
    s.amWavePro1_Silence(true);
    EXPECT_TRUE(st().recording);
    home.config.silenceStopEnabled = "1";
    s.amWavePro1_Silence(false);
    EXPECT_TRUE(st().recording);
    s.amWavePro1_Silence(true);
    EXPECT_FALSE(st().recording);
    waitSaves();
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardSessionTest, LeavingWhileRecordingAsksAndSavesOnYes) {
    RecorderSession& s = startLineIn();
    runCard(2500);  // the ticks have replaced "recording" in the status by then
    home.boxes.answerNext(MsgAnswer::No);
    EXPECT_FALSE(s.Form_Unload());
    EXPECT_TRUE(st().recording);
    EXPECT_EQ(home.boxes.last().text, "Stai registrando !!! Vuoi uscire ?");
    EXPECT_EQ(home.boxes.last().title, "Uscita");

    home.boxes.answerNext(MsgAnswer::Yes);
    EXPECT_TRUE(s.Form_Unload());
    // The way out waited for the save: the recording and its row are there already.
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(s.amTapiPro1().lineOpen());
    EXPECT_TRUE(forms.wasUnloaded(FormId::Mixer));
}

TEST_F(CardSessionTest, VanishedRecordingsFolderEndsInTheFallbackFolder) {
    RecorderSession& s = startLineIn();
    runCard(2000);
    QDir(home.config.dataPath).removeRecursively();
    s.BtFineReg_Click();
    waitSaves();
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().title, "errore di registrazione");
    EXPECT_TRUE(home.boxes.last().text.startsWith("Error 76 "));
    EXPECT_EQ(recordings(home.userHome() + "/RIZEDUZO/ERROR").size(), 1);
    EXPECT_EQ(rows(), 1);
}

TEST_F(CardSessionTest, DigitKeysMoveThePlayerOnlyWhilePlaying) {
    RecorderSession& s = load();
    s.Form_KeyDown(53);
    EXPECT_TRUE(forms.fakePlayer.rewinds.isEmpty());
    forms.fakePlayer.playing = true;
    for (int key : {48, 49, 53, 57, 97, 105, 106}) s.Form_KeyDown(key);
    EXPECT_EQ(forms.fakePlayer.rewinds, (QList<int>{49, 53, 57, 97, 105}));
}

}  // namespace
