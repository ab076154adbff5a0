#include "FakePedalDevices.h"
#include "PlayerFixture.h"

#include "controls/playback/SoundBuffer.h"
#include "controls/playback/WavePeaks.h"
#include "player/HeardCoverageStore.h"
#include "player/PedalControl.h"
#include "player/PlaybackRules.h"
#include "player/RtfReader.h"
#include "player/ui/TranscriptionEditor.h"
#include "player/ui/TranscriptionToolsDialog.h"
#include "widgets/WaveformView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

const QDateTime kStart(QDate(2024, 3, 1), QTime(9, 0, 0));

double Heard(FrmPlayer& p) {
    return static_cast<double>(p.PlaybackBuffer()->GetCurrentPosition()) /
           static_cast<double>(p.BytesPerSecond);
}

// A key pressed (and let go) with the focus on `w`, as the keyboard sends it.
bool Press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
           const QString& text = {}) {
    QKeyEvent over(QEvent::ShortcutOverride, key, mods, text);
    QApplication::sendEvent(w, &over);
    QKeyEvent down(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &up);
    return over.isAccepted();
}

// Lets whatever is pending arrive, when nothing in particular is awaited.
void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <typename Condition>
void Deliver(Condition done) {
    const QDeadlineTimer limit(5000);
    while (!done() && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A player with one recording of `seconds` of tone open, at 8 kHz 16-bit mono (16 000 bytes a
// second).
struct Opened {
    explicit Opened(double seconds = 60,
                    const QString& name = QStringLiteral("20240301_090000.Ems")) {
        f.addRecording(name, 8000, 16, 1, seconds, kStart, static_cast<qint64>(seconds));
        f.load();
        f.open(name);
    }
    FrmPlayer& p() { return *f.player; }
    PlayerFixture f;
};

}  // namespace

TEST(PlayerTools, VelocitaChangesTempoKeepsFrequencyAndIsRemembered) {
    Opened o;
    FrmPlayer& p = o.p();
    EXPECT_EQ(p.lblVelocita->text(), QStringLiteral("1,0×"));
    EXPECT_EQ(p.PlaybackBuffer()->GetTempo(), 1.0);
    p.SliderVelocita->setValue(5);
    EXPECT_EQ(p.PlaybackBuffer()->GetTempo(), 0.5);
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 8000);  // the pitch stays where it was
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 8000 Hz"));
    EXPECT_EQ(p.lblVelocita->text(), QStringLiteral("0,5×"));
    EXPECT_EQ(o.f.home.context->settings.get(QStringLiteral("Velocita"), {}), QStringLiteral("5"));

    // Half speed: ten seconds of listening cover five of the recording.
    p.BtiNIReg_Click();
    o.f.run(10.0);
    EXPECT_NEAR(Heard(p), 5.0, 0.2);

    // The keys step it, within 0.5 .. 2.0; the fast buttons still multiply the frequency.
    QTextEdit* editor = p.Frame2->rtfTesto();
    Press(editor, Qt::Key_F2);
    EXPECT_EQ(p.SliderVelocita->value(), 5);
    for (int i = 0; i < 20; ++i) Press(editor, Qt::Key_F3);
    EXPECT_EQ(p.SliderVelocita->value(), 20);
    EXPECT_EQ(p.PlaybackBuffer()->GetTempo(), 2.0);
    p.FastX10_MouseDown();
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 80000);
    EXPECT_EQ(p.PlaybackBuffer()->GetTempo(), 2.0);
    p.FastX10_MouseUp();

    // A new window (the next start) plays at the speed chosen last.
    PlayerFixture& f = o.f;
    f.player.reset();
    FrmPlayer& again = f.load();
    f.open(QStringLiteral("20240301_090000.Ems"));
    EXPECT_EQ(again.SliderVelocita->value(), 20);
    EXPECT_EQ(again.PlaybackBuffer()->GetTempo(), 2.0);
}

TEST(PlayerTools, KeysWorkWhileTypingWithoutTypingAnything) {
    Opened o;
    FrmPlayer& p = o.p();
    p.btedit_Click();  // editing: the editor has the focus and takes typing
    QTextEdit* editor = p.Frame2->rtfTesto();
    editor->setPlainText(QStringLiteral("testo"));

    EXPECT_TRUE(Press(editor, Qt::Key_F4));  // claimed before any shortcut of the main window
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), SoundBuffer::kStatusPlaying);
    o.f.run(20.0);
    const double at = Heard(p);
    Press(editor, Qt::Key_F7);
    EXPECT_NEAR(Heard(p), at - 3, 0.01);
    Press(editor, Qt::Key_F8);
    Press(editor, Qt::Key_F8);
    EXPECT_NEAR(Heard(p), at + 3, 0.01);
    EXPECT_EQ(p.Scroller->value(), static_cast<int>(std::lround(at + 3)));
    Press(editor, Qt::Key_F4);
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
    EXPECT_TRUE(p.Paused);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("testo"));  // nothing typed

    // Digits type while editing; other keys still go to the editor.
    editor->moveCursor(QTextCursor::End);
    Press(editor, Qt::Key_3, Qt::NoModifier, QStringLiteral("3"));
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("testo3"));

    // Keys chosen by the operator replace the defaults.
    TranscriptionSettings mine = p.transcriptionSettings();
    mine.keys[static_cast<size_t>(TranscriptionAction::PlayPause)] =
        QKeySequence(QStringLiteral("Ctrl+Space"));
    p.applyTranscriptionSettings(mine);
    Press(editor, Qt::Key_F4);
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
    Press(editor, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), SoundBuffer::kStatusPlaying);
    EXPECT_EQ(o.f.home.context->settings.get(QStringLiteral("KeyPlayPause"), {}),
              QStringLiteral("Ctrl+Space"));
}

TEST(PlayerTools, EveryResumeAfterAPauseStepsBack) {
    Opened o;
    FrmPlayer& p = o.p();
    p.HS_Cursor->setValue(10);
    p.BtiNIReg_Click();
    o.f.run(3.0);
    p.Btpause_Click();
    const double paused = Heard(p);
    EXPECT_NEAR(paused, 12.95, 0.05);
    p.BtiNIReg_Click();
    EXPECT_NEAR(Heard(p), paused - 2, 0.01);  // the default: two seconds

    // Near the start it stops at the start.
    p.BtFineReg_Click();
    p.HS_Cursor->setValue(0);
    p.BtiNIReg_Click();
    o.f.run(1.0);
    p.Btpause_Click();
    p.BtiNIReg_Click();
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);

    // Set to 0 it resumes where it paused; a place chosen while paused is kept as it is.
    TranscriptionSettings none = p.transcriptionSettings();
    none.autoRewindSeconds = 0;
    p.applyTranscriptionSettings(none);
    o.f.run(2.0);
    p.Btpause_Click();
    const double here = Heard(p);
    p.BtiNIReg_Click();
    EXPECT_NEAR(Heard(p), here, 0.01);
    TranscriptionSettings ten = none;
    ten.autoRewindSeconds = 10;
    p.applyTranscriptionSettings(ten);
    p.Btpause_Click();
    p.seekToSeconds(30);
    p.BtiNIReg_Click();
    EXPECT_NEAR(Heard(p), 30, 0.01);
}

TEST(PlayerTools, DigitRuleHoldsWhicheverChildHasTheFocus) {
    PlayerFixture f;
    f.addRecording(QStringLiteral("20240301_090000.Ems"), 8000, 16, 1, 30, kStart, 30);
    f.addRecording(QStringLiteral("20240302_090000.Ems"), 8000, 16, 1, 30, kStart, 30);
    FrmPlayer& p = f.load();
    f.open(QStringLiteral("20240302_090000.Ems"));
    p.HS_Cursor->setValue(20);
    p.BtiNIReg_Click();
    f.run(0.5);
    // The file list's type-ahead would take "2" and open the other recording.
    Press(p.FOpener, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"));
    EXPECT_EQ(p.FOpener->currentItem()->text(), QStringLiteral("20240302_090000.Ems"));
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(18, 16000));
    f.run(0.1);  // the position slider follows: 18 s
    Press(p.Drive1, Qt::Key_5, Qt::KeypadModifier, QStringLiteral("5"));
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(13, 16000));
    f.run(0.1);
    Press(p.Scroller, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(12, 16000));
}

TEST(PlayerTools, TimestampsAreInsertedSavedReloadedAndFollowed) {
    Opened o(90);
    FrmPlayer& p = o.p();
    QTextEdit* editor = p.Frame2->rtfTesto();
    p.HS_Cursor->setValue(65);
    p.BtiNIReg_Click();
    o.f.run(0.5);
    Press(editor, Qt::Key_F6);  // editing off: nothing is written
    EXPECT_TRUE(editor->toPlainText().isEmpty());

    p.btedit_Click();
    editor->setPlainText(QStringLiteral("A: pronto"));
    editor->moveCursor(QTextCursor::Start);
    Press(editor, Qt::Key_F6);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("[00:01:05] A: pronto"));
    editor->moveCursor(QTextCursor::End);
    o.f.run(3.0);
    Press(editor, Qt::Key_F6);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("[00:01:05] A: pronto[00:01:08] "));
    p.cmdSalva_Click();

    // Plain text in the catalogue field, through the rich-text round trip.
    const auto row = o.f.row(QStringLiteral("20240301_090000.Ems"));
    ASSERT_TRUE(row && row->traduzione);
    EXPECT_TRUE(row->traduzione->contains(QStringLiteral("[00:01:05] A: pronto[00:01:08] ")));
    EXPECT_EQ(RtfToPlainText(row->traduzione->toUtf8()).trimmed(),
              QStringLiteral("[00:01:05] A: pronto[00:01:08]"));

    // Reopened, with editing off: Ctrl+click on a mark moves playback there.
    p.BtFineReg_Click();
    o.f.open(QStringLiteral("20240301_090000.Ems"));
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("[00:01:05] A: pronto[00:01:08] "));
    p.resize(1000, 640);
    p.show();
    QTextCursor mark(editor->document());
    mark.setPosition(3);
    const QPoint inside = editor->cursorRect(mark).center();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, inside);
    EXPECT_EQ(p.HS_Cursor->value(), 0);  // a plain click only places the cursor
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::ControlModifier, inside);
    EXPECT_EQ(p.HS_Cursor->value(), 65);  // stopped: the next play starts there
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 65 * 16000);

    // While playing, the key with the cursor on a mark jumps there.
    p.BtiNIReg_Click();
    o.f.run(1.0);
    QTextCursor second(editor->document());
    second.setPosition(22);
    editor->setTextCursor(second);
    Press(editor, Qt::Key_F5);
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 68 * 16000);
    second.setPosition(14);  // not on a mark: nothing moves
    editor->setTextCursor(second);
    Press(editor, Qt::Key_F5);
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 68 * 16000);
}

TEST(PlayerTools, WaveformIsReadyAndAClickMovesPlayback) {
    Opened o(40);
    FrmPlayer& p = o.p();
    p.Peaks()->waitUntilComplete();
    p.Waveform->refresh();
    EXPECT_TRUE(p.Waveform->complete());
    p.BtiNIReg_Click();
    o.f.run(1.0);
    QSignalSpy moved(p.Waveform, &WaveformView::seekRequested);
    QTest::mouseClick(p.Waveform, Qt::LeftButton, {},
                      QPoint(p.Waveform->width() / 2, p.Waveform->height() / 2));
    ASSERT_EQ(moved.count(), 1);
    EXPECT_NEAR(Heard(p), 20, 40.0 / p.Waveform->width() + 0.01);
    o.f.run(0.5);
    EXPECT_NEAR(p.Waveform->position(), Heard(p) / 40, 0.01);
}

TEST(PlayerTools, HeardCoverageCountsListeningAndSurvivesAReopen) {
    Opened o(20);
    FrmPlayer& p = o.p();
    EXPECT_EQ(p.lblAscoltato->text(), QStringLiteral("Ascoltato: 0%"));
    p.BtiNIReg_Click();
    o.f.run(4.0);  // 0 .. 3.95 s heard
    p.FastX5_MouseDown();
    o.f.run(1.0);  // five seconds skimmed: not heard
    p.FastX5_MouseUp();
    o.f.run(2.0);
    p.SliderVelocita->setValue(5);  // slower counts
    o.f.run(2.0);
    p.Btpause_Click();
    const auto stretches = p.heardCoverage().stretches();
    ASSERT_EQ(stretches.size(), 2u) << p.heardCoverage().toText().toStdString();
    EXPECT_NEAR(stretches[0].from, 0, 100);
    EXPECT_NEAR(stretches[0].to, 3950, 150);
    EXPECT_NEAR(stretches[1].from, 9000, 250);
    EXPECT_NEAR(stretches[1].to, 11950, 250);
    const int percent = p.heardPercent();
    EXPECT_NEAR(percent, 34, 2);
    EXPECT_EQ(p.lblAscoltato->text(), QStringLiteral("Ascoltato: %1%").arg(percent));

    // Listening again over the same part adds nothing; the store has it after the pause.
    p.seekToSeconds(1);
    p.BtiNIReg_Click();
    o.f.run(2.0);
    p.BtFineReg_Click();
    EXPECT_EQ(p.heardPercent(), percent);
    const QString path = QDir(o.f.folder).filePath(QStringLiteral("20240301_090000.Ems"));
    EXPECT_EQ(HeardCoverageStore::InFolder(o.f.home.home()).load(path), p.heardCoverage());

    // The next start shows the same.
    o.f.player.reset();
    FrmPlayer& again = o.f.load();
    o.f.open(QStringLiteral("20240301_090000.Ems"));
    EXPECT_EQ(again.heardPercent(), percent);
    EXPECT_EQ(again.lblAscoltato->text(), QStringLiteral("Ascoltato: %1%").arg(percent));
}

TEST(PlayerTools, MarkingAscoltatoBelow95PerCentAsksOnce) {
    const QString question =
        QStringLiteral("Ascoltato solo il %1% della registrazione. Segnare comunque?");
    Opened o(10);
    FrmPlayer& p = o.p();
    p.BtiNIReg_Click();
    o.f.run(5.0);
    p.Btpause_Click();
    p.btedit_Click();
    const int heard = p.heardPercent();
    ASSERT_LT(heard, 95);

    o.f.home.boxes.answerNext(MsgAnswer::No);
    p.Check[0]->click();
    ASSERT_EQ(o.f.home.boxes.shown().size(), 1);
    EXPECT_EQ(o.f.home.boxes.last().text, question.arg(heard));
    EXPECT_EQ(o.f.home.boxes.last().buttons, MsgButtons::YesNo);
    EXPECT_FALSE(p.Check[0]->isChecked());
    EXPECT_FALSE(p.Image[0]->isVisibleTo(&p));

    o.f.home.boxes.answerNext(MsgAnswer::Yes);
    p.Check[0]->click();
    EXPECT_TRUE(p.Check[0]->isChecked());
    EXPECT_EQ(o.f.home.boxes.shown().size(), 2);
    p.Check[0]->click();  // taking the mark off asks nothing
    EXPECT_EQ(o.f.home.boxes.shown().size(), 2);
    p.btedit_Click();

    // Heard to the end: no question.
    p.BtiNIReg_Click();
    o.f.run(8.0);
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
    EXPECT_GE(p.heardPercent(), 95);
    o.f.home.boxes.clear();
    p.btedit_Click();
    p.Check[0]->click();
    EXPECT_TRUE(o.f.home.boxes.empty());
    EXPECT_TRUE(p.Check[0]->isChecked());
}

TEST(PlayerTools, PedalDrivesPlaybackAndIsFoundAgainAfterBeingUnplugged) {
    Opened o(60);
    FrmPlayer& p = o.p();
    FakePedalDevices pedals;
    pedals.listed = {PedalInfo{QStringLiteral("usb-pedal"), QStringLiteral("VEC USB Footpedal")}};
    TranscriptionSettings s = p.transcriptionSettings();
    s.pedalDevice = QStringLiteral("usb-pedal");
    p.applyTranscriptionSettings(s);
    p.setPedalDevices(&pedals);
    ASSERT_TRUE(p.pedal()->connected());
    EXPECT_EQ(pedals.lastId, QStringLiteral("usb-pedal"));
    EXPECT_TRUE(o.f.home.boxes.empty());

    // Middle: plays while held; letting go pauses, and the next play steps back.
    pedals.press(BTN_1, true);
    Deliver([&] { return p.PlaybackActive; });
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), SoundBuffer::kStatusPlaying);
    o.f.run(10.0);
    pedals.press(BTN_1, false);
    Deliver([&] { return p.Paused; });
    const double paused = Heard(p);
    EXPECT_NEAR(paused, 9.95, 0.05);
    pedals.press(BTN_1, true);
    Deliver([&] { return !p.Paused; });
    EXPECT_NEAR(Heard(p), paused - 2, 0.01);

    // Left: back by the jump, again while held; right: forward.
    const double before = Heard(p);
    pedals.press(BTN_0, true);
    Deliver([&] { return Heard(p) < before - 1; });
    EXPECT_NEAR(Heard(p), before - 3, 0.05);
    p.pedalRepeat();  // the repeat timer while it stays down
    EXPECT_NEAR(Heard(p), before - 6, 0.05);
    pedals.press(BTN_0, false);
    Settle();
    p.pedalRepeat();  // let go: no more steps
    EXPECT_NEAR(Heard(p), before - 6, 0.05);
    pedals.press(BTN_2, true);
    pedals.press(BTN_2, false);
    Deliver([&] { return Heard(p) > before - 4; });
    EXPECT_NEAR(Heard(p), before - 3, 0.05);

    // Unplugged while held: playback pauses; the pedal is looked for again.
    pedals.press(BTN_1, false);
    pedals.press(BTN_1, true);
    Deliver([&] { return !p.Paused && p.PlaybackBuffer()->GetStatus() != 0; });
    pedals.unplug();
    Deliver([&] { return !p.pedal()->connected(); });
    EXPECT_TRUE(p.Paused);
    EXPECT_TRUE(p.pedal()->retrying());
    p.pedal()->retry();  // still away
    EXPECT_FALSE(p.pedal()->connected());
    pedals.present = true;  // plugged back
    p.pedal()->retry();
    ASSERT_TRUE(p.pedal()->connected());
    EXPECT_FALSE(p.pedal()->retrying());
    pedals.press(BTN_1, true);
    Deliver([&] { return !p.Paused; });
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), SoundBuffer::kStatusPlaying);
    EXPECT_TRUE(o.f.home.boxes.empty());
}

TEST(PlayerTools, RecordedPedalSessionsFromFilesDriveThePlayer) {
    Opened o(60);
    FrmPlayer& p = o.p();
    FakePedalDevices pedals;
    // Right twice (forward 3 s twice while stopped: the start point moves), then the middle
    // held down - and the recording ends there, as an unplugged pedal does.
    pedals.sessions.push_back(Button(BTN_2, true) + Button(BTN_2, false) + Button(BTN_2, true) +
                              Button(BTN_2, false) + Button(BTN_1, true));
    // Plugged back: middle down (resume, stepping back), left down and up.
    pedals.sessions.push_back(Button(BTN_1, true) + Button(BTN_0, true) + Button(BTN_0, false));
    TranscriptionSettings s = p.transcriptionSettings();
    s.pedalDevice = QStringLiteral("usb-pedal");
    p.applyTranscriptionSettings(s);
    p.setPedalDevices(&pedals);
    Deliver([&] { return !p.pedal()->connected(); });
    EXPECT_EQ(p.HS_Cursor->value(), 6);
    EXPECT_TRUE(p.PlaybackActive);  // it played from 6 s while the middle was down...
    EXPECT_TRUE(p.Paused);          // ...and the pedal going away let go of it
    EXPECT_NEAR(Heard(p), 6, 0.1);
    EXPECT_TRUE(p.pedal()->retrying());

    p.pedal()->retry();
    Deliver([&] { return !p.pedal()->connected(); });
    // Resumed 2 s back (auto-rewind), then back by the jump; let go again at the end.
    EXPECT_NEAR(Heard(p), 6 - 2 - 3, 0.1);
    EXPECT_EQ(pedals.opens, 2);
}

TEST(PlayerTools, APedalMissingAtStartIsReportedOnceAndUsedWhenItComes) {
    Opened o(30);
    FrmPlayer& p = o.p();
    FakePedalDevices pedals;
    pedals.present = false;
    TranscriptionSettings s = p.transcriptionSettings();
    s.pedalDevice = QStringLiteral("usb-pedal");
    s.pedal = {PedalAction::None, PedalAction::PlayPause, PedalAction::InsertTimestamp};
    p.applyTranscriptionSettings(s);
    p.setPedalDevices(&pedals);
    ASSERT_EQ(o.f.home.boxes.shown().size(), 1);
    EXPECT_TRUE(o.f.home.boxes.last().text.contains(QStringLiteral("No such device")));
    p.pedal()->retry();
    EXPECT_EQ(o.f.home.boxes.shown().size(), 1);
    pedals.present = true;
    p.pedal()->retry();
    ASSERT_TRUE(p.pedal()->connected());
    p.btedit_Click();
    pedals.press(BTN_1, true);  // remapped: play and pause
    pedals.press(BTN_1, false);
    Deliver([&] { return p.PlaybackActive; });
    o.f.run(3.0);
    pedals.press(BTN_2, true);  // a time mark
    Deliver([&] { return !p.Frame2->rtfTesto()->toPlainText().isEmpty(); });
    EXPECT_EQ(p.Frame2->rtfTesto()->toPlainText(), QStringLiteral("[00:00:02] "));
    pedals.press(BTN_0, true);  // nothing
    pedals.press(BTN_1, true);
    Deliver([&] { return p.Paused; });
    EXPECT_TRUE(p.Paused);
}

TEST(PlayerTools, KeyDialogRefusesKeysThatCollideAndStoresTheChoice) {
    ScriptedMessageBoxes boxes;
    const TranscriptionSettings start = TranscriptionSettings::Defaults();
    const std::vector<PedalInfo> pedals = {
        PedalInfo{QStringLiteral("/dev/input/by-id/usb-VEC-event-if00"), QStringLiteral("VEC")}};
    TranscriptionToolsDialog dialog(boxes, start, pedals, QStringLiteral("Pedale collegato."));
    EXPECT_EQ(dialog.pedalDevice->count(), 2);  // none, and the one plugged in
    dialog.keyEdits[static_cast<size_t>(TranscriptionAction::Back)]->setKeySequence(
        QKeySequence(Qt::Key_A));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);  // still open
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("Indietro")));
    dialog.keyEdits[static_cast<size_t>(TranscriptionAction::Back)]->setKeySequence(
        QKeySequence(Qt::Key_F4));
    dialog.accept();
    EXPECT_EQ(boxes.shown().size(), 2);  // F4 already plays and pauses
    dialog.keyEdits[static_cast<size_t>(TranscriptionAction::Back)]->setKeySequence(
        QKeySequence(Qt::Key_F9));
    dialog.autoRewind->setValue(4);
    dialog.pedalDevice->setCurrentIndex(1);
    dialog.pedalButtons[0]->setCurrentIndex(static_cast<int>(PedalAction::Slower));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const TranscriptionSettings chosen = dialog.settings();
    EXPECT_EQ(chosen.key(TranscriptionAction::Back), QKeySequence(Qt::Key_F9));
    EXPECT_EQ(chosen.autoRewindSeconds, 4);
    EXPECT_EQ(chosen.pedalDevice, pedals[0].id);
    EXPECT_EQ(chosen.pedal[0], PedalAction::Slower);

    // Through the player: what the dialog gives is used and kept for the next start.
    Opened o(10);
    FrmPlayer& p = o.p();
    o.f.dialogs.toolsAnswer = chosen;
    p.CmdTasti_Click();
    EXPECT_EQ(o.f.dialogs.toolsState, QStringLiteral("Pedali non disponibili su questo sistema."));
    EXPECT_EQ(p.transcriptionSettings(), chosen);
    EXPECT_EQ(TranscriptionSettings::Load(o.f.home.context->settings), chosen);
    o.f.dialogs.toolsAnswer.reset();  // cancelled: nothing changes
    p.CmdTasti_Click();
    EXPECT_EQ(p.transcriptionSettings(), chosen);
}

// Everything the opened recording fills in can be read: no two of the window's own controls
// cover each other (labels added later once landed on top of the caller's number).
TEST(PlayerTools, NoControlCoversAnother) {
    Opened o;
    FrmPlayer& p = o.p();
    p.show();
    o.f.run(1.0);
    std::vector<QWidget*> controls;
    for (QWidget* w : p.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(&p) && (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
                                   qobject_cast<QAbstractButton*>(w) || qobject_cast<QSlider*>(w)))
            controls.push_back(w);
    }
    ASSERT_GT(controls.size(), 20u);
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " '"
                << controls[i]->property("text").toString().toStdString() << "' and "
                << controls[j]->objectName().toStdString() << " '"
                << controls[j]->property("text").toString().toStdString() << "'";
}
