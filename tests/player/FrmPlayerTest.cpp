#include "PlayerFixture.h"

#include "controls/playback/SoundBuffer.h"
#include "player/PlaybackRules.h"
#include "player/ui/TranscriptionEditor.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {
const QDateTime kStart(QDate(2003, 12, 15), QTime(10, 10, 10));
}

TEST(FrmPlayer, LoadShowsTheInitialArrangement) {
    PlayerFixture f;
    FrmPlayer& p = f.load();
    EXPECT_EQ(p.windowTitle(), QStringLiteral("Player"));
    for (QLabel* l : {p.Label1, p.LbCont, p.LbInizio, p.LbFine}) {
        EXPECT_EQ(l->text(), QStringLiteral("Selezionare un file ..."));
    }
    EXPECT_EQ(p.LbNow->text(), QStringLiteral("00/00/0000 00:00:00"));
    EXPECT_TRUE(p.BtiNIReg->isEnabled());
    for (QPushButton* b : {p.Btpause, p.BtFineReg, p.FastX5, p.FastX10, p.cmdSalva}) {
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    }
    EXPECT_EQ(p.btedit->text(), QStringLiteral("Modifica"));
    EXPECT_FALSE(p.Frame2->editable());
    EXPECT_TRUE(p.Frame2->rtfTesto()->isReadOnly());
    EXPECT_FALSE(p.Frame2->tlbStandar()->isEnabled());
    EXPECT_FALSE(p.txtUtente->isEnabled());
    EXPECT_TRUE(p.FOpener->isEnabled());
    EXPECT_EQ(p.folderPath(), f.folder);
    EXPECT_EQ(f.forms.shown, std::vector<FormId>{FormId::Mixer});
    EXPECT_TRUE(f.home.boxes.empty());

    QStringList keys, tips;
    for (QAction* a : p.Frame2->tlbStandar()->actions()) {
        keys << a->objectName();
        if (!a->isSeparator() && !a->toolTip().isEmpty() && a->toolTip() != a->text())
            tips << a->toolTip();
    }
    EXPECT_EQ(keys, (QStringList{"Stampa", "open", "save", "sep01", "copy", "cut", "paste", "spe03",
                                 "bold", "italic", "underlinee", "sep04", "aleft", "acenter",
                                 "aright", "sep05", "font", "color"}));
    EXPECT_TRUE(tips.contains(QStringLiteral("Apri File")));
    EXPECT_TRUE(tips.contains(QStringLiteral("Salva il file")));
    EXPECT_TRUE(tips.contains(QStringLiteral("Sottolineato")));
}

TEST(FrmPlayer, MissingOutputDeviceIsReportedAtLoadAndOpeningFailsInItsBufferStep) {
    PlayerFixture f;
    f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    f.home.context->playbackDevices = []() -> std::unique_ptr<PlaybackDevice> {
        throw RuntimeError(9999, QStringLiteral("nessuna uscita audio"));
    };
    f.player = std::make_unique<FrmPlayer>(*f.home.context);
    f.player->Form_Load();
    ASSERT_EQ(f.home.boxes.shown().size(), 1);
    EXPECT_EQ(f.home.boxes.last().text,
              QStringLiteral("Direct Sound non è stato inizializzato \r9999/nessuna uscita audio"));
    f.home.boxes.clear();
    f.open(QStringLiteral("20031215_101010.Ems"));
    ASSERT_EQ(f.home.boxes.shown().size(), 1);
    EXPECT_TRUE(
        f.home.boxes.last().text.startsWith(QStringLiteral("Errore di Caricamento File \r91/")));
    EXPECT_FALSE(f.player->PlaybackBuffer());
}

TEST(FrmPlayer, OpeningANewRecordingCreatesItsRowAndShowsTheFile) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 2, 3.0, kStart, 3661);
    FrmPlayer& p = f.load();
    p.txtUtente->setText(QStringLiteral("mario"));
    f.open(name);
    EXPECT_TRUE(f.home.boxes.empty()) << f.home.boxes.texts().join(u'|').toStdString();

    const auto row = f.row(name);
    ASSERT_TRUE(row);
    EXPECT_FALSE(row->letto);
    EXPECT_EQ(row->dtfile, QDate(2003, 12, 15));
    EXPECT_EQ(row->ora, QStringLiteral("10:10"));
    EXPECT_EQ(row->etichetta, QStringLiteral("Not Set"));
    EXPECT_EQ(row->user, QStringLiteral("mario"));
    EXPECT_FALSE(row->progressivo);
    EXPECT_EQ(f.forms.fakeRecorder.progressive, QStringLiteral("untouched"));  // no number to show

    EXPECT_EQ(p.Label1->text(), QStringLiteral("CASO1   "));
    EXPECT_EQ(p.LbInizio->text(), QStringLiteral("15/12/2003 10:10:10"));
    EXPECT_EQ(p.LbFine->text(), QStringLiteral("15/12/2003 11:11:11"));
    EXPECT_EQ(p.LbCont->text(), QStringLiteral("00:01:01:01"));
    EXPECT_EQ(p.LbNow->text(), QStringLiteral("15/12/2003 10:10:10"));
    EXPECT_EQ(p.lblq[0]->text(), QStringLiteral("8000"));
    EXPECT_EQ(p.lblq[1]->text(), QStringLiteral("16"));
    EXPECT_EQ(p.lblq[2]->text(), QStringLiteral("STEREO"));
    EXPECT_TRUE(p.RecordingLoaded);
    EXPECT_EQ(p.BytesPerSecond, 32000);
    EXPECT_EQ(p.BufferBytes, 96000);
    EXPECT_EQ(p.Scroller->maximum(), 3);  // from the audio, not the trailer
    EXPECT_EQ(p.HS_Cursor->maximum(), 3);
    EXPECT_EQ(p.NativeFrequencyValue, 800);
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 8000 Hz"));
    EXPECT_TRUE(p.Counter->isActive());
    for (QCheckBox* c : p.Check) EXPECT_FALSE(c->isChecked());
    // The configuration's record format is the settings dialog's, not the file's.
    EXPECT_NE(f.home.config.sampleRate, QStringLiteral("8000x"));

    // Opening it again: same display, fresh buffer at its start.
    SoundBuffer* first = p.PlaybackBuffer();
    p.BtiNIReg_Click();
    f.run(1.0);
    f.open(name);
    EXPECT_NE(p.PlaybackBuffer(), first);
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);
    EXPECT_EQ(p.LbCont->text(), QStringLiteral("00:01:01:01"));
}

TEST(FrmPlayer, StoredRowFillsMarksUserNumberAndFormattedText) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20240131_142305.Ems"), 8000, 8, 1, 1.0, kStart, 1);
    f.home.context->settings.save(QStringLiteral("progressivo"), QStringLiteral("41"));
    CatalogueStore& catalogue = *f.home.catalogue;
    ASSERT_EQ(catalogue.recorderInsert(name, f.home.context->settings), 42);
    catalogue.playerSave(
        name, PlayerMarks{true, false, true, QStringLiteral("{\\rtf1 {\\b forte} piano}")},
        QStringLiteral("Not Set"), QStringLiteral("anna"));
    FrmPlayer& p = f.load();
    f.open(name);
    EXPECT_TRUE(p.Check[0]->isChecked());
    EXPECT_FALSE(p.Check[1]->isChecked());
    EXPECT_TRUE(p.Check[2]->isChecked());
    EXPECT_TRUE(p.Image[0]->isVisibleTo(&p));
    EXPECT_FALSE(p.Image[1]->isVisibleTo(&p));
    EXPECT_EQ(p.txtUtente->text(), QStringLiteral("anna"));
    EXPECT_EQ(f.forms.fakeRecorder.progressive, QStringLiteral("42"));
    EXPECT_EQ(p.Frame2->rtfTesto()->toPlainText(), QStringLiteral("forte piano"));
    QTextCursor c(p.Frame2->rtfTesto()->document());
    c.setPosition(1);
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(p.lblq[2]->text(), QStringLiteral("MONO"));
}

TEST(FrmPlayer, BrokenFilesOpenWithAClearMessageAndNoCrash) {
    PlayerFixture f;
    // A wave file without trailer: opens, says so, takes its duration from the audio.
    WriteBytes(QDir(f.folder).filePath(QStringLiteral("20240101_000000.Ems")),
               ToneWave(8000, 16, 1, 2.0, 440));
    // Shorter than a trailer.
    WriteBytes(QDir(f.folder).filePath(QStringLiteral("20240101_000001.Ems")), QByteArray("RIFF"));
    // A trailer whose dates are no dates.
    QByteArray bad = ToneWave(8000, 16, 1, 1.0, 440);
    bad += QByteArray("CASO1   31/02/2024 25:61:00xx/yy/zzzz aa:bb:cc\r\n");
    WriteBytes(QDir(f.folder).filePath(QStringLiteral("20240101_000002.Ems")), bad);
    FrmPlayer& p = f.load();

    f.open(QStringLiteral("20240101_000000.Ems"));
    ASSERT_EQ(f.home.boxes.shown().size(), 1);
    EXPECT_TRUE(f.home.boxes.last().text.contains(QStringLiteral("non contiene")));
    EXPECT_TRUE(p.RecordingLoaded);
    EXPECT_EQ(p.LbCont->text(), QStringLiteral("00:00:00:02"));
    EXPECT_EQ(p.LbInizio->text(), QString());

    f.home.boxes.clear();
    f.open(QStringLiteral("20240101_000001.Ems"));
    ASSERT_EQ(f.home.boxes.shown().size(), 2);  // the missing trailer, then the media error
    EXPECT_EQ(f.home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_FALSE(f.home.boxes.last().text.isEmpty());
    // The previous opening's buffer stays playable.
    EXPECT_EQ(p.BufferBytes, 32000);

    f.home.boxes.clear();
    f.open(QStringLiteral("20240101_000002.Ems"));
    ASSERT_GE(f.home.boxes.shown().size(), 1);
    EXPECT_TRUE(f.home.boxes.shown().front().text.contains(QStringLiteral("non contiene")));
    EXPECT_EQ(p.BufferBytes, 16000);
}

TEST(FrmPlayer, PlayPauseResumeStopFollowTheBuffer) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 11025, 16, 1, 20.0, kStart, 20);
    // The transport exactly as it always was: no step back on resume.
    f.home.context->settings.save(QStringLiteral("AutoRewind"), QStringLiteral("0"));
    FrmPlayer& p = f.load();

    p.BtiNIReg_Click();  // nothing opened yet
    EXPECT_EQ(f.home.boxes.texts(), QStringList{QStringLiteral("Selezionare prima il file")});
    f.home.boxes.clear();
    f.open(name);
    EXPECT_EQ(p.BytesPerSecond, 22050);

    p.HS_Cursor->setValue(10);
    p.BtiNIReg_Click();
    EXPECT_TRUE(p.PlaybackActive);
    EXPECT_TRUE(p.FastX10->isEnabled());
    EXPECT_TRUE(p.FastX5->isEnabled());
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 220000);  // 10 s -> 220 000
    f.run(2.0);
    EXPECT_FALSE(p.BtiNIReg->isEnabled());
    EXPECT_TRUE(p.BtFineReg->isEnabled());
    EXPECT_TRUE(p.Btpause->isEnabled());
    EXPECT_EQ(p.Scroller->value(), 12);
    EXPECT_EQ(p.LbNow->text(), QStringLiteral("15/12/2003 10:10:22"));

    p.Btpause_Click();
    const auto paused = p.PlaybackBuffer()->GetCurrentPosition();
    f.run(1.0);
    EXPECT_TRUE(p.Paused);
    EXPECT_TRUE(p.BtiNIReg->isEnabled());
    EXPECT_TRUE(p.Btpause->isEnabled());
    EXPECT_FALSE(p.BtFineReg->isEnabled());
    EXPECT_FALSE(p.Counter->isActive());
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), paused);

    p.BtiNIReg_Click();  // resumes where it paused
    EXPECT_FALSE(p.Paused);
    f.run(1.0);
    // One second on the clock, less the 0.05 s the output holds before it is heard.
    EXPECT_NEAR(static_cast<double>(p.PlaybackBuffer()->GetCurrentPosition()),
                paused + 0.95 * 22050, 800);

    p.BtFineReg_Click();
    EXPECT_FALSE(p.PlaybackActive);
    EXPECT_EQ(p.Scroller->value(), 0);
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);

    // Pause, stop, play: starts at the beginning.
    p.BtiNIReg_Click();
    f.run(1.0);
    p.Btpause_Click();
    p.BtFineReg_Click();
    p.BtiNIReg_Click();
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);

    // The start point on the last second starts one second earlier.
    p.BtFineReg_Click();
    p.Paused = false;
    p.HS_Cursor->setValue(p.Scroller->maximum());
    p.BtiNIReg_Click();
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(19, 22050));
    f.run(2.0);  // plays to the end and stops by itself
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
    EXPECT_TRUE(p.BtiNIReg->isEnabled());
    EXPECT_EQ(p.Scroller->value(), 0);
}

TEST(FrmPlayer, PlayDoesNothingWhileTheRecorderIsBusy) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 2.0, kStart, 2);
    FrmPlayer& p = f.load();
    f.open(name);
    f.forms.fakeRecorder.recordEnabled = false;
    p.BtiNIReg_Click();
    EXPECT_FALSE(p.PlaybackActive);
    EXPECT_TRUE(f.home.boxes.empty());
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
}

TEST(FrmPlayer, PositionSliderPlaysFromWhereItIsLeftAndCountsAsPlaying) {
    PlayerFixture f;
    // 9.6 s: the slider's last second lies past the last byte.
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 11025, 16, 1, 9.6, kStart, 10);
    FrmPlayer& p = f.load();

    p.Scroller->setValue(3);
    p.Scroller_Scroll();  // nothing opened
    EXPECT_EQ(p.Scroller->value(), 0);
    EXPECT_EQ(f.home.boxes.texts(), QStringList{QStringLiteral("Selezionare prima il file")});

    f.open(name);
    p.Scroller_MouseDown();
    p.Scroller->setValue(5);
    p.Scroller_Scroll();
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 110000);
    p.Scroller->setValue(10);
    p.Scroller_Scroll();  // past the end: the last byte (frame-aligned)
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), p.BufferBytes - 2);
    p.Scroller->setValue(5);
    p.Scroller_Scroll();
    p.Scroller_MouseUp();
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), SoundBuffer::kStatusPlaying);
    EXPECT_TRUE(p.PlaybackActive);
    p.BtFineReg_Click();  // so Stop stops it
    EXPECT_EQ(p.PlaybackBuffer()->GetStatus(), 0);
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);
}

TEST(FrmPlayer, DigitKeysJumpBackWhilePlaying) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 30.0, kStart, 30);
    FrmPlayer& p = f.load();
    f.open(name);
    p.rewindByDigitKey(51);  // not playing: nothing
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), 0);
    p.HS_Cursor->setValue(20);
    p.BtiNIReg_Click();
    f.run(0.5);
    ASSERT_EQ(p.Scroller->value(), 20);
    p.rewindByDigitKey(51);  // '3'
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(17, 16000));
    p.rewindByDigitKey(105);  // keypad '9'
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(11, 16000));
    p.rewindByDigitKey(65);  // not a digit
    EXPECT_EQ(p.PlaybackBuffer()->GetCurrentPosition(), BytesForSeconds(11, 16000));
}

TEST(FrmPlayer, FastButtonsAndFrequencyScrollBar) {
    PlayerFixture f;
    f.addRecording(QStringLiteral("a22050.Ems"), 22050, 8, 1, 2.0, kStart, 2);
    f.addRecording(QStringLiteral("b44100.Ems"), 44100, 16, 1, 1.0, kStart, 1);
    f.addRecording(QStringLiteral("c16000.Ems"), 16000, 16, 1, 1.0, kStart, 1);
    f.addRecording(QStringLiteral("d11025.Ems"), 11025, 8, 1, 1.0, kStart, 1);
    f.addRecording(QStringLiteral("e11025.Ems"), 11025, 16, 1, 1.0, kStart, 1);
    f.addRecording(QStringLiteral("f8000.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    FrmPlayer& p = f.load();

    p.FastX10_MouseDown();
    EXPECT_EQ(f.home.boxes.texts(), QStringList{QStringLiteral("Selezionare prima il file")});
    p.FastX10_MouseUp();
    EXPECT_EQ(f.home.boxes.shown().size(), 1);

    f.open(QStringLiteral("a22050.Ems"));
    EXPECT_EQ(p.BytesPerSecond, 22050);
    p.FastX10_MouseDown();
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 88200 Hz"));
    EXPECT_EQ(p.HS_Frequenz->value(), 2205);  // the scroll bar does not move
    p.FastX10_MouseUp();
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 22050 Hz"));
    p.FastX5_MouseDown();
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 66150);
    p.FastX5_MouseUp();

    f.open(QStringLiteral("b44100.Ems"));
    p.FastX10_MouseDown();
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 99666 Hz"));
    p.FastX10_MouseUp();
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 44100 Hz"));

    f.open(QStringLiteral("c16000.Ems"));
    p.FastX10_MouseDown();
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 16000 Hz"));
    p.FastX10_MouseUp();
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 16000);

    // The scroll bar in tens of hertz, and the reset.
    p.HS_Frequenz->setValue(500);
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 5000 Hz"));
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 5000);
    p.CmdResetVel_Click();
    EXPECT_EQ(p.HS_Frequenz->value(), 1600);
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 16000);

    // An 11 025 Hz file after another rate plays at 11 020 Hz; a second one keeps 11 025.
    f.open(QStringLiteral("d11025.Ems"));
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 11020);
    f.open(QStringLiteral("e11025.Ems"));
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 11025);

    // A press capped at the highest frequency still gives the chosen frequency back.
    f.open(QStringLiteral("f8000.Ems"));
    p.HS_Frequenz->setValue(2000);
    p.FastX10_MouseDown();
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 100000);
    p.FastX10_MouseUp();
    EXPECT_EQ(p.PlaybackBuffer()->GetFrequency(), 20000);
    EXPECT_EQ(p.lbl_Frequenz->text(), QStringLiteral("Frequenz: 20000 Hz"));
}

TEST(FrmPlayer, EditSaveAndCancel) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    f.home.context->settings.save(QStringLiteral("etichetta"), QStringLiteral("Indagine 7"));
    FrmPlayer& p = f.load();
    f.open(name);

    // Modifica, change, Annulla: nothing stored.
    p.btedit_Click();
    EXPECT_EQ(p.btedit->text(), QStringLiteral("Annulla"));
    EXPECT_TRUE(p.cmdSalva->isEnabled());
    EXPECT_TRUE(p.saveButtonEnabled());
    EXPECT_TRUE(p.Frame2->editable());
    EXPECT_FALSE(p.Frame2->rtfTesto()->isReadOnly());
    EXPECT_FALSE(p.FOpener->isEnabled());
    f.home.boxes.answerNext(MsgAnswer::Yes);  // marked though not heard
    p.Check[0]->click();
    EXPECT_TRUE(p.Image[0]->isVisibleTo(&p));
    p.Frame2->rtfTesto()->setPlainText(QStringLiteral("bozza"));
    p.btedit_Click();
    EXPECT_EQ(p.btedit->text(), QStringLiteral("Modifica"));
    EXPECT_FALSE(p.cmdSalva->isEnabled());
    EXPECT_TRUE(p.FOpener->isEnabled());
    auto row = f.row(name);
    ASSERT_TRUE(row);
    EXPECT_FALSE(row->letto);
    EXPECT_FALSE(row->traduzione);

    // Reopening shows the stored state again.
    f.open(name);
    EXPECT_FALSE(p.Check[0]->isChecked());
    EXPECT_TRUE(p.Frame2->rtfTesto()->toPlainText().isEmpty());

    // Modifica, Ascoltato, formatted text, Salva.
    p.btedit_Click();
    f.home.boxes.answerNext(MsgAnswer::Yes);
    p.Check[0]->click();
    p.txtUtente->setText(QStringLiteral("luca"));
    QTextEdit* editor = p.Frame2->rtfTesto();
    editor->setPlainText(QStringLiteral("Parla Rossi"));
    QTextCursor c = editor->textCursor();
    c.setPosition(6);
    c.setPosition(11, QTextCursor::KeepAnchor);
    editor->setTextCursor(c);
    p.Frame2->tlbStandar_ButtonClick(QStringLiteral("bold"));
    p.cmdSalva_Click();
    EXPECT_FALSE(p.saveButtonEnabled());
    EXPECT_EQ(p.btedit->text(), QStringLiteral("Modifica"));
    row = f.row(name);
    EXPECT_TRUE(row->letto);
    EXPECT_FALSE(row->scritto);
    EXPECT_EQ(row->user, QStringLiteral("luca"));
    EXPECT_EQ(row->etichetta, QStringLiteral("Indagine 7"));
    ASSERT_TRUE(row->traduzione);
    EXPECT_TRUE(row->traduzione->startsWith(QStringLiteral("{\\rtf1")));
    EXPECT_TRUE(row->traduzione->contains(QStringLiteral("\\b Rossi")));

    // Saving an empty editor stores an empty rich-text document, not a missing value.
    p.btedit_Click();
    editor->clear();
    p.cmdSalva_Click();
    row = f.row(name);
    ASSERT_TRUE(row->traduzione);
    EXPECT_TRUE(row->traduzione->startsWith(QStringLiteral("{\\rtf1")));
}

TEST(FrmPlayer, NamesWithQuotesAreLookedUpSafely) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20240131_142305 l'altro.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    FrmPlayer& p = f.load();
    f.open(name);
    EXPECT_TRUE(f.home.boxes.empty()) << f.home.boxes.texts().join(u'|').toStdString();
    p.btedit_Click();
    p.Check[1]->click();
    p.cmdSalva_Click();
    const auto row = f.row(name);
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->scritto);
}

TEST(FrmPlayer, ClosingWithUnsavedTextIsRefusedOtherwiseItEndsTheProgram) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 3.0, kStart, 3);
    FrmPlayer& p = f.load();
    f.open(name);
    p.BtiNIReg_Click();
    p.btedit_Click();
    QCloseEvent refused;
    QApplication::sendEvent(&p, &refused);
    EXPECT_FALSE(refused.isAccepted());
    EXPECT_EQ(f.home.boxes.last().text,
              QStringLiteral("Salvare le modifiche Prima Di Uscire Dal Programma"));
    EXPECT_EQ(f.home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_FALSE(f.home.process.ended());
    EXPECT_TRUE(p.PlaybackActive);

    p.btedit_Click();
    QCloseEvent accepted;
    QApplication::sendEvent(&p, &accepted);
    EXPECT_TRUE(accepted.isAccepted());
    EXPECT_TRUE(f.home.process.ended());
    EXPECT_FALSE(p.PlaybackActive);
    // The recorder closes (saving a running recording) before anything else.
    ASSERT_FALSE(f.forms.unloaded.empty());
    EXPECT_EQ(f.forms.unloaded.front(), FormId::Recorder);
}

TEST(TranscriptionEditor, ToolbarCommands) {
    PlayerFixture f;
    FrmPlayer& p = f.load();
    TranscriptionEditor& e = *p.Frame2;
    QTextEdit* text = e.rtfTesto();
    text->setPlainText(QStringLiteral("uno due tre"));

    // Cut with nothing selected: an empty clipboard text, nothing removed.
    QApplication::clipboard()->setText(QStringLiteral("prima"));
    QTextCursor c = text->textCursor();
    c.setPosition(3);
    text->setTextCursor(c);
    e.tlbStandar_ButtonClick(QStringLiteral("cut"));
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
    EXPECT_EQ(text->toPlainText(), QStringLiteral("uno due tre"));

    // Cut and paste a selection.
    c.setPosition(4);
    c.setPosition(8, QTextCursor::KeepAnchor);
    text->setTextCursor(c);
    e.tlbStandar_ButtonClick(QStringLiteral("cut"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("due "));
    EXPECT_EQ(text->toPlainText(), QStringLiteral("uno tre"));
    c = text->textCursor();
    c.movePosition(QTextCursor::End);
    text->setTextCursor(c);
    e.tlbStandar_ButtonClick(QStringLiteral("paste"));
    EXPECT_EQ(text->toPlainText(), QStringLiteral("uno tredue "));

    // Bold over a mixed selection makes it all bold; again makes it all plain.
    c.setPosition(0);
    c.setPosition(3, QTextCursor::KeepAnchor);
    text->setTextCursor(c);
    e.tlbStandar_ButtonClick(QStringLiteral("bold"));
    EXPECT_TRUE(e.button(QStringLiteral("bold"))->isChecked());
    c.setPosition(0);
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    text->setTextCursor(c);
    EXPECT_FALSE(e.button(QStringLiteral("bold"))->isChecked());  // mixed
    e.tlbStandar_ButtonClick(QStringLiteral("bold"));
    EXPECT_TRUE(e.button(QStringLiteral("bold"))->isChecked());
    e.tlbStandar_ButtonClick(QStringLiteral("bold"));
    EXPECT_FALSE(e.button(QStringLiteral("bold"))->isChecked());
    e.tlbStandar_ButtonClick(QStringLiteral("underlinee"));
    EXPECT_TRUE(e.button(QStringLiteral("underlinee"))->isChecked());
    e.tlbStandar_ButtonClick(QStringLiteral("acenter"));
    EXPECT_TRUE(text->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter);
    f.dialogs.colorAnswer = QColor(0, 128, 0);
    e.tlbStandar_ButtonClick(QStringLiteral("color"));
    EXPECT_EQ(text->textCursor().charFormat().foreground().color(), QColor(0, 128, 0));

    // Saving under a .txt name writes rich text; opening a plain file loads it as text.
    const QString saved = f.home.path(QStringLiteral("nota.txt"));
    f.dialogs.names = {saved};
    e.tlbStandar_ButtonClick(QStringLiteral("save"));
    EXPECT_EQ(f.dialogs.titles.last(), QStringLiteral("Salva file con nome..."));
    QFile out(saved);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_TRUE(out.readAll().startsWith("{\\rtf1"));
    const QString plain = f.home.path(QStringLiteral("plain.txt"));
    WriteBytes(plain, "riga uno\nriga due");
    f.dialogs.names = {plain};
    e.tlbStandar_ButtonClick(QStringLiteral("open"));
    EXPECT_EQ(f.dialogs.titles.last(), QStringLiteral("Apri file..."));
    EXPECT_EQ(text->toPlainText(), QStringLiteral("riga uno\nriga due"));
    f.dialogs.names = {QString()};  // cancelled: nothing changes
    e.tlbStandar_ButtonClick(QStringLiteral("open"));
    EXPECT_EQ(text->toPlainText(), QStringLiteral("riga uno\nriga due"));
    // A file that cannot be written is reported, not silently lost.
    f.dialogs.names = {f.home.path(QStringLiteral("missing/dir/x.rtf"))};
    e.tlbStandar_ButtonClick(QStringLiteral("save"));
    EXPECT_EQ(f.home.boxes.last().icon, MsgIcon::Critical);

    // Printing sends the selection, or everything without one.
    c = text->textCursor();
    c.clearSelection();
    text->setTextCursor(c);
    e.tlbStandar_ButtonClick(QStringLiteral("Stampa"));
    EXPECT_EQ(f.dialogs.printed, QStringLiteral("riga uno\nriga due"));
}

TEST(FrmPlayer, PointedAgainAtItsOwnFolderKeepsMarksAndUnsavedText) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 2.0, kStart, 2);
    FrmPlayer& p = f.load();
    f.open(name);
    p.btedit_Click();
    f.home.boxes.setDefaultAnswer(MsgAnswer::Yes);
    p.Check[0]->click();
    p.Check[2]->click();
    p.Frame2->rtfTesto()->setPlainText(QStringLiteral("trascrizione in corso"));

    // The recorder saves another call meanwhile and points the player at the folder again;
    // so does the settings dialog when it closes.
    f.addRecording(QStringLiteral("20031215_111111.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    p.setFolderPath(f.folder);
    p.setFolderPath(f.folder + u'/');
    EXPECT_TRUE(p.Check[0]->isChecked());
    EXPECT_TRUE(p.Check[2]->isChecked());
    EXPECT_TRUE(p.Image[0]->isVisibleTo(&p));
    EXPECT_EQ(p.Frame2->rtfTesto()->toPlainText(), QStringLiteral("trascrizione in corso"));
    EXPECT_EQ(p.FOpener->count(), 2);  // the new recording is listed
    EXPECT_EQ(p.FOpener->currentItem()->text(), name);
    p.cmdSalva_Click();
    const auto row = f.row(name);
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->letto);
    EXPECT_TRUE(row->tradotto);

    // Another folder is another set of recordings: the boxes clear, as they always did.
    const QString other = QDir(f.folder).filePath(QStringLiteral("altra"));
    QDir().mkpath(other);
    p.setFolderPath(other);
    EXPECT_FALSE(p.Check[0]->isChecked());
}

TEST(FrmPlayer, SavingARowThatIsGoneSaysSoAndKeepsTheText) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    FrmPlayer& p = f.load();
    f.open(name);
    p.btedit_Click();
    p.Frame2->rtfTesto()->setPlainText(QStringLiteral("da non perdere"));
    // "Fine Servizio" empties the catalogue while the operator writes.
    f.home.catalogue->archiveAndEmpty(f.home.path(QStringLiteral("arch.mdb")));
    p.cmdSalva_Click();
    ASSERT_EQ(f.home.boxes.shown().size(), 1);
    EXPECT_TRUE(f.home.boxes.last().text.contains(QStringLiteral("non è più nel catalogo")));
    EXPECT_TRUE(f.home.boxes.last().text.contains(name));
    // Still editing, the text still there, to be saved to a file.
    EXPECT_TRUE(p.saveButtonEnabled());
    EXPECT_TRUE(p.Frame2->editable());
    EXPECT_EQ(p.Frame2->rtfTesto()->toPlainText(), QStringLiteral("da non perdere"));
    EXPECT_FALSE(f.row(name));
}

TEST(FrmPlayer, StoredTextWithEditingOffIsReadableInTheNormalColour) {
    PlayerFixture f;
    const QString name =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    f.home.catalogue->playerInsert(name, QStringLiteral("Not Set"), QString());
    f.home.catalogue->playerSave(
        name,
        PlayerMarks{false, false, false,
                    QStringLiteral("{\\rtf1 MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM\\par}")},
        QStringLiteral("Not Set"), QString());
    FrmPlayer& p = f.load();
    f.open(name);
    p.resize(1000, 640);
    p.show();
    QTextEdit* editor = p.Frame2->rtfTesto();
    EXPECT_TRUE(editor->isEnabled());
    EXPECT_TRUE(editor->isReadOnly());
    const QImage shot = editor->viewport()->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < std::min(shot.height(), 40); ++y) {
        for (int x = 0; x < std::min(shot.width(), 300); ++x)
            darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    }
    const int normal = qGray(editor->palette().color(QPalette::Active, QPalette::Text).rgb());
    EXPECT_LE(darkest, normal + 40);  // drawn in the text colour, not the pale disabled one
}

TEST(TranscriptionEditor, ManyFormattingRunsAreBuiltApartFromTheShownText) {
    PlayerFixture f;
    FrmPlayer& p = f.load();
    QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 ";
    for (int i = 0; i < 2000; ++i) rtf += (i % 2 ? "{\\b parola} " : "{\\i altra} ");
    rtf += "\\par}";
    int changes = 0;
    QObject::connect(p.Frame2->rtfTesto(), &QTextEdit::textChanged, [&] { ++changes; });
    p.Frame2->setTextRtf(rtf);
    // The editor sees the finished text once, not each of the 2000 runs as it is read.
    EXPECT_LE(changes, 2);
    QTextEdit* editor = p.Frame2->rtfTesto();
    EXPECT_TRUE(editor->toPlainText().startsWith(QStringLiteral("altra parola altra")));
    QTextCursor c(editor->document());
    c.setPosition(8);
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
    c.setPosition(2);
    EXPECT_TRUE(c.charFormat().fontItalic());
    EXPECT_TRUE(editor->isReadOnly());  // a new text keeps the editing mode
    // Typing and undo work on the new text.
    p.btedit_Click();
    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(QStringLiteral("fine"));
    EXPECT_TRUE(editor->toPlainText().endsWith(QStringLiteral("fine")));
    editor->undo();
    EXPECT_FALSE(editor->toPlainText().endsWith(QStringLiteral("fine")));
}

TEST(FrmPlayer, ARecordingWithoutTextStartsInPlainText) {
    PlayerFixture f;
    const QString bold =
        f.addRecording(QStringLiteral("20031215_101010.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    const QString empty =
        f.addRecording(QStringLiteral("20031215_111111.Ems"), 8000, 16, 1, 1.0, kStart, 1);
    CatalogueStore& catalogue = *f.home.catalogue;
    catalogue.playerInsert(bold, QStringLiteral("Not Set"), QString());
    catalogue.playerSave(
        bold, PlayerMarks{false, false, false, QStringLiteral("{\\rtf1 {\\b Titolo}\\par}")},
        QStringLiteral("Not Set"), QString());
    FrmPlayer& p = f.load();
    f.open(bold);
    f.open(empty);
    p.btedit_Click();
    QTextEdit* editor = p.Frame2->rtfTesto();
    editor->insertPlainText(QStringLiteral("nuovo"));
    QTextCursor c(editor->document());
    c.setPosition(2);
    // The last opening's formatting does not carry over into the next transcription.
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Normal);
    EXPECT_FALSE(p.Frame2->button(QStringLiteral("bold"))->isChecked());
}
