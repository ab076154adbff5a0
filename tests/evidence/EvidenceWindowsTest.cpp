// The evidence windows: "Verifica" with progress, stop and a printable result; "Esporta"
// with its choices, progress and stop; the end of service writing its log line.
#include "EvidenceFixture.h"
#include "evidence/BundleCheck.h"
#include "evidence/ui/ExportDialog.h"
#include "evidence/ui/VerifyWindow.h"
#include "player/ui/PlayerDialogs.h"
#include "settings/ServiceShutdown.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include <thread>

using namespace kallomir;
using namespace kallomir::test;

namespace {

// Waits (handling events) until the signal came; false after 20 s.
bool WaitFor(QSignalSpy& spy) {
    for (int i = 0; i < 2000 && spy.isEmpty(); ++i) QTest::qWait(10);
    return !spy.isEmpty();
}

// Dialog answers and what was printed, without a screen.
class ScriptedDialogs : public PlayerDialogs {
public:
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&) override {
        return next();
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&) override {
        return next();
    }
    std::optional<QFont> font(QWidget*, const QFont&) override { return std::nullopt; }
    std::optional<QColor> color(QWidget*, const QColor&) override { return std::nullopt; }
    bool print(QWidget*, QTextDocument& document) override {
        printed = document.toPlainText();
        return true;
    }
    bool transcriptionTools(QWidget*, MessageBoxService&, TranscriptionSettings&,
                            const std::vector<PedalInfo>&, const QString&) override {
        return false;
    }
    std::optional<QString> next() {
        if (names.isEmpty())
            return std::nullopt;
        return names.takeFirst();
    }
    QStringList names;
    QString printed;
};

class EvidenceWindows : public Installation {
protected:
    void SetUp() override {
        Installation::SetUp();
        home.context->dialogs = &dialogs;
    }
    ScriptedDialogs dialogs;
};

TEST_F(EvidenceWindows, VerifyShowsTheOutcomeAndPrintsIt) {
    patch(b, 700, 'X');
    VerifyWindow window(*home.context);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QSignalSpy finished(&window, &VerifyWindow::checkFinished);
    window.start();
    ASSERT_TRUE(WaitFor(finished));
    EXPECT_EQ(window.status->text(), "Trovato: 1 problema.");
    const QStringList shown = window.result->toPlainText().split('\n');
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[0].startsWith("registrazione modificata (audio): " + b));
    EXPECT_TRUE(shown[1].startsWith("Esito: 1 problema (registrazioni controllate: 3,"));
    EXPECT_FALSE(window.stopButton->isEnabled());
    ASSERT_TRUE(window.printButton->isEnabled());

    QTest::mouseClick(window.printButton, Qt::LeftButton);
    EXPECT_TRUE(dialogs.printed.startsWith("Verifica dell'integrità\nCartella del programma: " +
                                           home.home()));
    EXPECT_TRUE(dialogs.printed.contains(shown[0]));
    EXPECT_TRUE(dialogs.printed.contains(shown[2]));  // the log's last line, to note down
}

TEST_F(EvidenceWindows, VerifyTellsHowFarItGotAndStopsWhenAsked) {
    std::atomic<bool> sawCancel{false};
    VerifyWindow window(*home.context, nullptr, [&](const CheckOptions& options) {
        options.progress({1234, 10000, 1234000000, 10000000000});
        for (int i = 0; i < 5000 && !options.cancel->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawCancel = options.cancel->load();
        CheckReport report;
        report.cancelled = true;
        return report;
    });
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QSignalSpy finished(&window, &VerifyWindow::checkFinished);
    window.start();
    for (int i = 0; i < 200 && window.progress->value() != 1234; ++i) QTest::qWait(10);
    EXPECT_EQ(window.progress->maximum(), 10000);
    EXPECT_EQ(window.status->text(),
              "Registrazioni controllate: 1234 di 10000 (1.234 di 10.000 MB)");
    EXPECT_TRUE(window.running());
    QTest::mouseClick(window.stopButton, Qt::LeftButton);
    ASSERT_TRUE(WaitFor(finished));
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(window.status->text(), "Verifica interrotta: l'esito non è completo.");
}

TEST_F(EvidenceWindows, ExportFromThePlayerTicksTheOpenedRecordingAndMakesAVerifiableBundle) {
    ExportDialog dialog(*home.context, {a});
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(dialog.chosen(), QStringList{a});
    QStringList all{a, b, c};
    std::sort(all.begin(), all.end(), std::greater<>());
    EXPECT_EQ(dialog.listed(), all) << "newest first";
    dialog.filter->setText(QFileInfo(b).completeBaseName());
    int visible = 0;
    for (int i = 0; i < dialog.recordings->count(); ++i)
        visible += dialog.recordings->item(i)->isHidden() ? 0 : 1;
    EXPECT_EQ(visible, 1);

    QTemporaryDir scratch;
    dialogs.names = {scratch.filePath("consegna.zip")};
    QTest::mouseClick(dialog.browseButton, Qt::LeftButton);
    EXPECT_EQ(dialog.target->text(), scratch.filePath("consegna.zip"));
    QSignalSpy finished(&dialog, &ExportDialog::exportFinished);
    QTest::mouseClick(dialog.exportButton, Qt::LeftButton);
    ASSERT_TRUE(WaitFor(finished));
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().icon, MsgIcon::Information);
    const QString manifestSha =
        home.boxes.last().text.section("SHA-256 del manifesto: ", 1).left(64);
    EXPECT_TRUE(IsSha256Hex(manifestSha)) << home.boxes.last().text.toStdString();
    const CheckReport report = CheckHandOverBundle(scratch.filePath("consegna.zip"));
    EXPECT_TRUE(report.clean()) << report.lines().join('\n').toStdString();
    EXPECT_EQ(report.recordingsChecked, 1);
}

TEST_F(EvidenceWindows, ExportAsksForWhatAndWhereAndCanBeStopped) {
    std::atomic<bool> sawCancel{false};
    ExportDialog dialog(*home.context, {}, nullptr, [&](const ExportRequest& request) {
        request.progress(1, 3);
        for (int i = 0; i < 5000 && !request.cancel->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawCancel = request.cancel->load();
        ExportResult result;
        result.cancelled = true;
        return result;
    });
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_TRUE(dialog.chosen().isEmpty());
    QTest::mouseClick(dialog.exportButton, Qt::LeftButton);
    EXPECT_EQ(home.boxes.last().text, "Selezionare almeno una registrazione da esportare.");
    dialog.recordings->item(0)->setCheckState(Qt::Checked);
    QTest::mouseClick(dialog.exportButton, Qt::LeftButton);
    EXPECT_TRUE(home.boxes.last().text.startsWith("Indicare la destinazione"));
    EXPECT_EQ(home.boxes.shown().size(), 2);

    dialog.target->setText("/tmp/non-usata");
    QSignalSpy finished(&dialog, &ExportDialog::exportFinished);
    QTest::mouseClick(dialog.exportButton, Qt::LeftButton);
    for (int i = 0; i < 200 && dialog.progress->value() != 1; ++i) QTest::qWait(10);
    EXPECT_EQ(dialog.status->text(), "Registrazioni preparate: 1 di 3");
    EXPECT_EQ(dialog.cancelButton->text(), "Annulla");
    QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
    ASSERT_TRUE(WaitFor(finished));
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(dialog.status->text(), "Esportazione annullata: nulla è stato creato.");
    EXPECT_EQ(dialog.cancelButton->text(), "Chiudi");
    EXPECT_EQ(home.boxes.shown().size(), 2);
}

TEST_F(EvidenceWindows, EndOfServiceLogsItsArchiveAndTheCheckWatchesIt) {
    ASSERT_TRUE(CloseServiceCatalogue(*home.context, "Quendral", "Servizio"));
    const auto lines = IntegrityLog(home.home()).read().lines;
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines.back().event, events::kServiceArchived);
    const QString archive = home.config.dataPath + "Quendral/datirec.mdb";
    EXPECT_EQ(lines.back().field("archivio"), archive);
    EXPECT_EQ(lines.back().field("righe"), "3");
    EXPECT_EQ(lines.back().field("sha256"), Sha256Hex(ReadBytes(archive)));
    EXPECT_TRUE(check().clean()) << check().lines().join('\n').toStdString();
}

}  // namespace
