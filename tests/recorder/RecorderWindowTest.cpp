#include "RecorderWindowFixture.h"
#include "catalogue/RecordingName.h"
#include "catalogue/RecordingTrailer.h"
#include "controls/WavSamples.h"
#include "core/IniFile.h"
#include "recorder/CaptureMarker.h"
#include "support/WavFixture.h"
#include "widgets/PictureBox.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

using namespace kallomir;
using namespace kallomir::test;

namespace {

QString SpeechFile() {
    return QStringLiteral(KALLOMIR_RECORDER_TEST_DATA "/speech.wav");
}

double Rms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(count));
}

TEST_F(RecorderWindowTest, LoadsWithTheStartingControlsAndStates) {
    FrmRecorder& w = load();
    EXPECT_EQ(w.windowTitle(), "Recorder");
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    EXPECT_TRUE(w.BtiNIReg->isEnabled());
    EXPECT_FALSE(w.BtFineReg->isEnabled());
    EXPECT_FALSE(w.cmdProvvisorio->isEnabled());
    EXPECT_TRUE(w.BtPlayReg->isHidden() && w.Command1->isHidden() && w.Command2->isHidden());
    EXPECT_TRUE(w.OptionWaveDevice[0]->isChecked());
    EXPECT_TRUE(w.OptionRecordFile[0]->isChecked());
    EXPECT_EQ(w.txtprog->text(), "0");
    EXPECT_EQ(settings().get("progressivo", ""), "0");
    EXPECT_EQ(w.silenceCountdown(), 7);
    EXPECT_EQ(w.ProgressBar1->value(), 10);
    EXPECT_EQ(w.amTapiPro1().member13(), 4);
    EXPECT_TRUE(w.amTapiPro1().lineOpen());
    EXPECT_EQ(w.Eti[0]->text(), "Tempo Rimanente        (hh:mm:ss)");
    EXPECT_EQ(w.Label3->text(), "Progressivo N°");
    EXPECT_EQ(w.picture3().linesSinceClear(), 1);  // the meter at 0
    EXPECT_TRUE(QFile::exists(home.path("datirec.mdb")));
}

TEST_F(RecorderWindowTest, AnsweredCallIsRecordedSavedAndCatalogued) {
    settings().save("progressivo", "41");
    settings().save("etichetta", "Caso 7");
    SimulatedIncomingCall call;
    call.ringPeriodMs = 3000;
    call.audioPath = SpeechFile();
    line.addIncomingCall(call);
    FrmRecorder& w = load();

    runLine(100);  // first ring
    EXPECT_EQ(w.LabelStatus->text(), "Chiamata in Arrivo");
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Offering);
    runLine(3000);  // second ring: answered
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Connected);
    EXPECT_EQ(w.LabelStatus->text(), "Connesso");
    EXPECT_TRUE(w.isRecording());
    EXPECT_TRUE(w.amTapiPro1().member46());
    EXPECT_EQ(w.amTapiPro1().member61(), 65535);
    EXPECT_EQ(forms.fakePlayer.status, "Stopped");
    const QDateTime start = w.startTime();

    runLine(5000);  // the caller speaks, then hangs up when the speech ends
    EXPECT_FALSE(w.isRecording());
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    const QString name = MakeRecordingName(start) + ".Ems";
    ASSERT_EQ(recordings(), QStringList{name});
    const QString file = home.config.recordingsFolder() + "/" + name;
    EXPECT_EQ(w.currentFile(), file);

    const QByteArray bytes = ReadBytes(file);
    EXPECT_EQ(bytes.right(48),
              RecordingTrailer::Make(home.config.recFolder, start, w.endTime()).toBytes());
    EXPECT_EQ(bytes.left(bytes.size() - 48), ReadBytes(home.path("Record.wav")));
    const MonoSamples recorded = ReadMonoSamples(home.path("Record.wav"));
    const MonoSamples speech = ReadMonoSamples(SpeechFile(), recorded.sampleRate);
    EXPECT_EQ(recorded.sampleRate, 8000);
    EXPECT_NEAR(double(recorded.samples.size()) / 8000, double(speech.samples.size()) / 8000, 0.5);
    EXPECT_GT(Rms(recorded.samples, 0, recorded.samples.size()),
              0.5 * Rms(speech.samples, 0, speech.samples.size()));

    const auto row = catalogue().find(name);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->dtfile, start.date());
    EXPECT_EQ(row->ora, start.toString("HH:mm"));
    EXPECT_EQ(row->etichetta, "Caso 7");
    EXPECT_EQ(row->progressivo, 42);
    EXPECT_EQ(w.txtprog->text(), "42");
    EXPECT_EQ(settings().get("progressivo", ""), "42");
    EXPECT_EQ(forms.fakePlayer.folder, home.config.recordingsFolder());
    EXPECT_GE(forms.fakePlayer.refreshes, 1);
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
}

TEST_F(RecorderWindowTest, AnswerRulesFollowTheSettings) {
    settings().save("Rings Before Answer", "0");
    line.addIncomingCall({});
    load();
    runLine(100);
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Connected);  // at the first ring

    settings().save("Auto Answer", "0");
    line.hangUpFarEnd();
    SimulatedIncomingCall later;
    later.atMs = line.elapsedMs() + 500;
    line.addIncomingCall(later);
    runLine(10000);
    EXPECT_EQ(line.callState(), SimulatedLine::CallState::Offering);
    EXPECT_EQ(window->LabelStatus->text(), "Chiamata in Arrivo");
}

TEST_F(RecorderWindowTest, RecallDialsBackOnceTheLineIsIdle) {
    settings().save("Recall", "1");
    settings().save("Telephone Number", "0612345");
    SimulatedIncomingCall call;
    call.giveUpAfterRings = 3;
    line.addIncomingCall(call);
    line.setDialAnswer({-1, {}, -1});  // nobody answers our call-back
    FrmRecorder& w = load();

    runLine(6100);  // three rings, never answered
    EXPECT_TRUE(w.recallArmed());
    EXPECT_NE(line.callState(), SimulatedLine::CallState::Connected);
    runLine(3000);  // the caller gives up; the line goes idle
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    EXPECT_TRUE(line.lastDialled().isEmpty());
    int ticks = 0;
    while (line.lastDialled().isEmpty() && ticks < 30) {
        runLine(1000);
        ++ticks;
    }
    EXPECT_EQ(line.lastDialled(), "0612345");
    EXPECT_EQ(w.LabelStatus->text(), "Composizione");
    EXPECT_FALSE(w.recallArmed());
}

TEST_F(RecorderWindowTest, RecallWaitsWhileTheLineStillRings) {
    settings().save("Recall", "1");
    settings().save("Telephone Number", "0612345");
    FrmRecorder& w = load();
    w.amTapiPro1_IncomingCall(1);
    for (int i = 0; i < 20; ++i) tick();
    EXPECT_EQ(w.recallSeconds(), 20);
    EXPECT_EQ(w.ProgressBar2->maximum(), 20);  // the bar follows the count past RecallTime
    EXPECT_TRUE(line.lastDialled().isEmpty());
    w.amTapiPro1_Idle();
    tick();
    EXPECT_EQ(line.lastDialled(), "0612345");
    settings().save("Recall", "0");
    w.amTapiPro1_IncomingCall(1);
    tick();
    EXPECT_EQ(w.LABELRECALL->text(), "0");
}

TEST_F(RecorderWindowTest, TelephoneWithoutNumberFallsBackToLineIn) {
    FrmRecorder& w = load();
    w.BtiNIReg_Click();
    ASSERT_EQ(home.boxes.texts(), (QStringList{"N. Telefonico non impostato", "Error 0 "}));
    EXPECT_EQ(home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_FALSE(w.OptionWaveDevice[0]->isEnabled());
    EXPECT_TRUE(w.OptionWaveDevice[1]->isChecked());
}

TEST_F(RecorderWindowTest, LineInRecordingStoppedWithinItsFirstSecondSavesNothing) {
    audio.addInput({"card", ReadMonoSamples(SpeechFile(), 8000)});
    settings().save("Sound Card Input", "0");
    FrmRecorder& w = load();
    w.OptionWaveDevice[1]->setChecked(true);
    w.BtiNIReg_Click();
    ASSERT_TRUE(w.isRecording());
    EXPECT_FALSE(w.BtiNIReg->isEnabled());
    EXPECT_TRUE(w.BtFineReg->isEnabled());
    EXPECT_TRUE(w.cmdProvvisorio->isEnabled());
    audio.advance(400);  // still the same second
    w.BtFineReg_Click();
    EXPECT_FALSE(w.isRecording());
    EXPECT_TRUE(recordings().isEmpty());
    EXPECT_EQ(catalogue().rowCount(), 0);
    EXPECT_EQ(w.LbInizio->text(), "In attesa di registrare ...");
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
}

TEST_F(RecorderWindowTest, CaptureThatNeverStartedDoesNotSaveTheOldCaptureFile) {
    WriteBytes(home.path("Record.wav"), MakeWav(5.0));  // left by the last recording
    settings().save("Record Format", "-1");
    line.addIncomingCall({});
    FrmRecorder& w = load();
    runLine(3100);  // answered at ring 2
    EXPECT_EQ(home.boxes.texts(), QStringList{"Formato Record non selezionato "});
    EXPECT_FALSE(w.isRecording());
    runLine(2000);
    line.hangUpFarEnd();
    runLine(500);
    EXPECT_TRUE(recordings().isEmpty());
    EXPECT_EQ(catalogue().rowCount(), 0);

    // Line In without an input: the second message, and the devices are stopped.
    home.boxes.clear();
    settings().save("Record Format", "2");
    settings().save("Sound Card Input", "-1");
    w.OptionWaveDevice[1]->setChecked(true);
    w.BtiNIReg_Click();
    EXPECT_EQ(home.boxes.texts(), QStringList{"Scheda audio non settata"});
    EXPECT_EQ(w.amWavePro1().recordFormat(), 2);
    EXPECT_FALSE(w.isRecording());
    EXPECT_TRUE(w.BtiNIReg->isEnabled());
}

class CardRecordingTest : public RecorderWindowTest {
protected:
    void SetUp() override {
        RecorderWindowTest::SetUp();
        audio.addInput({"card", ReadMonoSamples(SpeechFile(), 8000)});
    }
    FrmRecorder& startLineIn() {
        FrmRecorder& w = load();
        w.OptionWaveDevice[1]->setChecked(true);
        w.BtiNIReg_Click();
        return w;
    }
};

TEST_F(CardRecordingTest, SplitInTheStartSecondGivesTwoFiles) {
    FrmRecorder& w = startLineIn();
    runCard(2000);
    w.cmdProvvisorio_Click();
    EXPECT_TRUE(w.isRecording());
    EXPECT_EQ(w.LabelStatus->text(), "Connesso");
    EXPECT_EQ(home.config.silenceStopEnabled, "1");
    EXPECT_EQ(recordings().size(), 1);
    runCard(1500);
    w.BtFineReg_Click();
    const QStringList files = recordings();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(catalogue().rowCount(), 2);
    EXPECT_EQ(settings().get("progressivo", ""), "2");

    // A recording of the same start second already there (another run, a clock set back)
    // stays whole; the new one gets its own name and row.
    const QString taken = MakeRecordingName(home.clock.now()) + ".Ems";
    WriteBytes(home.config.recordingsFolder() + "/" + taken, "earlier recording");
    catalogue().recorderInsert(taken, settings());
    w.BtiNIReg_Click();
    runCard(1500);
    w.BtFineReg_Click();
    EXPECT_EQ(ReadBytes(home.config.recordingsFolder() + "/" + taken), "earlier recording");
    EXPECT_TRUE(recordings().contains(taken.left(15) + "_2.Ems"));
    EXPECT_EQ(catalogue().rowCount(), 4);
    EXPECT_EQ(w.txtprog->text(), "4");
}

TEST_F(CardRecordingTest, FolderLimitMovesRecordingToTheNextFolder) {
    QString three = "3";
    WriteIniValue(home.config.iniFile, "PATH", "FOLDER", three);
    home.config.recFolder = "Quendral/3";
    QDir().mkpath(home.config.recordingsFolder());
    FrmRecorder& w = startLineIn();
    w.setFolderSizeLimit(1);  // one million bytes
    WriteBytes(home.config.recordingsFolder() + "/20240101_000000.Ems", QByteArray(999'000, 'x'));
    runCard(3000);
    EXPECT_EQ(home.config.recFolder, "Quendral/4");
    EXPECT_EQ(ReadIniValue(home.config.iniFile, "PATH", "FOLDER", ""), "4");
    EXPECT_EQ(recordings(home.config.dataPath + "Quendral/3").size(), 2);
    EXPECT_TRUE(w.isRecording());
    EXPECT_EQ(forms.fakePlayer.folder, home.config.dataPath + "Quendral/4");
    EXPECT_EQ(w.USEDIR->text(), "Quendral/4");
    runCard(1500);
    w.BtFineReg_Click();
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardRecordingTest, QuietRecordingStopsAfterTheCountdownLoudLevelReloadsIt) {
    FrmRecorder& w = startLineIn();
    w.amWavePro1().closeCapture();  // the levels come from the test from here on
    ASSERT_TRUE(w.isRecording());
    for (int i = 0; i < 6; ++i) tick();
    EXPECT_EQ(w.silenceCountdown(), 1);
    w.amWavePro1_Level(10, 0);  // at the threshold: reloads
    EXPECT_EQ(w.silenceCountdown(), 7);
    for (int i = 0; i < 7; ++i) {
        home.clock.advanceSeconds(1);
        tick();
    }
    w.amWavePro1_Level(9, 0);
    EXPECT_FALSE(w.isRecording());
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardRecordingTest, VoiceStartsARecordingAndSilenceEndsIt) {
    // The test input plays its sound from the start at each opening: 3 s voice, 14 s quiet.
    std::vector<std::int16_t> sound(std::size_t(8000) * 17, 0);
    const MonoSamples speech = ReadMonoSamples(SpeechFile(), 8000);
    std::copy_n(speech.samples.begin(), std::min<std::size_t>(speech.samples.size(), 8000 * 3),
                sound.begin());
    audio.addInput({"voice", {8000, sound}});
    settings().save("Sound Card Input", "1");
    FrmRecorder& w = load();
    w.silencecrt->setChecked(true);
    EXPECT_EQ(w.LabelStatus->text(), "Silence Detect");
    EXPECT_TRUE(w.OptionRecordFile[1]->isChecked());
    EXPECT_FALSE(w.isRecording());
    EXPECT_FALSE(QFile::exists(home.path("Record.wav")));

    runCard(500);  // voice
    EXPECT_TRUE(w.isRecording());
    EXPECT_EQ(w.LabelStatus->text(), "Connesso");
    EXPECT_TRUE(w.OptionRecordFile[0]->isChecked());
    int ms = 0;
    while (w.isRecording() && ms < 15000) {
        runCard(100);
        ms += 100;
    }
    EXPECT_FALSE(w.isRecording());
    EXPECT_GT(ms, 3000);  // not before the voice ended
    EXPECT_EQ(recordings().size(), 1);
    tick();  // re-armed: waiting for voice again
    EXPECT_EQ(w.LabelStatus->text(), "Silence Detect");
    EXPECT_TRUE(w.OptionRecordFile[1]->isChecked());

    w.silencecrt->setChecked(false);
    EXPECT_TRUE(w.OptionRecordFile[0]->isChecked());
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
}

TEST_F(CardRecordingTest, LevelAtTheThresholdDoesNotStartOneAboveDoes) {
    settings().save("Sound Card Input", "0");
    FrmRecorder& w = load();
    w.silencecrt->setChecked(true);
    w.amWavePro1_Level(10, 0);
    EXPECT_FALSE(w.isRecording());
    w.amWavePro1_Level(6, 5);  // both channels count
    EXPECT_TRUE(w.isRecording());
    EXPECT_EQ(w.ProgressBar->value(), 11);
    w.amWavePro1_Level(32767, 32767);  // no overflow, bar and meter at their ends
    EXPECT_EQ(w.ProgressBar->value(), 100);
}

TEST_F(CardRecordingTest, SilenceEventStopsOnlyWhenAllowed) {
    FrmRecorder& w = startLineIn();
    runCard(1500);
    home.config.silenceStopEnabled = "0";
    w.amWavePro1_Silence(true);
    EXPECT_TRUE(w.isRecording());
    home.config.silenceStopEnabled = "1";
    w.amWavePro1_Silence(false);
    EXPECT_TRUE(w.isRecording());
    w.amWavePro1_Silence(true);
    EXPECT_FALSE(w.isRecording());
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(CardRecordingTest, LeavingWhileRecordingAsksAndSavesOnYes) {
    FrmRecorder& w = startLineIn();
    runCard(2500);  // the ticks have replaced "recording" in the status by then
    home.boxes.answerNext(MsgAnswer::No);
    bool cancel = false;
    w.Form_Unload(cancel);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(w.isRecording());
    EXPECT_EQ(home.boxes.last().text, "Stai registrando !!! Vuoi uscire ?");
    EXPECT_EQ(home.boxes.last().title, "Uscita");

    home.boxes.answerNext(MsgAnswer::Yes);
    w.Form_Unload(cancel);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(catalogue().rowCount(), 1);
    EXPECT_FALSE(w.amTapiPro1().lineOpen());
    EXPECT_TRUE(forms.wasUnloaded(FormId::Mixer));
}

TEST_F(CardRecordingTest, VanishedRecordingsFolderEndsInTheFallbackFolder) {
    FrmRecorder& w = startLineIn();
    runCard(2000);
    QDir(home.config.dataPath).removeRecursively();
    w.BtFineReg_Click();
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().title, "errore di registrazione");
    EXPECT_TRUE(home.boxes.last().text.startsWith("Error 76 "));
    EXPECT_EQ(recordings(home.userHome() + "/RIZEDUZO/ERROR").size(), 1);
    EXPECT_EQ(catalogue().rowCount(), 1);
}

TEST_F(CardRecordingTest, MissingCatalogueKeepsTheRecording) {
    FrmRecorder& w = startLineIn();
    runCard(2000);
    QFile::remove(home.path("datirec.mdb"));
    w.BtFineReg_Click();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_TRUE(home.boxes.last().text.startsWith("Error 3024 "));
    EXPECT_EQ(settings().get("progressivo", ""), "0");
}

TEST_F(RecorderWindowTest, OrphanedCaptureIsRecoveredAtLoadOnce) {
    WriteBytes(home.path("Record.wav"), MakeWav(4.0));
    CaptureMarker(home.path("Record.wav")).set(home.clock.now());
    load();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(window->txtprog->text(), "1");
    delete window;
    window = nullptr;
    load();
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(home.boxes.shown().size(), 1);
}

}  // namespace
