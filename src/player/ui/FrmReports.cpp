#include "player/ui/FrmReports.h"

#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "evidence/ui/ExportDialog.h"
#include "player/ReportDocument.h"
#include "player/ui/SearchFilters.h"
#include "player/ui/SearchIndexUpdate.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kallomir {

namespace {
const QString kTitle = QStringLiteral("Brogliaccio");
}

frmReports::frmReports(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("frmReports"));
    setWindowTitle(kTitle);
    auto* layout = new QVBoxLayout(this);

    auto* filterBar = new QHBoxLayout;
    filters = new SearchFilters(this);
    filterBar->addWidget(filters, 1);
    auto* filterButtons = new QVBoxLayout;
    cmdFiltra = new QPushButton(QStringLiteral("&Filtra"), this);
    cmdFiltra->setObjectName(QStringLiteral("cmdFiltra"));
    cmdFiltra->setToolTip(
        QStringLiteral("Il brogliaccio delle sole registrazioni che rispondono "
                       "ai filtri"));
    cmdTutte = new QPushButton(QStringLiteral("&Tutte"), this);
    cmdTutte->setObjectName(QStringLiteral("cmdTutte"));
    cmdTutte->setToolTip(QStringLiteral("Il brogliaccio di tutte le registrazioni"));
    filterButtons->addWidget(cmdFiltra);
    filterButtons->addWidget(cmdTutte);
    filterButtons->addStretch(1);
    filterBar->addLayout(filterButtons);
    layout->addLayout(filterBar);
    connect(cmdFiltra, &QPushButton::clicked, this, [this] { cmdFiltra_Click(); });
    connect(cmdTutte, &QPushButton::clicked, this, [this] { cmdTutte_Click(); });
    connect(filters, &SearchFilters::submitted, this, [this] { cmdFiltra_Click(); });
    lblFiltro = new QLabel(this);
    lblFiltro->setObjectName(QStringLiteral("lblFiltro"));
    lblFiltro->setWordWrap(true);
    lblFiltro->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblFiltro);

    auto* bar = new QHBoxLayout;
    previous = new QPushButton(QStringLiteral("◀"), this);
    next = new QPushButton(QStringLiteral("▶"), this);
    pageLabel = new QLabel(this);
    zoom = new QComboBox(this);
    for (int percent : {50, 75, 100, 125, 150, 200}) {
        zoom->addItem(QStringLiteral("%1%").arg(percent), percent / 100.0);
    }
    zoom->setCurrentIndex(2);
    printButton = new QPushButton(QStringLiteral("Stampa"), this);
    pdfButton = new QPushButton(QStringLiteral("Esporta PDF"), this);
    bar->addWidget(previous);
    bar->addWidget(pageLabel);
    bar->addWidget(next);
    bar->addWidget(zoom);
    bar->addStretch(1);
    bar->addWidget(printButton);
    bar->addWidget(pdfButton);
    // The recordings of the logbook handed over: chosen in the export dialog.
    exportButton = new QPushButton(QStringLiteral("Esporta registrazioni"), this);
    bar->addWidget(exportButton);
    connect(exportButton, &QPushButton::clicked, this,
            [this] { ShowExportDialog(ctx_, this, {}); });
    layout->addLayout(bar);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("CRViewer91"));
    scroll_->setAlignment(Qt::AlignHCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    view = new QLabel(scroll_);
    view->setWordWrap(true);
    scroll_->setWidget(view);
    layout->addWidget(scroll_, 1);
    resize(900, 700);

    connect(previous, &QPushButton::clicked, this, [this] { showPage(page_ - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPage(page_ + 1); });
    connect(zoom, &QComboBox::activated, this,
            [this](int index) { setZoom(zoom->itemData(index).toDouble()); });
    connect(printButton, &QPushButton::clicked, this, &frmReports::print);
    connect(pdfButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Esporta PDF"),
                                                          QStringLiteral("brogliaccio.pdf"),
                                                          QStringLiteral("PDF (*.pdf)"));
        if (!path.isEmpty())
            exportPdf(path);
    });
}

frmReports::~frmReports() = default;

void frmReports::Form_Load() {
    try {
        rebuild(CatalogueReportRowSource(*ctx_.catalogue), SearchQuery{});
    } catch (const RuntimeError& e) {
        report_.reset();
        view->setText(e.description());
        view->adjustSize();
        pageLabel->clear();
        lblFiltro->clear();
        for (QWidget* w : {static_cast<QWidget*>(previous), static_cast<QWidget*>(next),
                           static_cast<QWidget*>(printButton), static_cast<QWidget*>(pdfButton)}) {
            w->setEnabled(false);
        }
        ReportError(ctx_.boxes, e, QStringLiteral("Form_Load"));
    }
}

bool frmReports::cmdFiltra_Click() {
    return applyFilter(filters->query(), QStringLiteral("cmdFiltra_Click"));
}

bool frmReports::cmdTutte_Click() {
    // The fields are kept when the catalogue fails, so the operator can try them again.
    if (!applyFilter(SearchQuery{}, QStringLiteral("cmdTutte_Click")))
        return false;
    filters->clear();
    return true;
}

bool frmReports::showFiltered(const SearchQuery& query) {
    filters->setQuery(query);
    return applyFilter(filters->query(), QStringLiteral("Form_Load"));
}

bool frmReports::applyFilter(const SearchQuery& query, const QString& handler) {
    if (RefuseInvalidRange(ctx_.boxes, query, kTitle))
        return false;
    try {
        if (IsUnfiltered(query)) {
            rebuild(CatalogueReportRowSource(*ctx_.catalogue), query);
            return true;
        }
        // A logbook that misses recordings not yet indexed would not say what it holds.
        if (!UpdateSearchIndex(*ctx_.catalogue, this, kTitle))
            return false;
        rebuild(SearchReportRowSource(*ctx_.catalogue, query), query);
        return true;
    } catch (const RuntimeError& e) {
        ReportError(ctx_.boxes, e, handler);
        return false;
    }
}

void frmReports::rebuild(const ReportRowSource& source, const SearchQuery& query) {
    auto report =
        std::make_unique<ReportDocument>(BuildReport(ctx_.homeFolder, source, ctx_.clock.now()));
    report->setNote(DescribeSearchQuery(query));
    report_ = std::move(report);
    setWindowTitle(report_->definition().title);
    const int rows = report_->rowCount();
    lblFiltro->setText(report_->note() + QStringLiteral(" (") +
                       (rows == 1 ? QStringLiteral("1 registrazione")
                                  : QStringLiteral("%1 registrazioni").arg(rows)) +
                       u')');
    printButton->setEnabled(true);
    pdfButton->setEnabled(true);
    showPage(0);
}

QString frmReports::filterText() const {
    return report_ ? report_->note() : QString();
}

void frmReports::showPage(int index) {
    if (!report_)
        return;
    page_ = std::clamp(index, 0, report_->pageCount() - 1);
    view->setPixmap(QPixmap::fromImage(report_->renderPage(page_, zoom_)));
    view->adjustSize();
    pageLabel->setText(QStringLiteral("Pagina %1 di %2").arg(page_ + 1).arg(report_->pageCount()));
    previous->setEnabled(page_ > 0);
    next->setEnabled(page_ + 1 < report_->pageCount());
}

void frmReports::setZoom(double value) {
    zoom_ = std::clamp(value, 0.25, 4.0);
    showPage(page_);
}

bool frmReports::exportPdf(const QString& path) {
    if (!report_)
        return false;
    QString error;
    if (!report_->exportPdf(path, &error)) {
        ctx_.boxes.show(error, kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
        return false;
    }
    return true;
}

void frmReports::print() {
    if (!report_)
        return;
    QPrinter printer;
    printer.setPageOrientation(report_->definition().landscape ? QPageLayout::Landscape
                                                               : QPageLayout::Portrait);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    const double scale = printer.resolution() / 72.0;
    report_->paintAll(
        painter, [&] { return printer.newPage(); }, scale);
    painter.end();
}

}  // namespace kallomir
