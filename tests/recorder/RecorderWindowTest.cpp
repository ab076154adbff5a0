// The recorder window as a view: it shows the cycle's state and hands clicks and keys over.
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "recorder/RecorderSession.h"
#include "recorder/SaveQueue.h"
#include "recorder/ui/FrmRecorder.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"
#include "widgets/PictureBox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

class RecorderWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        auto& ctx = *home.context;
        ctx.line = &line;
        ctx.audio = &audio;
        ctx.forms = &forms;
        audio.addInput(
            {"card",
             ReadMonoSamples(qEnvironmentVariable("KALLOMIR_TEST_DATA") + "/speech.wav", 8000)});
        ctx.settings.save("Record Format", "2");
        ctx.settings.save("Sound Card Input", "0");
        ctx.settings.save("Line Device", SimulatedLine::DefaultDevice().name);
        window = std::make_unique<FrmRecorder>(ctx);
        forms.recorderWindow = window.get();
        window->session().amWavePro1().setVoxThreshold(10);
        window->Form_Load();
        window->session().counterTimer().stop();
        window->session().timer1().stop();
    }
    void TearDown() override {
        window->session().amWavePro1().closeCapture();
        window->session().saves().waitIdle();
        window.reset();
    }
    RecorderSession& s() { return window->session(); }

    TempHome home;
    SimulatedLine line;
    TestAudioSystem audio{&home.clock};
    FakeForms forms;
    std::unique_ptr<FrmRecorder> window;
};

TEST_F(RecorderWindowTest, LoadsWithItsCaptionsAndTheStartingState) {
    FrmRecorder& w = *window;
    EXPECT_EQ(w.windowTitle(), "Recorder");
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    EXPECT_TRUE(w.BtiNIReg->isEnabled());
    EXPECT_FALSE(w.BtFineReg->isEnabled());
    EXPECT_FALSE(w.cmdProvvisorio->isEnabled());
    EXPECT_TRUE(w.BtPlayReg->isHidden() && w.Command1->isHidden() && w.Command2->isHidden());
    EXPECT_TRUE(w.OptionWaveDevice[2]->isHidden());
    EXPECT_TRUE(w.OptionWaveDevice[0]->isChecked());
    EXPECT_TRUE(w.OptionRecordFile[0]->isChecked());
    EXPECT_EQ(w.txtprog->text(), "0");
    EXPECT_EQ(w.ProgressBar1->value(), 10);
    EXPECT_EQ(w.Eti[0]->text(), "Tempo Rimanente        (hh:mm:ss)");
    EXPECT_EQ(w.Label3->text(), "Progressivo N°");
    EXPECT_EQ(w.LbInizio->text(), "In attesa di registrare ...");
    EXPECT_EQ(w.picture3().linesSinceClear(), 1);  // the meter at 0
    EXPECT_TRUE(w.lbNotice->isHidden());
}

TEST_F(RecorderWindowTest, ClicksReachTheCycleAndItsStateComesBack) {
    FrmRecorder& w = *window;
    QTest::mouseClick(w.OptionWaveDevice[1], Qt::LeftButton);
    EXPECT_EQ(s().state().source, RecordSource::LineIn);
    QTest::mouseClick(w.BtiNIReg, Qt::LeftButton);
    ASSERT_TRUE(s().state().recording);
    EXPECT_EQ(w.LabelStatus->text(), "Connesso");
    EXPECT_EQ(w.lbstatus->text(), "recording");
    EXPECT_FALSE(w.BtiNIReg->isEnabled());
    EXPECT_TRUE(w.BtFineReg->isEnabled() && w.cmdProvvisorio->isEnabled());
    EXPECT_NE(w.LbInizio->text(), "In attesa di registrare ...");

    s().amWavePro1_Level(30, 20);  // the level bar and the meter follow
    EXPECT_EQ(w.ProgressBar->value(), 50);
    EXPECT_EQ(w.picture3().linesSinceClear(), 1);

    audio.advance(1500);
    QTest::mouseClick(w.BtFineReg, Qt::LeftButton);
    EXPECT_FALSE(s().state().recording);
    EXPECT_EQ(w.LabelStatus->text(), "In Attesa");
    EXPECT_TRUE(w.BtiNIReg->isEnabled());
}

TEST_F(RecorderWindowTest, SilenceDetectBoxTicksTheCycleAndTheCycleMovesTheRadios) {
    FrmRecorder& w = *window;
    QTest::mouseClick(w.silencecrt, Qt::LeftButton);
    EXPECT_TRUE(s().state().silenceDetect);
    EXPECT_TRUE(w.OptionRecordFile[1]->isChecked());  // "Rec Null"
    EXPECT_TRUE(w.OptionWaveDevice[1]->isChecked());  // "Line In"
    EXPECT_EQ(w.LabelStatus->text(), "Silence Detect");
    QTest::mouseClick(w.silencecrt, Qt::LeftButton);
    EXPECT_FALSE(s().state().silenceDetect);
    EXPECT_TRUE(w.OptionRecordFile[0]->isChecked());
}

TEST_F(RecorderWindowTest, DigitKeysGoToThePlayerWhileItPlays) {
    forms.fakePlayer.playing = true;
    QTest::keyClick(window.get(), Qt::Key_5);
    QTest::keyClick(window.get(), Qt::Key_3, Qt::KeypadModifier);
    QTest::keyClick(window.get(), Qt::Key_A);
    EXPECT_EQ(forms.fakePlayer.rewinds, (QList<int>{53, 99}));
}

TEST_F(RecorderWindowTest, RegistrationAndProblemsAreShownInWords) {
    FrmRecorder& w = *window;
    EXPECT_TRUE(w.lbLine->text().isEmpty());  // the simulated line does not register
    home.context->settings.save("Sound Card Input", "7");
    s().amTapiPro1_IncomingCall(2);
    EXPECT_FALSE(w.lbNotice->isHidden());
    EXPECT_TRUE(w.lbNotice->text().contains("non risposta")) << w.lbNotice->text().toStdString();
    EXPECT_TRUE(w.lbNotice->text().contains("7"));
}

}  // namespace
