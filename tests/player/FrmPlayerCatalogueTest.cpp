// The player with a shared catalogue: another operator's save in between, and a catalogue
// server out of reach.
#include "PlayerFixture.h"
#include "catalogue/ServerCatalogue.h"
#include "player/ui/FrmReports.h"
#include "player/ui/TranscriptionEditor.h"
#include "support/TestCatalogueServer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

using namespace kallomir;
using namespace kallomir::test;

namespace {

const QDateTime kStart(QDate(2024, 1, 31), QTime(14, 23, 5));
const QString kName = QStringLiteral("20240131_142305.Ems");

// The operator opens a recording and edits it while another operator saves the same row.
struct EditConflict {
    PlayerFixture f;
    FrmPlayer* p = nullptr;
    EditConflict() {
        f.addRecording(kName, 8000, 16, 1, 1.0, kStart, 1);
        p = &f.load();
        f.open(kName);
        p->btedit_Click();
        p->Frame2->rtfTesto()->setPlainText(QStringLiteral("testo di anna"));
        p->Check[2]->click();
        f.home.catalogue->playerSave(kName, PlayerMarks{true, true, false, "{\\rtf1 di bruno}"},
                                     "E", "bruno");
        f.home.boxes.clear();
    }
};

TEST(FrmPlayerCatalogue, KeepingTheOtherOperatorsTextShowsItAndEndsEditing) {
    EditConflict c;
    c.f.home.boxes.answerNext(MsgAnswer::No);
    c.p->cmdSalva_Click();
    ASSERT_EQ(c.f.home.boxes.shown().size(), 1);
    EXPECT_EQ(c.f.home.boxes.last().buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(c.p->Frame2->rtfTesto()->toPlainText(), QStringLiteral("di bruno"));
    EXPECT_TRUE(c.p->Check[1]->isChecked());
    EXPECT_FALSE(c.p->Check[2]->isChecked());
    EXPECT_EQ(c.p->txtUtente->text(), QStringLiteral("bruno"));
    EXPECT_EQ(c.p->btedit->text(), QStringLiteral("Modifica"));
    EXPECT_FALSE(c.p->saveButtonEnabled());
    EXPECT_EQ(c.f.row(kName)->traduzione, "{\\rtf1 di bruno}");

    // A later edit starts from the other's version: no question.
    c.p->btedit_Click();
    c.p->cmdSalva_Click();
    EXPECT_EQ(c.f.home.boxes.shown().size(), 1);
    EXPECT_FALSE(c.p->saveButtonEnabled());
}

TEST(FrmPlayerCatalogue, OverwritingStoresThisText) {
    EditConflict c;
    c.f.home.boxes.answerNext(MsgAnswer::Yes);
    c.p->cmdSalva_Click();
    EXPECT_EQ(c.f.home.boxes.shown().size(), 1);
    EXPECT_FALSE(c.p->saveButtonEnabled());
    const auto row = c.f.row(kName);
    EXPECT_TRUE(row->traduzione->contains(QStringLiteral("testo di anna")));
    EXPECT_TRUE(row->tradotto);
}

TEST(FrmPlayerCatalogue, CancellingKeepsEditingWithNothingStored) {
    EditConflict c;
    c.f.home.boxes.answerNext(MsgAnswer::Cancel);
    c.p->cmdSalva_Click();
    EXPECT_TRUE(c.p->saveButtonEnabled()) << "still editing";
    EXPECT_EQ(c.p->Frame2->rtfTesto()->toPlainText(), QStringLiteral("testo di anna"));
    EXPECT_EQ(c.f.row(kName)->traduzione, "{\\rtf1 di bruno}");
}

// The server is away: the recording still plays, the operator reads why the marks and the
// text are missing, and a save keeps the text in the editor.
TEST(FrmPlayerCatalogue, AServerOutOfReachIsSaidClearly) {
    PlayerFixture f;
    f.addRecording(kName, 8000, 16, 1, 1.0, kStart, 1);
    f.home.useCatalogue(
        std::make_unique<ServerCatalogue>(TestCatalogueServer::unreachableConfig(), f.home.home()));
    FrmPlayer& p = f.load();
    f.open(kName);
    ASSERT_EQ(f.home.boxes.shown().size(), 1);
    EXPECT_EQ(f.home.boxes.last().title, QStringLiteral("FOpener_Click"));
    EXPECT_TRUE(f.home.boxes.last().text.startsWith(QStringLiteral(
        "Error 3151 Impossibile raggiungere il catalogo sul server kallo@127.0.0.1:")))
        << f.home.boxes.last().text.toStdString();
    EXPECT_TRUE(p.RecordingLoaded) << "listening works without the catalogue";

    p.btedit_Click();
    p.Frame2->rtfTesto()->setPlainText(QStringLiteral("da non perdere"));
    p.cmdSalva_Click();
    ASSERT_EQ(f.home.boxes.shown().size(), 2);
    EXPECT_EQ(f.home.boxes.last().title, QStringLiteral("cmdSalva_Click"));
    EXPECT_TRUE(f.home.boxes.last().text.contains(QStringLiteral("Impossibile raggiungere")));
    EXPECT_TRUE(p.saveButtonEnabled());
    EXPECT_EQ(p.Frame2->rtfTesto()->toPlainText(), QStringLiteral("da non perdere"));
}

TEST(FrmPlayerCatalogue, TheLogbookSaysItCannotReachTheServer) {
    TempHome home;
    home.useCatalogue(
        std::make_unique<ServerCatalogue>(TestCatalogueServer::unreachableConfig(), home.home()));
    frmReports window(*home.context);
    window.Form_Load();
    EXPECT_FALSE(window.report());
    EXPECT_TRUE(
        window.view->text().startsWith(QStringLiteral("Impossibile raggiungere il catalogo")))
        << window.view->text().toStdString();
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_TRUE(home.boxes.last().text.startsWith(QStringLiteral("Error 3151 ")));
}

}  // namespace
