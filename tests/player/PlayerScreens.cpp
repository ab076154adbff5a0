// Shows the player with a recording open and formatted text, the report window, the search
// window and the logbook it opens with its filters, and saves a picture of each (run under
// Xvfb to look at the real rendering):
//   kallomir_player_screens OUTDIR
#include "PlayerFixture.h"

#include "player/ui/FrmCerca.h"
#include "player/ui/FrmReports.h"
#include "player/ui/SearchFilters.h"
#include "player/ui/TranscriptionEditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QSlider>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>

using namespace kallomir;
using namespace kallomir::test;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    PlayerFixture f;
    const QDateTime start(QDate(2024, 1, 31), QTime(14, 23, 5));
    f.addRecording(QStringLiteral("20240131_142305.Ems"), 22050, 16, 1, 95.0, start, 95);
    f.addRecording(QStringLiteral("20240131_150102.Ems"), 8000, 16, 2, 10.0, start.addSecs(2200),
                   10);
    FrmPlayer& p = f.load();
    f.open(QStringLiteral("20240131_142305.Ems"));
    p.btedit_Click();
    p.Check[0]->click();
    p.txtUtente->setText(QStringLiteral("Mario Rossi"));
    QTextEdit* text = p.Frame2->rtfTesto();
    text->setPlainText(
        QStringLiteral("Trascrizione della telefonata\nA: Pronto, chi parla?\nB: Sono io, ci "
                       "vediamo alle cinque.\n"));
    QTextCursor c(text->document());
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    text->setTextCursor(c);
    p.Frame2->tlbStandar_ButtonClick(QStringLiteral("bold"));
    p.Frame2->tlbStandar_ButtonClick(QStringLiteral("acenter"));
    c.movePosition(QTextCursor::NextBlock);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    text->setTextCursor(c);
    p.Frame2->tlbStandar_ButtonClick(QStringLiteral("italic"));
    p.HS_Cursor->setValue(30);
    p.BtiNIReg_Click();
    f.run(12.0);
    p.show();
    for (int i = 0; i < 20; ++i) {
        app.processEvents();
        QThread::msleep(20);
    }
    p.grab().save(out + QStringLiteral("/player.png"));

    // Save the transcription so the logbook shows its start.
    p.cmdSalva_Click();
    frmReports reports(*f.home.context);
    reports.Form_Load();
    reports.show();
    for (int i = 0; i < 20; ++i) {
        app.processEvents();
        QThread::msleep(20);
    }
    reports.grab().save(out + QStringLiteral("/reports.png"));

    // The search window with highlighted results.
    f.home.context->settings.save(QStringLiteral("progressivo"), QStringLiteral("0"));
    struct Found {
        const char* nome;
        const char* numero;
        const char* text;
    };
    const Found found[] = {
        {"20240205_091500.Ems", "0612345678",
         "Buongiorno, chiamo per la fattura di gennaio: il pagamento risulta in ritardo."},
        {"20240212_163000.Ems", "+393331112222",
         "La consegna in citt\\'e0 \\'e8 prevista per domani; richiamer\\'f2 dopo la telefonata al "
         "corriere."},
        {"20240301_104500.Ems", "",
         "Registrazione dalla sala: le chiamate ripetute sulla fattura vanno girate all'ufficio."},
    };
    for (const Found& r : found) {
        f.home.catalogue->recorderInsert(QString::fromLatin1(r.nome), f.home.context->settings,
                                         nullptr, QString::fromLatin1(r.numero));
        f.home.catalogue->playerSave(
            QString::fromLatin1(r.nome),
            PlayerMarks{.scritto = true,
                        .traduzione = QStringLiteral("{\\rtf1\\ansi ") + QString::fromUtf8(r.text) +
                                      QStringLiteral("\\par}")},
            QStringLiteral("Caso 7"), QStringLiteral("Mario Rossi"));
    }
    FrmCerca cerca(*f.home.context);
    cerca.Form_Load();
    cerca.filters->txtParole->setText(QStringLiteral("chiamata fattura"));
    cerca.cmdCerca_Click();
    cerca.resize(1000, 520);
    cerca.show();
    for (int i = 0; i < 20; ++i) {
        app.processEvents();
        QThread::msleep(20);
    }
    cerca.grab().save(out + QStringLiteral("/cerca.png"));

    // The logbook opened from there with its filters, as large as the screen allows.
    cerca.filters->chkDal->setChecked(true);
    cerca.filters->dtDal->setDate(QDate(2024, 2, 1));
    cerca.cmdBrogliaccio_Click();
    frmReports* filtered = cerca.logbook();
    if (filtered) {
        filtered->resize(app.primaryScreen()->availableSize());
        for (int i = 0; i < 20; ++i) {
            app.processEvents();
            QThread::msleep(20);
        }
        filtered->grab().save(out + QStringLiteral("/logbook-filtered.png"));
    }
    std::printf("saved %s/player.png, reports.png, cerca.png and logbook-filtered.png\n",
                qPrintable(out));
    return 0;
}
