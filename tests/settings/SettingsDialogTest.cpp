#include "SettingsTestRig.h"

#include "catalogue/SqliteCatalogue.h"
#include "core/IniFile.h"
#include "core/RuntimeError.h"
#include "settings/ui/CfrmSettingsWp.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace kallomir;
using namespace kallomir::test;
using namespace Qt::StringLiterals;

namespace {

const QString kRetry = u"\r\nVuoi riprovare?"_s;

class SettingsDialog : public ::testing::Test {
protected:
    std::unique_ptr<CfrmSettingsWp> open() {
        auto dialog = std::make_unique<CfrmSettingsWp>(rig.ctx());
        dialog->SetTapiControl(*rig.tapi);
        dialog->SetWaveControl(*rig.wave);
        dialog->Form_Load();
        return dialog;
    }
    void showActive(CfrmSettingsWp& dialog) {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    // Every choice the OK questions look for.
    void storeCompleteChoices() {
        rig.store(u"Line Device"_s, u"Line B"_s);
        rig.store(u"Sound Card Output"_s, u"1"_s);
        rig.store(u"Sound Card Input"_s, u"0"_s);
        rig.store(u"Record Format"_s, u"8"_s);
    }
    // A catalogue with `rows` recordings made by the recorder.
    CatalogueStore& catalogueWith(int rows) {
        CatalogueStore& catalogue = *rig.home.catalogue;
        catalogue.create();
        rig.store(u"progressivo"_s, u"0"_s);
        for (int i = 0; i < rows; ++i)
            catalogue.recorderInsert(u"20240131_14230%1.Ems"_s.arg(i), rig.ctx().settings);
        return catalogue;
    }
    SettingsRig rig;
};

}  // namespace

TEST_F(SettingsDialog, FirstUseWithNothingStored) {
    auto dialog = open();
    EXPECT_EQ(dialog->ComboLineName()->count(), 2);
    for (QComboBox* list : {dialog->ComboLineName(), dialog->ComboSoundCardOut(),
                            dialog->ComboSoundCardIn(), dialog->ComboRecordFormat()})
        EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(dialog->ComboLineName()->placeholderText(), u"Select telephony line device"_s);
    EXPECT_EQ(dialog->ComboSoundCardIn()->placeholderText(), u"Select Sound Card"_s);
    EXPECT_EQ(dialog->ComboRecordFormat()->placeholderText(), u"Select Record Wave Format"_s);
    EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), u"2"_s);
    EXPECT_TRUE(dialog->TextRingsBeforeAnswer()->isEnabled());
    EXPECT_FALSE(dialog->CheckRecall()->isChecked());
    EXPECT_EQ(dialog->ComboFolder()->currentText(), u"600"_s);
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), u"Tapi Ver 0.0"_s);
    EXPECT_EQ(dialog->Txtrecall()->text(), u"15"_s) << "the stored 7 s is held to the range";
    EXPECT_TRUE(rig.boxes().empty());
    EXPECT_EQ(rig.setting(u"Line Device"_s), u"<absent>"_s) << "nothing chosen, nothing stored";
}

TEST_F(SettingsDialog, StoredChoicesAreSelectedAndTheLineClosed) {
    storeCompleteChoices();
    rig.wave->setVoxHoldMs(12500);
    rig.tapi->setLineName(u"Line A"_s);
    rig.tapi->setLineOpen(true);
    auto dialog = open();
    EXPECT_EQ(dialog->ComboLineName()->currentText(), u"Line B"_s);
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), u"TAPI V3.0"_s);
    EXPECT_EQ(rig.tapi->lineName(), u"Line B"_s);
    EXPECT_FALSE(rig.tapi->lineOpen()) << "the line stays closed while the dialog is open";
    EXPECT_EQ(dialog->ComboSoundCardOut()->currentText(), u"Card Out 2"_s);
    EXPECT_EQ(dialog->ComboSoundCardIn()->currentText(), u"Card In 1"_s);
    EXPECT_EQ(dialog->ComboRecordFormat()->currentText(), u"11025 Hz 16 bit"_s);
    EXPECT_EQ(rig.mixer.timeVox, QList<int>{12}) << "12.5 s rounds to the even 12";

    // A choice is stored at once and survives Annulla.
    dialog->ComboLineName()->setCurrentIndex(0);
    EXPECT_EQ(dialog->LabelTAPIVer()->text(), u"TAPI V2.1"_s);
    dialog->ComboRecordFormat()->setCurrentIndex(7);
    dialog->cmdCancel_Click();
    EXPECT_EQ(rig.setting(u"Line Device"_s), u"Line A"_s);
    EXPECT_EQ(rig.setting(u"Record Format"_s), u"128"_s);
    EXPECT_FALSE(rig.tapi->lineOpen()) << "Annulla leaves the line closed";
}

TEST_F(SettingsDialog, StoredChoicesThatAreNotListedSelectNothing) {
    rig.store(u"Line Device"_s, u"Fax Only"_s);  // no automated voice
    rig.store(u"Sound Card Input"_s, u"9"_s);    // two cards and three lines' audio
    rig.store(u"Sound Card Output"_s, u"x"_s);
    rig.store(u"Record Format"_s, u"3"_s);
    rig.line.list[2].apiVersion = 0;  // "Line B" is not offered either
    auto dialog = open();
    EXPECT_EQ(dialog->ComboLineName()->count(), 1);
    for (QComboBox* list : {dialog->ComboLineName(), dialog->ComboSoundCardOut(),
                            dialog->ComboSoundCardIn(), dialog->ComboRecordFormat()})
        EXPECT_EQ(list->currentIndex(), -1);
}

TEST_F(SettingsDialog, OkWithoutALineAnsweredNo) {
    auto dialog = open();
    dialog->TextTelephoneNumber()->setText(u"0612345"_s);
    dialog->CheckRecall()->setChecked(true);
    dialog->Combo1(0)->setEditText(u"22050"_s);
    dialog->ComboFolder()->setEditText(u"4600"_s);
    rig.boxes().answerNext(MsgAnswer::No);
    dialog->CommandOk_Click();

    ASSERT_EQ(rig.boxes().shown().size(), 1);
    const auto& box = rig.boxes().last();
    EXPECT_EQ(box.text, u"Non è stata selezionata nessuna periferica telefonica."_s + kRetry);
    EXPECT_EQ(box.title, u"Error"_s);
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.icon, MsgIcon::Critical);
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_EQ(rig.ini(u"PARAMETRI"_s, u"QUALITA"_s), u"22050"_s);
    EXPECT_EQ(rig.ini(u"PATH"_s, u"NOME"_s), u"Quendral"_s);
    EXPECT_EQ(rig.setting(u"Telephone Number"_s), u"0612345"_s);
    EXPECT_EQ(rig.setting(u"Recall"_s), u"1"_s);
    EXPECT_EQ(rig.setting(u"DimFolder"_s), u"4600"_s);
    EXPECT_EQ(rig.setting(u"etichetta"_s), u"Quendral"_s);
    EXPECT_EQ(rig.setting(u"TimeRecall"_s), u"15"_s);
    EXPECT_EQ(rig.line.openAttempts, 0) << "the line is not reopened";
    // The unload still makes the recordings folder and shows it in the player.
    EXPECT_EQ(rig.home.config.recFolder, u"Quendral/1"_s);
    EXPECT_TRUE(QDir(rig.home.config.recordingsFolder()).exists());
    EXPECT_EQ(rig.player.folder, rig.home.config.recordingsFolder());
    EXPECT_EQ(rig.player.refreshes, 1);
}

TEST_F(SettingsDialog, OkAsksTheQuestionsInOrder) {
    rig.store(u"Line Device"_s, u"Line A"_s);
    auto dialog = open();
    rig.boxes().answerNext(MsgAnswer::No);
    rig.boxes().answerNext(MsgAnswer::Yes);
    dialog->CommandOk_Click();
    EXPECT_FALSE(dialog->isUnloaded()) << "Yes keeps the dialog open";
    EXPECT_EQ(rig.line.openAttempts, 0);

    rig.boxes().clear();
    rig.boxes().setDefaultAnswer(MsgAnswer::No);
    QStringList members;
    rig.tapi->setMemberTrace([&members](const QString& use) { members.append(use); });
    dialog->CommandOk_Click();
    EXPECT_EQ(members, (QStringList{u"22?"_s, u"5=Line A"_s, u"14=4"_s, u"22=true"_s}));
    EXPECT_EQ(
        rig.boxes().texts(),
        (QStringList{u"Non è stata selezionata nessuna periferica audio in uscita."_s + kRetry,
                     u"Non è stata selezionata nessuna periferica audio in ingresso."_s + kRetry,
                     u"Non è stato selezionato nessun formato wave."_s + kRetry}));
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_TRUE(rig.tapi->lineOpen()) << "reopened with the stored device";
    EXPECT_EQ(rig.tapi->lineName(), u"Line A"_s);
    EXPECT_EQ(rig.tapi->callPrivilege(), 4);
}

TEST_F(SettingsDialog, UnchangedOkKeepsTheRecordingsFolder) {
    storeCompleteChoices();
    for (int round = 0; round < 2; ++round) {
        auto dialog = open();
        EXPECT_EQ(dialog->txtParm(1)->text(), u"Quendral"_s);
        dialog->CommandOk_Click();
        EXPECT_EQ(rig.home.config.recFolder, u"Quendral/1"_s);
        EXPECT_EQ(rig.ini(u"PATH"_s, u"NOME"_s), u"Quendral"_s);
    }
    EXPECT_TRUE(rig.boxes().empty());
}

TEST_F(SettingsDialog, RingsOutsideOneToTenAreReset) {
    auto dialog = open();
    for (const QString& refused : {u"0"_s, u"11"_s, u"-3"_s, u"abc"_s, u"2x"_s}) {
        rig.boxes().clear();
        dialog->TextRingsBeforeAnswer()->setText(refused);
        dialog->TextRingsBeforeAnswer_LostFocus();
        EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), u"2"_s) << refused.toStdString();
        ASSERT_EQ(rig.boxes().texts(), QStringList{u"Settare Auto Risposta tra 0 e 10 squilli"_s});
        EXPECT_EQ(rig.boxes().last().title, u"Errore settaggio"_s);
    }
    rig.boxes().clear();
    for (const QString& accepted : {u"1"_s, u"10"_s, QString()}) {
        dialog->TextRingsBeforeAnswer()->setText(accepted);
        dialog->TextRingsBeforeAnswer_LostFocus();
        EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), accepted);
    }
    EXPECT_TRUE(rig.boxes().empty());
    storeCompleteChoices();
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.setting(u"Rings Before Answer"_s), u"2"_s) << "left empty, OK fills in 2";
}

TEST_F(SettingsDialog, OkStoresNothingFromAWrongNumberBox) {
    storeCompleteChoices();
    auto dialog = open();
    dialog->TextRingsBeforeAnswer()->setText(u"tre"_s);  // Alt+O presses OK in the box
    dialog->CommandOk_Click();
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.setting(u"Rings Before Answer"_s), u"<absent>"_s);

    dialog->ComboFolder()->setEditText(u"molto"_s);
    rig.boxes().clear();
    dialog->CommandOk_Click();
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.setting(u"DimFolder"_s), u"<absent>"_s);
    EXPECT_EQ(rig.setting(u"Telephone Number"_s), u"<absent>"_s);
    ASSERT_EQ(rig.boxes().shown().size(), 1);
    EXPECT_EQ(rig.boxes().last().title, u"Errore settaggio"_s);
    EXPECT_TRUE(rig.recorder->folderLimits.isEmpty()) << "nothing pushed to the recorder";

    dialog->ComboFolder()->setEditText(u"700   "_s);
    dialog->ComboFolder_LostFocus();
    EXPECT_EQ(rig.recorder->folderLimits, QList<double>{700});
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.setting(u"DimFolder"_s), u"700   "_s);
}

TEST_F(SettingsDialog, LeavingTheBoxesRunsTheirChecks) {
    auto dialog = open();
    showActive(*dialog);
    dialog->TextRingsBeforeAnswer()->setFocus();
    dialog->TextRingsBeforeAnswer()->setText(u"0"_s);
    dialog->ComboFolder()->setFocus();
    dialog->ComboFolder()->setEditText(u"4600"_s);
    dialog->TextTelephoneNumber()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->TextRingsBeforeAnswer()->text(), u"2"_s);
    EXPECT_EQ(rig.boxes().shown().size(), 1);
    EXPECT_EQ(rig.recorder->folderLimits, QList<double>{4600});

    // A short name sends the focus back once, without the two boxes calling each other.
    rig.boxes().clear();
    dialog->txtParm(1)->setEnabled(true);
    dialog->txtParm(1)->setText(u"Breve"_s);
    dialog->txtParm(1)->setFocus();
    dialog->txtParm(0)->setFocus();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(rig.boxes().texts(), QStringList{u"INSERIRE 8 CARATTERI"_s});
    EXPECT_TRUE(dialog->txtParm(1)->hasFocus());
}

TEST_F(SettingsDialog, FolderBoxesTakeLettersAndDigitsOnly) {
    auto dialog = open();
    QLineEdit* number = dialog->txtParm(0);
    number->clear();
    QTest::keyClicks(number, u"a-1 B_2"_s);
    EXPECT_EQ(number->text(), u"a1B2"_s);
    QTest::keyClick(number, Qt::Key_Backspace);
    QTest::keyClicks(number, u"cdefghij"_s);
    EXPECT_EQ(number->text(), u"a1Bcdefg"_s) << "eight characters at most";
    number->clear();
    number->insert(u"../x"_s);  // pasted text obeys the same rule
    EXPECT_EQ(number->text(), QString());

    dialog->txtParm(1)->setText(u"Servizi"_s);
    dialog->txtParm_LostFocus(0);
    EXPECT_EQ(rig.boxes().texts(), QStringList{u"INSERIRE 8 CARATTERI"_s});
    EXPECT_EQ(rig.boxes().last().title, u"Avviso"_s);
    dialog->txtParm(1)->setText(u"Servizio"_s);
    dialog->txtParm_LostFocus(1);
    EXPECT_EQ(rig.boxes().shown().size(), 1);
}

// Every way of accepting the dialog: each must meet OK's checks. A shortcut presses its
// button as an animated click, which lands a moment later; the checks wait for it.
struct AcceptWay {
    const char* name;
    std::function<void(CfrmSettingsWp&)> press;
};

const AcceptWay kAcceptWays[] = {
    {"OK clicked", [](CfrmSettingsWp& d) { QTest::mouseClick(d.CommandOk(), Qt::LeftButton); }},
    {"Alt+O", [](CfrmSettingsWp& d) { QTest::keyClick(d.txtParm(1), Qt::Key_O, Qt::AltModifier); }},
    {"Enter", [](CfrmSettingsWp& d) { QTest::keyClick(d.txtParm(1), Qt::Key_Return); }},
    {"accept()", [](CfrmSettingsWp& d) { d.accept(); }},
};

TEST_F(SettingsDialog, EveryWayToAcceptChecksTheNewServiceName) {
    storeCompleteChoices();
    catalogueWith(1);
    for (const AcceptWay& way : kAcceptWays) {
        SCOPED_TRACE(way.name);
        rig.store(u"etichetta"_s, u"Quendral"_s);
        auto dialog = open();
        showActive(*dialog);
        rig.boxes().answerNext(MsgAnswer::Yes);
        dialog->Command1_Click();  // "Fine Servizio": the name box is open and empty
        rig.boxes().clear();

        way.press(*dialog);
        (void)QTest::qWaitFor([&] { return !rig.boxes().empty(); }, 2000);
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.boxes().texts(), QStringList{u"INSERIRE 8 CARATTERI"_s});
        EXPECT_FALSE(dialog->isUnloaded());
        EXPECT_TRUE(dialog->txtParm(1)->hasFocus());
        EXPECT_EQ(rig.ini(u"PATH"_s, u"NOME"_s), u"Quendral"_s);
        EXPECT_EQ(rig.setting(u"etichetta"_s), u"Quendral"_s);
        EXPECT_EQ(rig.home.config.recFolder, u"Quendral/1"_s);

        QTest::keyClicks(dialog->txtParm(1), u"Breve"_s);
        rig.boxes().clear();
        way.press(*dialog);
        (void)QTest::qWaitFor([&] { return !rig.boxes().empty(); }, 2000);
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.boxes().texts(), QStringList{u"INSERIRE 8 CARATTERI"_s});
        EXPECT_FALSE(dialog->isUnloaded());

        QTest::keyClicks(dialog->txtParm(1), u"Nuovo"_s);  // "BreveNuo": eight at most
        rig.boxes().clear();
        way.press(*dialog);
        (void)QTest::qWaitFor([&] { return dialog->isUnloaded() || !rig.boxes().empty(); }, 2000);
        EXPECT_TRUE(rig.boxes().empty());
        EXPECT_TRUE(dialog->isUnloaded());
        EXPECT_EQ(rig.home.config.recFolder, u"BreveNuo/1"_s);
        EXPECT_EQ(rig.ini(u"PATH"_s, u"NOME"_s), u"BreveNuo"_s);
        EXPECT_TRUE(QDir(rig.home.config.recordingsFolder()).exists());

        // Back to the first service for the next way.
        rig.home.config.recFolder = u"Quendral/1"_s;
        QString first = u"Quendral"_s;
        WriteIniValue(rig.home.config.iniFile, u"PATH"_s, u"NOME"_s, first);
    }
}

TEST_F(SettingsDialog, EnterOnAnotherButtonPressesThatButtonNotOk) {
    storeCompleteChoices();
    auto dialog = open();
    showActive(*dialog);
    dialog->TextTelephoneNumber()->setText(u"0612345"_s);
    dialog->cmdCancel()->setFocus();
    QTest::keyClick(dialog->cmdCancel(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(rig.setting(u"Telephone Number"_s), u"<absent>"_s) << "Annulla stores nothing";
}

TEST_F(SettingsDialog, OkRefusesAnEmptyFolderNumber) {
    storeCompleteChoices();
    auto dialog = open();
    dialog->txtParm(0)->clear();
    dialog->accept();
    EXPECT_EQ(rig.boxes().texts(), QStringList{u"Inserire il numero della cartella"_s});
    EXPECT_FALSE(dialog->isUnloaded());
    EXPECT_EQ(rig.ini(u"PATH"_s, u"FOLDER"_s), u"1"_s);
    dialog->txtParm(0)->setText(u"7"_s);
    dialog->accept();
    EXPECT_TRUE(dialog->isUnloaded());
    EXPECT_EQ(rig.home.config.recFolder, u"Quendral/7"_s);
}

TEST_F(SettingsDialog, ClosingNeverMakesAFolderOutsideTheDataFolder) {
    const QString data = rig.home.config.dataPath;
    for (const QString& bad : {u"../Fuori/1"_s, u"Quendral/../../Fuori"_s, u"Fuori/.."_s}) {
        rig.home.config.recFolder = bad;
        auto dialog = open();
        dialog->cmdCancel_Click();
        EXPECT_FALSE(QDir(data + u"../Fuori"_s).exists()) << bad.toStdString();
        EXPECT_FALSE(QDir(data + u"Fuori"_s).exists()) << bad.toStdString();
    }
}

TEST_F(SettingsDialog, EditingKeysWorkInTheFolderBoxes) {
    auto dialog = open();
    showActive(*dialog);
    QLineEdit* name = dialog->txtParm(1);
    name->setEnabled(true);
    name->setFocus();
    // The texts the window system gives these keys: control characters, not letters.
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_A, QString(QChar(0x01)), Qt::ControlModifier);
    EXPECT_EQ(name->selectedText(), u"Quendral"_s);
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier);
    EXPECT_EQ(name->text(), QString());

    QApplication::clipboard()->setText(u"Servizio"_s);
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    EXPECT_EQ(name->text(), u"Servizio"_s);
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_Home, QString(), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier);
    EXPECT_EQ(name->text(), u"ervizio"_s);

    // Pasted paths and typed punctuation stay out.
    QApplication::clipboard()->setText(u"../x"_s);
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    QTest::keyClicks(name, u"/."_s);
    EXPECT_EQ(name->text(), u"ervizio"_s);
}

TEST_F(SettingsDialog, RecallSliderMovesTheRecallTime) {
    rig.store(u"timerecall"_s, u"20"_s);
    auto dialog = open();
    EXPECT_EQ(dialog->Txtrecall()->text(), u"20"_s);
    EXPECT_EQ(rig.home.config.recallTime, 15) << "loading does not move the recall time";
    dialog->Slider1()->setValue(25);
    EXPECT_EQ(rig.home.config.recallTime, 25);
    EXPECT_EQ(dialog->Txtrecall()->text(), u"25"_s);
}

TEST_F(SettingsDialog, RetriesEndAfterFortyNine) {
    // The input list reads the lines once for its count and once per line's audio (4), the
    // line list reads the count, then every device vanishes.
    rig.line.hideAfterCalls = 4 + 1;
    auto dialog = open();
    ASSERT_EQ(rig.boxes().shown().size(), 1);
    EXPECT_EQ(rig.boxes().last().title, u"Main Form, Form_Load mancata lettura periferiche"_s);
    EXPECT_TRUE(rig.boxes().last().text.startsWith(u"Error -2147213296 "_s));
    EXPECT_EQ(rig.line.devicesCalls, 4 + 1 + 50);
    EXPECT_EQ(dialog->ComboFolder()->currentText(), u"600"_s) << "what was filled so far stays";

    rig.line.hideAfterCalls = -1;
    auto second = open();
    rig.line.hideAfterCalls = rig.line.devicesCalls;
    second->ComboLineName()->setCurrentIndex(1);
    EXPECT_EQ(rig.boxes().last().title, u"ComboLineName_Click"_s);
}

TEST_F(SettingsDialog, TransferFallsBackToLineInWhenTheLineNeverOpens) {
    storeCompleteChoices();
    rig.line.failOpen = true;
    auto dialog = open();
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.line.openAttempts, 50);
    EXPECT_FALSE(rig.recorder->telephoneEnabled);
    EXPECT_TRUE(rig.recorder->lineInSelected);
    EXPECT_TRUE(rig.boxes().empty()) << "the transfer reports nothing";
}

TEST_F(SettingsDialog, ReportButtons) {
    storeCompleteChoices();
    auto dialog = open();
    dialog->ComboLineName()->setCurrentIndex(0);
    dialog->CommandCaps_Click();
    EXPECT_EQ(rig.boxes().last().title, u"Line A Capabilities"_s);
    EXPECT_TRUE(rig.boxes().last().text.contains(u"\tCaller ID \t\t\tYes\r\n"_s));

    // Sound-card option: the chosen output, which plays every format.
    dialog->OptionWaveDevice(0)->setChecked(true);
    dialog->ComboSoundCardOut()->setCurrentIndex(0);
    dialog->CommandWaveOutCaps_Click();
    EXPECT_EQ(rig.boxes().last().title, u"Wave Output Capabilities"_s);
    EXPECT_EQ(rig.boxes().last().text.count(u"Yes"_s), 8);
    EXPECT_FALSE(rig.tapi->lineOpen());
    dialog->ComboSoundCardOut()->setCurrentIndex(-1);
    dialog->CommandWaveOutCaps_Click();
    EXPECT_EQ(rig.boxes().last().text, u"Periferica output non selezionata"_s);

    // Modem option: without a call the line has no wave input; the line stays open.
    dialog->OptionWaveDevice(1)->setChecked(true);
    QStringList members;
    rig.tapi->setMemberTrace([&members](const QString& use) { members.append(use); });
    dialog->CommandWaveInCaps_Click();
    EXPECT_EQ(members, (QStringList{u"22=true"_s, u"16?"_s, u"5?"_s}));
    EXPECT_EQ(rig.boxes().last().text, u"Periferica input non selezionata"_s);
    EXPECT_TRUE(rig.tapi->lineOpen());
}

TEST_F(SettingsDialog, EndOfServiceFilesTheCatalogueAndEmptiesIt) {
    CatalogueStore& catalogue = catalogueWith(3);
    auto dialog = open();
    showActive(*dialog);
    rig.boxes().answerNext(MsgAnswer::Yes);
    dialog->Command1_Click();
    ASSERT_EQ(rig.boxes().shown().size(), 1);
    EXPECT_EQ(rig.boxes().last().text,
              u"Sei sicuro di voler chiudere il Servizio? Attenzione la  "
              u"chiusura prevede la Cancellazione del DataBase "_s);
    EXPECT_EQ(rig.boxes().last().title, u"Servizio"_s);
    EXPECT_EQ(SqliteCatalogue(rig.home.config.dataPath + u"Quendral/datirec.mdb"_s).rowCount(), 3);
    EXPECT_EQ(catalogue.rowCount(), 0);
    EXPECT_EQ(rig.setting(u"progressivo"_s), u"0"_s);
    EXPECT_EQ(dialog->txtParm(1)->text(), QString());
    EXPECT_TRUE(dialog->txtParm(1)->isEnabled());
    EXPECT_TRUE(dialog->txtParm(1)->hasFocus());
    EXPECT_EQ(dialog->txtParm(0)->text(), u"1"_s);
    EXPECT_EQ(catalogue.recorderInsert(u"20240202_100000.Ems"_s, rig.ctx().settings), 1);

    // The next service is named and confirmed: its folder is made and used.
    dialog->txtParm(1)->setText(u"Servizi2"_s);
    dialog->CommandOk_Click();
    EXPECT_EQ(rig.home.config.recFolder, u"Servizi2/1"_s);
    EXPECT_TRUE(QDir(rig.home.config.recordingsFolder()).exists());
}

TEST_F(SettingsDialog, EndOfServiceAnsweredNoChangesNothing) {
    CatalogueStore& catalogue = catalogueWith(1);
    auto dialog = open();
    rig.boxes().answerNext(MsgAnswer::No);
    dialog->Command1_Click();
    EXPECT_EQ(catalogue.rowCount(), 1);
    EXPECT_EQ(rig.setting(u"progressivo"_s), u"1"_s);
    EXPECT_EQ(dialog->txtParm(1)->text(), u"Quendral"_s);
    EXPECT_FALSE(dialog->txtParm(1)->isEnabled());
}

TEST_F(SettingsDialog, EndOfServiceWithAFailedCopyDeletesNothing) {
    CatalogueStore& catalogue = catalogueWith(2);
    ASSERT_TRUE(QDir(rig.home.config.dataPath + u"Quendral"_s).removeRecursively());
    auto dialog = open();
    rig.boxes().answerNext(MsgAnswer::Yes);
    dialog->Command1_Click();
    ASSERT_EQ(rig.boxes().shown().size(), 2);
    EXPECT_EQ(rig.boxes().last().title, u"Command1_Click"_s);
    EXPECT_TRUE(rig.boxes().last().text.startsWith(u"Error 76 "_s));
    EXPECT_EQ(catalogue.rowCount(), 2);
    EXPECT_EQ(rig.setting(u"progressivo"_s), u"2"_s);
    EXPECT_EQ(dialog->txtParm(0)->text(), u"1"_s) << "the boxes are ready all the same";
}

TEST_F(SettingsDialog, OpenSettingsDialogNeedsTheWindows) {
    rig.ctx().forms = nullptr;
    EXPECT_THROW(OpenSettingsDialog(rig.ctx(), nullptr), RuntimeError);
}
