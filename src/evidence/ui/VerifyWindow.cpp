#include "evidence/ui/VerifyWindow.h"

#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/MessageBoxService.h"
#include "player/ui/PlayerDialogs.h"

#include <QCloseEvent>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace kallomir {

namespace {
const char* const kWindowName = "VerifyWindow";

QString MegaBytes(qint64 bytes) {
    return QLocale(QLocale::Italian).toString(double(bytes) / 1e6, 'f', 0);
}
}  // namespace

VerifyWindow::VerifyWindow(AppContext& ctx, QWidget* parent, Runner runner)
    : QDialog(parent), ctx_(ctx), runner_(std::move(runner)) {
    setObjectName(QString::fromLatin1(kWindowName));
    setWindowTitle(QStringLiteral("Verifica"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (!runner_)
        runner_ = RunIntegrityCheck;

    auto* layout = new QVBoxLayout(this);
    status = new QLabel(this);
    status->setWordWrap(true);
    progress = new QProgressBar(this);
    progress->setRange(0, 0);
    result = new QPlainTextEdit(this);
    result->setReadOnly(true);
    result->setLineWrapMode(QPlainTextEdit::NoWrap);
    result->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QHBoxLayout;
    stopButton = new QPushButton(QStringLiteral("Annulla"), this);
    printButton = new QPushButton(QStringLiteral("Stampa"), this);
    closeButton = new QPushButton(QStringLiteral("Chiudi"), this);
    printButton->setEnabled(false);
    buttons->addWidget(stopButton);
    buttons->addStretch(1);
    buttons->addWidget(printButton);
    buttons->addWidget(closeButton);
    layout->addWidget(status);
    layout->addWidget(progress);
    layout->addWidget(result, 1);
    layout->addLayout(buttons);
    resize(860, 480);

    connect(stopButton, &QPushButton::clicked, this, [this] {
        cancel_ = true;
        stopButton->setEnabled(false);
        status->setText(QStringLiteral("Interruzione in corso..."));
    });
    connect(printButton, &QPushButton::clicked, this, &VerifyWindow::print);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}

VerifyWindow::~VerifyWindow() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void VerifyWindow::start() {
    if (worker_.joinable())
        return;
    status->setText(QStringLiteral("Verifica di registro, registrazioni e catalogo in %1 ...")
                        .arg(ctx_.homeFolder));
    CheckOptions options;
    options.programFolder = ctx_.homeFolder;
    options.recordingRoots = RecordingRoots(ctx_.homeFolder, ctx_.userHome);
    // Read here: the catalogue belongs to the window's thread.
    options.catalogue = ReadCatalogueSnapshot(*ctx_.catalogue);
    options.cancel = &cancel_;
    // Reports cross to the window's thread as queued calls; a closed window drops them.
    QPointer<VerifyWindow> self(this);
    options.progress = [self](const CheckProgress& p) {
        QMetaObject::invokeMethod(
            self, [self, p] { self->showProgress(p); }, Qt::QueuedConnection);
    };
    worker_ = std::thread([self, options, runner = runner_] {
        const CheckReport report = runner(options);
        QMetaObject::invokeMethod(
            self, [self, report] { self->showReport(report); }, Qt::QueuedConnection);
    });
}

void VerifyWindow::showProgress(const CheckProgress& p) {
    progress->setRange(0, std::max(1, p.filesTotal));
    progress->setValue(p.filesDone);
    status->setText(QStringLiteral("Registrazioni controllate: %1 di %2 (%3 di %4 MB)")
                        .arg(p.filesDone)
                        .arg(p.filesTotal)
                        .arg(MegaBytes(p.bytesDone), MegaBytes(p.bytesTotal)));
}

void VerifyWindow::showReport(const CheckReport& report) {
    report_ = report;
    finished_ = true;
    progress->setRange(0, 1);
    progress->setValue(1);
    stopButton->setEnabled(false);
    printButton->setEnabled(true);
    status->setText(
        report.clean() ? QStringLiteral("Tutto in ordine.")
        : report.cancelled
            ? QStringLiteral("Verifica interrotta: l'esito non è completo.")
            : QStringLiteral("Trovato: %1.").arg(ProblemCount(int(report.findings.size()))));
    result->setPlainText(report.lines().join(u'\n'));
    emit checkFinished();
}

void VerifyWindow::fillDocument(QTextDocument& document) const {
    document.clear();
    document.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QTextCursor cursor(&document);
    QTextCharFormat heading;
    heading.setFontWeight(QFont::Bold);
    heading.setFontPointSize(14);
    cursor.insertText(QStringLiteral("Verifica dell'integrità"), heading);
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Cartella del programma: %1\nVerifica del %2\n")
                          .arg(QDir::toNativeSeparators(report_.programFolder),
                               report_.finishedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))),
                      QTextCharFormat());
    cursor.insertBlock();
    cursor.insertText(report_.lines().join(u'\n'), QTextCharFormat());
}

void VerifyWindow::print() {
    if (!ctx_.dialogs)
        return;
    QTextDocument document;
    fillDocument(document);
    ctx_.dialogs->print(this, document);
}

void VerifyWindow::closeEvent(QCloseEvent* event) {
    // A check under way is stopped, not left running behind a closed window.
    cancel_ = true;
    QDialog::closeEvent(event);
}

VerifyWindow* ShowVerifyWindow(AppContext& ctx, QWidget* parent) {
    if (parent) {
        if (auto* open = parent->findChild<VerifyWindow*>(QString::fromLatin1(kWindowName),
                                                          Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    }
    auto* window = new VerifyWindow(ctx, parent);
    window->show();
    window->start();
    return window;
}

}  // namespace kallomir
