#include "evidence/ui/ExportDialog.h"

#include "KallomirVersion.h"
#include "catalogue/CatalogueStore.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "evidence/IntegrityCheck.h"
#include "evidence/IntegrityLog.h"
#include "player/ui/PlayerDialogs.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

namespace kallomir {

namespace {

constexpr int kPathRole = Qt::UserRole;

// Every recording the operator may hand over: those in the recordings folders and those the
// integrity log names, newest first.
QStringList KnownRecordings(const AppContext& ctx) {
    QStringList files = FindRecordings(RecordingRoots(ctx.homeFolder, ctx.userHome));
    try {
        for (const LogLine& line : IntegrityLog(ctx.homeFolder).read().lines) {
            const QString file = line.field(QStringLiteral("file"));
            if (line.wellFormed && !file.isEmpty() && QFileInfo::exists(file))
                files << QDir::cleanPath(file);
        }
    } catch (const RuntimeError&) {
        // The folders' own list still stands; the check tells about the log.
    }
    files.removeDuplicates();
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() > QFileInfo(b).fileName();
    });
    return files;
}

}  // namespace

ExportDialog::ExportDialog(AppContext& ctx, const QStringList& ticked, QWidget* parent,
                           Exporter exporter)
    : QDialog(parent), ctx_(ctx), exporter_(std::move(exporter)) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Esporta per la consegna"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (!exporter_)
        exporter_ = ExportHandOver;

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Registrazioni da consegnare:"), this));
    filter = new QLineEdit(this);
    filter->setPlaceholderText(QStringLiteral("Cerca per nome o cartella"));
    filter->setClearButtonEnabled(true);
    layout->addWidget(filter);
    recordings = new QListWidget(this);
    layout->addWidget(recordings, 1);
    auto* where = new QHBoxLayout;
    where->addWidget(new QLabel(QStringLiteral("Destinazione:"), this));
    target = new QLineEdit(this);
    target->setPlaceholderText(
        QStringLiteral("cartella nuova, oppure archivio che termina con .zip"));
    browseButton = new QPushButton(QStringLiteral("Sfoglia..."), this);
    where->addWidget(target, 1);
    where->addWidget(browseButton);
    layout->addLayout(where);
    progress = new QProgressBar(this);
    progress->setValue(0);
    status = new QLabel(this);
    status->setWordWrap(true);
    layout->addWidget(progress);
    layout->addWidget(status);
    auto* buttons = new QHBoxLayout;
    exportButton = new QPushButton(QStringLiteral("Esporta"), this);
    cancelButton = new QPushButton(QStringLiteral("Chiudi"), this);
    buttons->addStretch(1);
    buttons->addWidget(exportButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    resize(640, 520);

    fill(ticked);
    connect(filter, &QLineEdit::textChanged, this, &ExportDialog::applyFilter);
    connect(browseButton, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(exportButton, &QPushButton::clicked, this, &ExportDialog::exportNow);
    connect(cancelButton, &QPushButton::clicked, this, [this] {
        if (running()) {
            cancel_ = true;
            cancelButton->setEnabled(false);
            status->setText(QStringLiteral("Interruzione in corso..."));
        } else {
            close();
        }
    });
}

ExportDialog::~ExportDialog() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void ExportDialog::fill(const QStringList& ticked) {
    // One read of the catalogue for the whole list: it may hold thousands of rows.
    QSet<QString> transcribed;
    try {
        for (const FingerprintedRow& row : ctx_.catalogue->fingerprintedRows()) {
            if (row.traduzione)
                transcribed.insert(row.nome.toLower());
        }
    } catch (const RuntimeError&) {
        // The list still shows the files; the export tells what the catalogue lacks.
    }
    QStringList files = KnownRecordings(ctx_);
    for (const QString& file : ticked) {
        const QString clean = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
        if (!files.contains(clean))
            files.prepend(clean);
    }
    for (const QString& file : files) {
        const QString nome = QFileInfo(file).fileName();
        QString text =
            nome + QStringLiteral("   ") + QDir::toNativeSeparators(QFileInfo(file).path());
        if (transcribed.contains(nome.toLower()))
            text += QStringLiteral("   (trascritta)");
        auto* item = new QListWidgetItem(text, recordings);
        item->setData(kPathRole, file);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool tick = std::any_of(ticked.begin(), ticked.end(), [&](const QString& t) {
            return QDir::cleanPath(QFileInfo(t).absoluteFilePath()) == file;
        });
        item->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
    }
    if (recordings->count() == 0)
        status->setText(QStringLiteral("Nessuna registrazione trovata."));
}

QStringList ExportDialog::listed() const {
    QStringList files;
    for (int i = 0; i < recordings->count(); ++i)
        files << recordings->item(i)->data(kPathRole).toString();
    return files;
}

QStringList ExportDialog::chosen() const {
    QStringList files;
    for (int i = 0; i < recordings->count(); ++i) {
        if (recordings->item(i)->checkState() == Qt::Checked)
            files << recordings->item(i)->data(kPathRole).toString();
    }
    return files;
}

void ExportDialog::applyFilter(const QString& text) {
    for (int i = 0; i < recordings->count(); ++i) {
        QListWidgetItem* item = recordings->item(i);
        item->setHidden(!text.isEmpty() && !item->text().contains(text, Qt::CaseInsensitive));
    }
}

void ExportDialog::browse() {
    if (!ctx_.dialogs)
        return;
    if (const auto name =
            ctx_.dialogs->saveFileName(this, QStringLiteral("Esporta per la consegna"),
                                       QStringLiteral("Archivio ZIP (*.zip);;Cartella (*)")))
        target->setText(*name);
}

void ExportDialog::exportNow() {
    if (running())
        return;
    const QStringList files = chosen();
    if (files.isEmpty()) {
        ctx_.boxes.show(QStringLiteral("Selezionare almeno una registrazione da esportare."),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
        return;
    }
    if (target->text().trimmed().isEmpty()) {
        ctx_.boxes.show(QStringLiteral("Indicare la destinazione: una cartella nuova oppure un "
                                       "archivio .zip."),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
        return;
    }
    if (worker_.joinable())
        worker_.join();  // an earlier export, finished
    ExportRequest request;
    request.programFolder = ctx_.homeFolder;
    request.recordings = files;
    // Read here: the catalogue belongs to the window's thread.
    request.catalogue = ReadExportCatalogue(*ctx_.catalogue, files);
    request.target = target->text().trimmed();
    request.now = ctx_.clock.now();
    request.program = QStringLiteral("Kallomir %1.%2.%3")
                          .arg(kVersionMajor)
                          .arg(kVersionMinor)
                          .arg(kVersionRevision);
    cancel_ = false;
    request.cancel = &cancel_;
    QPointer<ExportDialog> self(this);
    request.progress = [self](int done, int total) {
        QMetaObject::invokeMethod(
            self,
            [self, done, total] {
                self->progress->setRange(0, total);
                self->progress->setValue(done);
                self->status->setText(
                    QStringLiteral("Registrazioni preparate: %1 di %2").arg(done).arg(total));
            },
            Qt::QueuedConnection);
    };
    finished_ = false;
    exportButton->setEnabled(false);
    cancelButton->setText(QStringLiteral("Annulla"));
    status->setText(QStringLiteral("Esportazione in corso..."));
    progress->setRange(0, int(files.size()));
    progress->setValue(0);
    worker_ = std::thread([self, request, exporter = exporter_] {
        ExportResult result;
        QString error;
        int number = 0;
        try {
            result = exporter(request);
        } catch (const RuntimeError& e) {
            error = e.description();
            number = e.number();
        }
        QMetaObject::invokeMethod(
            self, [self, result, error, number] { self->finish(result, error, number); },
            Qt::QueuedConnection);
    });
}

void ExportDialog::finish(const ExportResult& result, const QString& error, int errorNumber) {
    finished_ = true;
    exportButton->setEnabled(true);
    cancelButton->setEnabled(true);
    cancelButton->setText(QStringLiteral("Chiudi"));
    if (!error.isEmpty()) {
        status->setText(QStringLiteral("Esportazione non riuscita."));
        ReportError(ctx_.boxes, errorNumber, error, QStringLiteral("Esporta"));
    } else if (result.cancelled) {
        status->setText(QStringLiteral("Esportazione annullata: nulla è stato creato."));
    } else if (!result.refused.isEmpty()) {
        status->setText(QStringLiteral("Esportazione rifiutata."));
        ctx_.boxes.show(result.refused, kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
    } else {
        progress->setValue(progress->maximum());
        const QString text =
            QStringLiteral(
                "Pacchetto creato: %1 (%2 file).\nSHA-256 del manifesto: %3\nAnnotare "
                "questo codice sulla ricevuta di consegna; chi riceve il pacchetto lo "
                "controlla con: kallomir --verify-export \"%1\"")
                .arg(QDir::toNativeSeparators(result.target))
                .arg(result.files)
                .arg(result.manifestSha256);
        status->setText(text);
        ctx_.boxes.show(text, kApplicationTitle, MsgButtons::Ok, MsgIcon::Information);
    }
    emit exportFinished();
}

void ExportDialog::closeEvent(QCloseEvent* event) {
    if (running()) {
        // The bundle being written is abandoned and removed, never left half made.
        cancel_ = true;
    }
    QDialog::closeEvent(event);
}

ExportDialog* ShowExportDialog(AppContext& ctx, QWidget* parent, const QStringList& ticked) {
    auto* dialog = new ExportDialog(ctx, ticked, parent);
    dialog->show();
    return dialog;
}

}  // namespace kallomir
