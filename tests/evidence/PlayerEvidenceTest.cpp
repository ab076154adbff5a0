// Where the player reaches the evidence: its Salva writes the transcription and marks lines,
// its "Esporta" and the logbook's open the export with the right recordings.
#include "evidence/EvidenceEvents.h"
#include "evidence/IntegrityLog.h"
#include "evidence/ui/ExportDialog.h"
#include "player/PlayerFixture.h"
#include "player/ui/FrmReports.h"
#include "player/ui/TranscriptionEditor.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

using namespace kallomir;
using namespace kallomir::test;

namespace {

TEST(EvidenceEntryPoints,
     ThePlayersSalvaLogsTranscriptionAndMarksOnceEachAndEsportaOpensTheDialog) {
    PlayerFixture f;
    const QString name = f.addRecording("20240131_142305.Ems", 8000, 16, 1, 1.0,
                                        QDateTime(QDate(2024, 1, 31), QTime(14, 23, 5)), 1);
    FrmPlayer& p = f.load();
    QTest::mouseClick(p.cmdEsporta, Qt::LeftButton);
    EXPECT_EQ(f.home.boxes.last().text, "Selezionare prima il file");
    f.open(name);
    p.btedit_Click();
    f.home.boxes.answerNext(MsgAnswer::Yes);  // marked as heard although not listened to
    p.Check[0]->click();
    p.Frame2->rtfTesto()->setPlainText("Parla Rossi");
    p.cmdSalva_Click();
    // Saved again without a change: nothing new to log.
    p.btedit_Click();
    p.cmdSalva_Click();
    const auto lines = IntegrityLog(f.home.home()).read().lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].event, events::kTranscriptionSaved);
    EXPECT_EQ(lines[0].field("nome"), name);
    EXPECT_EQ(lines[0].field("sha256"), TranscriptionSha256(*f.row(name)->traduzione));
    EXPECT_EQ(lines[1].event, events::kMarksChanged);
    EXPECT_EQ(lines[1].field("ascoltato"), "1");
    EXPECT_EQ(lines[1].field("trascritto"), "0");

    QTest::mouseClick(p.cmdEsporta, Qt::LeftButton);
    auto* dialog = p.findChild<ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->chosen(), QStringList{QDir(f.folder).filePath(name)});
    dialog->close();
}

TEST(EvidenceEntryPoints, TheLogbookOffersTheExportOfAnyRecording) {
    PlayerFixture f;
    f.addRecording("20240131_142305.Ems", 8000, 16, 1, 1.0,
                   QDateTime(QDate(2024, 1, 31), QTime(14, 23, 5)), 1);
    frmReports reports(*f.home.context);
    QTest::mouseClick(reports.exportButton, Qt::LeftButton);
    auto* dialog = reports.findChild<ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->chosen().isEmpty());
    EXPECT_EQ(dialog->listed(), QStringList{QDir(f.folder).filePath("20240131_142305.Ems")});
}

}  // namespace
