#include "SettingsTestRig.h"

#include "app/RuntimeError.h"
#include "recorder/Catalogue.h"
#include "settings/ui/CfrmSettingsWp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

const QString kRetry = QStringLiteral("\r\nVuoi riprovare?");

class SettingsDialog : public ::testing::Test {
protected:
    std::unique_ptr<CfrmSettingsWp> open() {
        auto dialog = std::make_unique<CfrmSettingsWp>(rig.ctx());
        dialog->SetTapiControl(*rig.tapi);
        dialog->SetWaveControl(*rig.wave);
        dialog->Form_Load();
        return dialog;
    }
    // Every choice the OK questions look for.
    void storeCompleteChoices() {
        rig.store(QStringLiteral("Line Device"), QStringLiteral("Line B"));
        rig.store(QStringLiteral("Sound Card Output"), QStringLiteral("1"));
        rig.store(QStringLiteral("Sound Card Input"), QStringLiteral("0"));
        rig.store(QStringLiteral("Record Format"), QStringLiteral("8"));
    }
    SettingsRig rig;
};

}  // namespace

TEST_F(SettingsDialog, FirstUseWithNothingStored) {
    auto dialog = open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Parametri"));
    EXPECT_EQ(dialog->ComboLineName()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboLineName()->placeholderText(),
              QStringLiteral("Select telephony line device"));
    EXPECT_EQ(dialog->ComboSoundCardOut()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboSoundCardIn()->placeholderText(), QStringLiteral("Select Sound Card"));
    EXPECT_EQ(dialog->ComboRecordFormat()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboRecordFormat()->placeholderText(),
              QStringLiteral("Select Record Wave Format"));
    EXPECT_EQ(dialog->ComboRecordFormat()->count(), 8);
    EXPECT_EQ(dialog->ComboRecordFormat()->itemText(6), QStringLiteral("44100Hz 8 bit"));
    EXPECT_EQ(dialog->ComboRecordFormat()->itemData(7).toInt(), 128);
    EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), QStringLiteral("2"));
    EXPECT_TRUE(dialog->CheckAutoAnswer()->isChecked());
    EXPECT_TRUE(dialog->TextRingsBeforeAnswer()->isEnabled());
    EXPECT_FALSE(dialog->CheckRecall()->isChecked());
    EXPECT_EQ(dialog->ComboFolder()->currentText(), QStringLiteral("600"));
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), QStringLiteral("Tapi Ver 0.0"));
    // The stored 7 seconds lies below the slider's range: it starts at its minimum.
    EXPECT_EQ(dialog->Slider1()->value(), 15);
    EXPECT_EQ(dialog->Txtrecall()->text(), QStringLiteral("15"));
    EXPECT_TRUE(dialog->OptionWaveDevice(1)->isChecked());
    EXPECT_FALSE(dialog->txtParm(1)->isEnabled());
    EXPECT_EQ(dialog->Combo1(0)->currentText(), QStringLiteral("11025"));
    EXPECT_TRUE(rig.recorder->telephoneEnabled);
    EXPECT_TRUE(rig.home.boxes.empty());
    EXPECT_EQ(rig.setting(QStringLiteral("Line Device")), QStringLiteral("<absent>"));
    EXPECT_EQ(rig.setting(QStringLiteral("Sound Card Output")), QStringLiteral("<absent>"));
}

TEST_F(SettingsDialog, StoredChoicesAreSelectedAndTheLineClosed) {
    storeCompleteChoices();
    rig.wave->setVoxHoldMs(12500);
    rig.tapi->setLineName(QStringLiteral("Line A"));
    rig.tapi->setLineOpen(true);
    auto dialog = open();
    // Offered lines only, in device order.
    ASSERT_EQ(dialog->ComboLineName()->count(), 2);
    EXPECT_EQ(dialog->ComboLineName()->itemText(1), QStringLiteral("Line B"));
    EXPECT_EQ(dialog->ComboLineName()->currentIndex(), 1);
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), QStringLiteral("TAPI V3.0"));
    EXPECT_EQ(rig.tapi->lineName(), QStringLiteral("Line B"));
    EXPECT_FALSE(rig.tapi->lineOpen()) << "the line stays closed while the dialog is open";
    EXPECT_EQ(dialog->ComboSoundCardOut()->currentText(), QStringLiteral("Card Out 2"));
    EXPECT_EQ(dialog->ComboSoundCardIn()->currentText(), QStringLiteral("Card In 1"));
    EXPECT_EQ(dialog->ComboRecordFormat()->currentText(), QStringLiteral("11025 Hz 16 bit"));
    EXPECT_EQ(rig.mixer.timeVox, QList<int>{12}) << "12.5 s rounds to the even 12";

    // Choosing stores at once, before any OK.
    dialog->ComboLineName()->setCurrentIndex(0);
    EXPECT_EQ(rig.setting(QStringLiteral("Line Device")), QStringLiteral("Line A"));
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), QStringLiteral("TAPI V2.1"));
    dialog->ComboSoundCardIn()->setCurrentIndex(1);
    EXPECT_EQ(rig.setting(QStringLiteral("Sound Card Input")), QStringLiteral("1"));
    dialog->ComboRecordFormat()->setCurrentIndex(7);
    EXPECT_EQ(rig.setting(QStringLiteral("Record Format")), QStringLiteral("128"));
    dialog->cmdCancel_Click();
    EXPECT_EQ(rig.setting(QStringLiteral("Record Format")), QStringLiteral("128"));
    EXPECT_FALSE(rig.tapi->lineOpen()) << "Annulla leaves the line closed";
}

TEST_F(SettingsDialog, StoredChoicesThatAreNotListedSelectNothing) {
    rig.store(QStringLiteral("Line Device"), QStringLiteral("Fax Only"));  // no automated voice
    rig.store(QStringLiteral("Sound Card Input"), QStringLiteral("2"));    // only two inputs
    rig.store(QStringLiteral("Sound Card Output"), QStringLiteral("x"));
    rig.store(QStringLiteral("Record Format"), QStringLiteral("3"));
    rig.line.list[2].apiVersion = 0;  // "Line B" is not offered either
    auto dialog = open();
    EXPECT_EQ(dialog->ComboLineName()->count(), 1);
    EXPECT_EQ(dialog->ComboLineName()->findText(QStringLiteral("Fax Only")), -1);
    EXPECT_EQ(dialog->ComboLineName()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboSoundCardIn()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboSoundCardOut()->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboRecordFormat()->currentIndex(), -1);
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), QStringLiteral("Tapi Ver 0.0"));
}

TEST_F(SettingsDialog, OkWithoutALineAnsweredNo) {
    auto dialog = open();
    dialog->TextTelephoneNumber()->setText(QStringLiteral("0612345"));
    dialog->CheckRecall()->setChecked(true);
    dialog->Combo1(0)->setEditText(QStringLiteral("22050"));
    dialog->ComboFolder()->setEditText(QStringLiteral("4600"));
    rig.home.boxes.answerNext(MsgAnswer::No);
    dialog->CommandOk_Click();

    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    const auto& box = rig.home.boxes.last();
    EXPECT_EQ(box.text,
              QStringLiteral("Non è stata selezionata nessuna periferica telefonica.") + kRetry);
    EXPECT_EQ(box.title, QStringLiteral("Error"));
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.icon, MsgIcon::Critical);
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_EQ(rig.ini(QStringLiteral("PARAMETRI"), QStringLiteral("QUALITA")),
              QStringLiteral("22050"));
    EXPECT_EQ(rig.ini(QStringLiteral("PATH"), QStringLiteral("NOME")), QStringLiteral("Quendral"));
    EXPECT_EQ(rig.ini(QStringLiteral("PATH"), QStringLiteral("FOLDER")), QStringLiteral("1"));
    EXPECT_EQ(rig.home.config.sampleRate, QStringLiteral("22050"));
    EXPECT_EQ(rig.setting(QStringLiteral("Telephone Number")), QStringLiteral("0612345"));
    EXPECT_EQ(rig.setting(QStringLiteral("Recall")), QStringLiteral("1"));
    EXPECT_EQ(rig.setting(QStringLiteral("DimFolder")), QStringLiteral("4600"));
    EXPECT_EQ(rig.setting(QStringLiteral("etichetta")), QStringLiteral("Quendral"));
    EXPECT_EQ(rig.setting(QStringLiteral("TimeRecall")), QStringLiteral("15"));
    EXPECT_EQ(rig.setting(QStringLiteral("Rings Before Answer")), QStringLiteral("2"));
    EXPECT_EQ(rig.line.openAttempts, 0) << "the line is not reopened";
    // The unload still makes the recordings folder and shows it in the player.
    EXPECT_EQ(rig.home.config.recFolder, QStringLiteral("Quendral/1"));
    EXPECT_TRUE(QDir(rig.home.config.recordingsFolder()).exists());
    EXPECT_EQ(rig.player.folder, rig.home.config.recordingsFolder());
    EXPECT_EQ(rig.player.refreshes, 1);
}

TEST_F(SettingsDialog, OkAsksTheFourQuestionsInOrder) {
    rig.store(QStringLiteral("Line Device"), QStringLiteral("Line A"));
    auto dialog = open();
    rig.home.boxes.setDefaultAnswer(MsgAnswer::No);
    dialog->CommandOk_Click();
    EXPECT_EQ(
        rig.home.boxes.texts(),
        (QStringList{
            QStringLiteral("Non è stata selezionata nessuna periferica audio in uscita.") + kRetry,
            QStringLiteral("Non è stata selezionata nessuna periferica audio in ingresso.") +
                kRetry,
            QStringLiteral("Non è stato selezionato nessun formato wave.") + kRetry}));
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_TRUE(rig.tapi->lineOpen()) << "the line is opened again with the stored device";
    EXPECT_EQ(rig.tapi->lineName(), QStringLiteral("Line A"));
    EXPECT_EQ(rig.tapi->callPrivilege(), 4);
}

TEST_F(SettingsDialog, AnsweringYesKeepsTheDialogOpen) {
    rig.store(QStringLiteral("Line Device"), QStringLiteral("Line A"));
    rig.store(QStringLiteral("Sound Card Output"), QStringLiteral("0"));
    auto dialog = open();
    rig.home.boxes.answerNext(MsgAnswer::Yes);
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.home.boxes.texts(),
              QStringList{
                  QStringLiteral("Non è stata selezionata nessuna periferica audio in ingresso.") +
                  kRetry});
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.line.openAttempts, 0);
    // Choosing the missing input and pressing OK again goes through to the last question.
    dialog->ComboSoundCardIn()->setCurrentIndex(0);
    rig.home.boxes.clear();
    rig.home.boxes.answerNext(MsgAnswer::No);
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.home.boxes.texts(),
              QStringList{QStringLiteral("Non è stato selezionato nessun formato wave.") + kRetry});
    EXPECT_TRUE(dialog->isUnloaded());
}

TEST_F(SettingsDialog, UnchangedOkKeepsTheRecordingsFolder) {
    storeCompleteChoices();
    ASSERT_EQ(rig.home.config.recFolder, QStringLiteral("Quendral/1"));
    for (int round = 0; round < 2; ++round) {
        auto dialog = open();
        EXPECT_EQ(dialog->txtParm(1)->text(), QStringLiteral("Quendral"));
        EXPECT_EQ(dialog->txtParm(0)->text(), QStringLiteral("1"));
        dialog->CommandOk_Click();
        EXPECT_TRUE(dialog->isUnloaded());
        EXPECT_EQ(rig.home.config.recFolder, QStringLiteral("Quendral/1"));
        EXPECT_EQ(rig.ini(QStringLiteral("PATH"), QStringLiteral("NOME")),
                  QStringLiteral("Quendral"));
    }
    EXPECT_TRUE(rig.home.boxes.empty());
    EXPECT_EQ(rig.setting(QStringLiteral("etichetta")), QStringLiteral("Quendral"));
}

TEST_F(SettingsDialog, RingsOutsideOneToTenAreReset) {
    auto dialog = open();
    for (const char* refused : {"0", "11", "-3", "abc", "2x"}) {
        rig.home.boxes.clear();
        dialog->TextRingsBeforeAnswer()->setText(QString::fromLatin1(refused));
        dialog->TextRingsBeforeAnswer_LostFocus();
        EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), QStringLiteral("2")) << refused;
        ASSERT_EQ(rig.home.boxes.shown().size(), 1) << refused;
        EXPECT_EQ(rig.home.boxes.last().text,
                  QStringLiteral("Settare Auto Risposta tra 0 e 10 squilli"));
        EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Errore settaggio"));
        EXPECT_EQ(rig.home.boxes.last().icon, MsgIcon::Critical);
    }
    rig.home.boxes.clear();
    for (const char* accepted : {"1", "10", ""}) {
        dialog->TextRingsBeforeAnswer()->setText(QString::fromLatin1(accepted));
        dialog->TextRingsBeforeAnswer_LostFocus();
        EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), QString::fromLatin1(accepted));
    }
    EXPECT_TRUE(rig.home.boxes.empty());
    // Left empty, OK fills in 2.
    storeCompleteChoices();
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.setting(QStringLiteral("Rings Before Answer")), QStringLiteral("2"));
}

TEST_F(SettingsDialog, LeavingTheBoxesRunsTheirChecks) {
    auto dialog = open();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->TextRingsBeforeAnswer()->setFocus();
    dialog->TextRingsBeforeAnswer()->setText(QStringLiteral("0"));
    dialog->TextTelephoneNumber()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), QStringLiteral("2"));
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);

    dialog->ComboFolder()->setFocus();
    dialog->ComboFolder()->setEditText(QStringLiteral("4600"));
    dialog->TextTelephoneNumber()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.recorder->folderLimits, QList<double>{4600});
}

TEST_F(SettingsDialog, OkStoresNothingFromAWrongNumberBox) {
    storeCompleteChoices();
    auto dialog = open();
    // Enter presses OK without leaving the box.
    dialog->TextRingsBeforeAnswer()->setText(QStringLiteral("tre"));
    dialog->CommandOk_Click();
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.setting(QStringLiteral("Rings Before Answer")), QStringLiteral("<absent>"));
    EXPECT_EQ(rig.home.boxes.shown().size(), 1);

    dialog->ComboFolder()->setEditText(QStringLiteral("molto"));
    rig.home.boxes.clear();
    dialog->CommandOk_Click();
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.setting(QStringLiteral("DimFolder")), QStringLiteral("<absent>"));
    EXPECT_EQ(rig.setting(QStringLiteral("Telephone Number")), QStringLiteral("<absent>"));
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Errore settaggio"));
    dialog->ComboFolder_LostFocus();
    EXPECT_TRUE(rig.recorder->folderLimits.isEmpty()) << "nothing pushed to the recorder";

    dialog->ComboFolder()->setEditText(QStringLiteral("700   "));
    dialog->ComboFolder_LostFocus();
    EXPECT_EQ(rig.recorder->folderLimits, QList<double>{700});
    dialog->CommandOk_Click();
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_EQ(rig.setting(QStringLiteral("DimFolder")), QStringLiteral("700   "));
}

TEST_F(SettingsDialog, FolderBoxesTakeLettersAndDigitsOnly) {
    auto dialog = open();
    QLineEdit* number = dialog->txtParm(0);
    number->clear();
    QTest::keyClicks(number, QStringLiteral("a-1 B_2"));
    EXPECT_EQ(number->text(), QStringLiteral("a1B2"));
    QTest::keyClick(number, Qt::Key_Backspace);
    EXPECT_EQ(number->text(), QStringLiteral("a1B"));
    QTest::keyClicks(number, QStringLiteral("cdefghij"));
    EXPECT_EQ(number->text(), QStringLiteral("a1Bcdefg")) << "eight characters at most";
    number->clear();
    number->insert(QStringLiteral("../x"));  // pasted text obeys the same rule
    EXPECT_EQ(number->text(), QString());

    // A name shorter than eight letters is pointed out when either box is left.
    dialog->txtParm(1)->setEnabled(true);
    dialog->txtParm(1)->setText(QStringLiteral("Servizi"));
    dialog->txtParm_LostFocus(0);
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    EXPECT_EQ(rig.home.boxes.last().text, QStringLiteral("INSERIRE 8 CARATTERI"));
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Avviso"));
    dialog->txtParm(1)->setText(QStringLiteral("Servizio"));
    dialog->txtParm_LostFocus(1);
    EXPECT_EQ(rig.home.boxes.shown().size(), 1);
}

TEST_F(SettingsDialog, RecallSliderMovesTheRecallTime) {
    rig.store(QStringLiteral("timerecall"), QStringLiteral("20"));
    auto dialog = open();
    EXPECT_EQ(dialog->Txtrecall()->text(), QStringLiteral("20"));
    EXPECT_EQ(rig.home.config.recallTime, 15) << "loading does not move the recall time";
    dialog->Slider1()->setValue(25);
    EXPECT_EQ(rig.home.config.recallTime, 25);
    EXPECT_EQ(dialog->Txtrecall()->text(), QStringLiteral("25"));
    dialog->CheckAutoAnswer()->setChecked(false);
    EXPECT_FALSE(dialog->TextRingsBeforeAnswer()->isEnabled());
}

TEST_F(SettingsDialog, LoadGivesUpAfterFortyNineRetries) {
    rig.line.hideAfterCalls = 1;  // the count is read, then every device vanishes
    auto dialog = open();
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    EXPECT_EQ(rig.home.boxes.last().title,
              QStringLiteral("Main Form, Form_Load mancata lettura periferiche"));
    EXPECT_TRUE(rig.home.boxes.last().text.startsWith(QStringLiteral("Error -2147213296 ")));
    EXPECT_EQ(rig.line.devicesCalls, 1 + 50);
    EXPECT_EQ(dialog->ComboLineName()->count(), 0);
    EXPECT_EQ(dialog->ComboFolder()->currentText(), QStringLiteral("600")) << "filled so far";
}

TEST_F(SettingsDialog, LineChoiceGivesUpAfterFortyNineRetries) {
    auto dialog = open();
    rig.line.hideAfterCalls = rig.line.devicesCalls;
    dialog->ComboLineName()->setCurrentIndex(1);
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("ComboLineName_Click"));
    EXPECT_EQ(rig.setting(QStringLiteral("Line Device")), QStringLiteral("Line B"));
}

TEST_F(SettingsDialog, TransferFallsBackToLineInWhenTheLineNeverOpens) {
    storeCompleteChoices();
    rig.line.failOpen = true;
    auto dialog = open();
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.line.openAttempts, 50);
    EXPECT_FALSE(rig.recorder->telephoneEnabled);
    EXPECT_TRUE(rig.recorder->lineInSelected);
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_TRUE(rig.home.boxes.empty()) << "the transfer reports nothing";

    // A line that opens at the first try leaves the recorder's sources alone.
    rig.line.failOpen = false;
    rig.recorder->lineInSelected = false;
    dialog->TransferSettings();
    EXPECT_FALSE(rig.recorder->lineInSelected);
    EXPECT_TRUE(rig.tapi->lineOpen());
}

TEST_F(SettingsDialog, ReportButtons) {
    storeCompleteChoices();
    auto dialog = open();
    dialog->ComboLineName()->setCurrentIndex(0);
    dialog->CommandCaps_Click();
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Line A Capabilities"));
    EXPECT_TRUE(rig.home.boxes.last().text.contains(QStringLiteral("\tCaller ID \t\t\tYes\r\n")));

    // Sound-card option: the chosen output, which plays every format.
    dialog->OptionWaveDevice(0)->setChecked(true);
    dialog->ComboSoundCardOut()->setCurrentIndex(0);
    dialog->CommandWaveOutCaps_Click();
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Wave Output Capabilities"));
    EXPECT_EQ(rig.home.boxes.last().text.count(QStringLiteral("Yes")), 8);
    EXPECT_TRUE(rig.home.boxes.last().text.startsWith(QStringLiteral("Sound Card\r\n")));
    EXPECT_FALSE(rig.tapi->lineOpen());

    dialog->ComboSoundCardOut()->setCurrentIndex(-1);
    rig.home.boxes.clear();
    dialog->CommandWaveOutCaps_Click();
    EXPECT_EQ(rig.home.boxes.texts(),
              QStringList{QStringLiteral("Periferica output non selezionata")});

    // Modem option: the line has no wave input without a call, so it stays open as the
    // report left it.
    dialog->OptionWaveDevice(1)->setChecked(true);
    rig.home.boxes.clear();
    dialog->CommandWaveInCaps_Click();
    EXPECT_EQ(rig.home.boxes.texts(),
              QStringList{QStringLiteral("Periferica input non selezionata")});
    EXPECT_TRUE(rig.tapi->lineOpen());
}

namespace {

int RowsIn(const QString& file) {
    return Catalogue(file).rowCount();
}

}  // namespace

TEST_F(SettingsDialog, EndOfServiceFilesTheCatalogueAndEmptiesIt) {
    const Catalogue catalogue = Catalogue::InFolder(rig.home.home());
    catalogue.create();
    rig.store(QStringLiteral("progressivo"), QStringLiteral("0"));
    for (const char* name : {"20240131_142305.Ems", "20240131_150000.Ems", "20240201_090000.Ems"})
        catalogue.recorderInsert(QString::fromLatin1(name), rig.ctx().settings);
    ASSERT_EQ(rig.setting(QStringLiteral("progressivo")), QStringLiteral("3"));
    auto dialog = open();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));

    rig.home.boxes.answerNext(MsgAnswer::Yes);
    dialog->Command1_Click();
    const auto& question = rig.home.boxes.shown().front();
    EXPECT_EQ(question.text,
              QStringLiteral("Sei sicuro di voler chiudere il Servizio? Attenzione la  "
                             "chiusura prevede la Cancellazione del DataBase "));
    EXPECT_EQ(question.title, QStringLiteral("Servizio"));
    EXPECT_EQ(question.buttons, MsgButtons::YesNo);
    EXPECT_EQ(rig.home.boxes.shown().size(), 1);
    const QString archive = rig.home.config.dataPath + QStringLiteral("Quendral/datirec.mdb");
    EXPECT_EQ(RowsIn(archive), 3);
    EXPECT_EQ(catalogue.rowCount(), 0);
    EXPECT_EQ(rig.setting(QStringLiteral("progressivo")), QStringLiteral("0"));
    EXPECT_EQ(dialog->txtParm(1)->text(), QString());
    EXPECT_TRUE(dialog->txtParm(1)->isEnabled());
    EXPECT_TRUE(dialog->txtParm(1)->hasFocus());
    EXPECT_EQ(dialog->txtParm(0)->text(), QStringLiteral("1"));
    EXPECT_EQ(catalogue.recorderInsert(QStringLiteral("20240202_100000.Ems"), rig.ctx().settings),
              1);

    // The next service is named and confirmed: its folder is made and used.
    dialog->txtParm(1)->setText(QStringLiteral("Servizi2"));
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.home.config.recFolder, QStringLiteral("Servizi2/1"));
    EXPECT_TRUE(QDir(rig.home.config.dataPath + QStringLiteral("Servizi2")).exists());
    EXPECT_EQ(rig.ini(QStringLiteral("PATH"), QStringLiteral("NOME")), QStringLiteral("Servizi2"));
}

TEST_F(SettingsDialog, EndOfServiceAnsweredNoChangesNothing) {
    const Catalogue catalogue = Catalogue::InFolder(rig.home.home());
    catalogue.create();
    rig.store(QStringLiteral("progressivo"), QStringLiteral("0"));
    catalogue.recorderInsert(QStringLiteral("20240131_142305.Ems"), rig.ctx().settings);
    auto dialog = open();
    rig.home.boxes.answerNext(MsgAnswer::No);
    dialog->Command1_Click();
    EXPECT_EQ(catalogue.rowCount(), 1);
    EXPECT_EQ(rig.setting(QStringLiteral("progressivo")), QStringLiteral("1"));
    EXPECT_EQ(dialog->txtParm(1)->text(), QStringLiteral("Quendral"));
    EXPECT_FALSE(dialog->txtParm(1)->isEnabled());
}

TEST_F(SettingsDialog, EndOfServiceWithAFailedCopyDeletesNothing) {
    const Catalogue catalogue = Catalogue::InFolder(rig.home.home());
    catalogue.create();
    rig.store(QStringLiteral("progressivo"), QStringLiteral("0"));
    for (const char* name : {"20240131_142305.Ems", "20240131_150000.Ems"})
        catalogue.recorderInsert(QString::fromLatin1(name), rig.ctx().settings);
    ASSERT_TRUE(QDir(rig.home.config.dataPath + QStringLiteral("Quendral")).removeRecursively());
    auto dialog = open();
    rig.home.boxes.answerNext(MsgAnswer::Yes);
    dialog->Command1_Click();
    ASSERT_EQ(rig.home.boxes.shown().size(), 2);
    EXPECT_EQ(rig.home.boxes.last().title, QStringLiteral("Command1_Click"));
    EXPECT_EQ(rig.home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_TRUE(rig.home.boxes.last().text.startsWith(QStringLiteral("Error 76 ")));
    EXPECT_EQ(catalogue.rowCount(), 2);
    EXPECT_EQ(rig.setting(QStringLiteral("progressivo")), QStringLiteral("2"));
    // The boxes are ready for the next service all the same.
    EXPECT_EQ(dialog->txtParm(1)->text(), QString());
    EXPECT_EQ(dialog->txtParm(0)->text(), QStringLiteral("1"));
}

TEST_F(SettingsDialog, OpenSettingsDialogNeedsTheWindows) {
    rig.ctx().forms = nullptr;
    EXPECT_THROW(OpenSettingsDialog(rig.ctx(), nullptr), RuntimeError);
}
