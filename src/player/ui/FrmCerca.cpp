#include "player/ui/FrmCerca.h"

#include "catalogue/SearchWords.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/GeneralSound.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "player/RecordingSearch.h"
#include "player/ui/FrmReports.h"
#include "player/ui/SearchFilters.h"

#include <QAbstractTextDocumentLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextDocument>

#include <algorithm>
#include <iterator>

namespace kallomir {

namespace {

const QString kTitle = QStringLiteral("Cerca");
enum Column { Data, Ora, Numero, Etichetta, Segni, Testo, ColumnCount };
constexpr int kSortRole = Qt::UserRole + 1;
constexpr int kHitRole = Qt::UserRole + 2;

// Paints the snippet column's rich text (the matched words highlighted).
class SnippetDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString html = opt.text;
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        QTextDocument doc;
        doc.setDocumentMargin(2);
        doc.setDefaultFont(opt.font);
        doc.setHtml(html);
        painter->save();
        painter->translate(opt.rect.topLeft());
        painter->setClipRect(opt.rect.translated(-opt.rect.topLeft()));
        QAbstractTextDocumentLayout::PaintContext context;
        if (opt.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::HighlightedText));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }
};

QStandardItem* Item(const QString& text, const QVariant& sortKey) {
    auto* item = new QStandardItem(text);
    item->setData(sortKey, kSortRole);
    item->setEditable(false);
    return item;
}

}  // namespace

FrmCerca::FrmCerca(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FrmCerca"));
    setWindowTitle(kTitle);

    auto* grid = new QGridLayout(this);
    filters = new SearchFilters(this);
    grid->addWidget(filters, 0, 0, 4, 5);

    cmdCerca = new QPushButton(QStringLiteral("&Cerca"), this);
    cmdCerca->setObjectName(QStringLiteral("cmdCerca"));
    cmdCerca->setDefault(true);
    cmdAzzera = new QPushButton(QStringLiteral("A&zzera"), this);
    cmdAzzera->setObjectName(QStringLiteral("cmdAzzera"));
    grid->addWidget(cmdCerca, 2, 5);
    grid->addWidget(cmdAzzera, 3, 5);
    cmdBrogliaccio = new QPushButton(QStringLiteral("&Brogliaccio"), this);
    cmdBrogliaccio->setObjectName(QStringLiteral("cmdBrogliaccio"));
    cmdBrogliaccio->setToolTip(
        QStringLiteral("Il brogliaccio delle registrazioni trovate, da stampare o esportare"));
    grid->addWidget(cmdBrogliaccio, 1, 5);
    connect(cmdBrogliaccio, &QPushButton::clicked, this, [this] { cmdBrogliaccio_Click(); });
    connect(cmdCerca, &QPushButton::clicked, this, [this] { cmdCerca_Click(); });
    connect(cmdAzzera, &QPushButton::clicked, this, [this] { cmdAzzera_Click(); });
    connect(filters, &SearchFilters::submitted, this, [this] { cmdCerca_Click(); });

    model_ = new QStandardItemModel(0, ColumnCount, this);
    model_->setHorizontalHeaderLabels({QStringLiteral("Data"), QStringLiteral("Ora"),
                                       QStringLiteral("Numero"), QStringLiteral("Etichetta"),
                                       QStringLiteral("Segni"), QStringLiteral("Testo")});
    model_->setSortRole(kSortRole);
    Risultati = new QTableView(this);
    Risultati->setObjectName(QStringLiteral("Risultati"));
    Risultati->setModel(model_);
    Risultati->setSelectionBehavior(QAbstractItemView::SelectRows);
    Risultati->setSelectionMode(QAbstractItemView::SingleSelection);
    Risultati->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Risultati->setSortingEnabled(true);
    Risultati->sortByColumn(Data, Qt::DescendingOrder);
    Risultati->verticalHeader()->hide();
    Risultati->setWordWrap(false);
    Risultati->setItemDelegateForColumn(Testo, new SnippetDelegate(Risultati));
    Risultati->horizontalHeader()->setStretchLastSection(true);
    Risultati->installEventFilter(this);
    connect(Risultati, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { openResult(index.row()); });
    grid->addWidget(Risultati, 4, 0, 1, 6);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);

    lblEsito = new QLabel(this);
    lblEsito->setObjectName(QStringLiteral("lblEsito"));
    grid->addWidget(lblEsito, 5, 0, 1, 6);
    resize(900, 520);
}

void FrmCerca::Form_Load() {
    filters->txtParole->setFocus();
}

SearchQuery FrmCerca::query() const {
    return filters->query();
}

bool FrmCerca::cmdCerca_Click() {
    const SearchQuery q = query();
    if (RefuseInvalidRange(ctx_.boxes, q, kTitle))
        return false;
    try {
        const bool complete = UpdateSearchIndex(*ctx_.catalogue, this, kTitle);
        stems_ = SearchStems(q.words);
        showHits(ctx_.catalogue->search(q));
        if (!complete)
            lblEsito->setText(lblEsito->text() +
                              QStringLiteral(" (indice incompleto: alcune trascrizioni non sono "
                                             "ancora comprese)"));
        return true;
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, kTitle);
        return false;
    }
}

void FrmCerca::showHits(const SearchPage& page) {
    hits_ = page.hits;
    Risultati->setSortingEnabled(false);
    model_->removeRows(0, model_->rowCount());
    for (std::size_t i = 0; i < hits_.size(); ++i) {
        const CatalogueRow& row = hits_[i].row;
        const QString date =
            row.dtfile ? row.dtfile->toString(QStringLiteral("dd/MM/yyyy")) : QString();
        const QString iso = row.dtfile ? row.dtfile->toString(Qt::ISODate) : QString();
        QList<QStandardItem*> items = {
            Item(date, iso + u' ' + row.ora + u' ' + row.nome),
            Item(row.ora, row.ora),
            Item(row.numero, row.numero),
            Item(row.etichetta, row.etichetta.toLower()),
            Item(MarksText(row), MarksText(row)),
            Item(SnippetHtml(hits_[i].snippet), hits_[i].snippet.toLower()),
        };
        items[Testo]->setToolTip(
            QString(hits_[i].snippet).remove(QChar(kHitStart)).remove(QChar(kHitEnd)));
        items[Data]->setData(qulonglong(i), kHitRole);
        model_->appendRow(items);
    }
    Risultati->setSortingEnabled(true);
    Risultati->resizeColumnsToContents();
    Risultati->setColumnWidth(Testo, std::max(Risultati->columnWidth(Testo), 300));
    if (hits_.empty())
        lblEsito->setText(QStringLiteral("Nessuna registrazione trovata."));
    else if (page.more)
        lblEsito->setText(QStringLiteral("Le prime %1 registrazioni (più recenti): restringere la "
                                         "ricerca per vedere le altre.")
                              .arg(hits_.size()));
    else
        lblEsito->setText(hits_.size() == 1
                              ? QStringLiteral("1 registrazione trovata.")
                              : QStringLiteral("%1 registrazioni trovate.").arg(hits_.size()));
    if (!hits_.empty())
        Risultati->selectRow(0);
}

void FrmCerca::cmdAzzera_Click() {
    filters->clear();
    model_->removeRows(0, model_->rowCount());
    hits_.clear();
    lblEsito->clear();
    filters->txtParole->setFocus();
}

void FrmCerca::cmdBrogliaccio_Click() {
    const SearchQuery q = query();
    if (RefuseInvalidRange(ctx_.boxes, q, kTitle))
        return;
    try {
        if (!UpdateSearchIndex(*ctx_.catalogue, this, kTitle))
            return;
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, kTitle);
        return;
    }
    // A window of its own beside the catalogue's logbook, holding what the filters find; its
    // own filters start from these.
    auto* logbook = new frmReports(ctx_);
    logbook->setAttribute(Qt::WA_DeleteOnClose);
    if (!logbook->showFiltered(q)) {
        delete logbook;
        return;
    }
    logbook->show();
    lastLogbook_ = logbook;
}

frmReports* FrmCerca::logbook() const {
    return qobject_cast<frmReports*>(lastLogbook_.data());
}

bool FrmCerca::openResult(int row) {
    if (row < 0 || row >= model_->rowCount() || !ctx_.forms)
        return false;
    const CatalogueRow& found = hits_.at(model_->item(row, Data)->data(kHitRole).toULongLong()).row;
    PlayerLink& player = ctx_.forms->player();
    const QString folder = FindRecordingFolder(
        found.nome, {player.folderPath(), ctx_.config.recordingsFolder()},
        {ctx_.config.dataPath, ConfigurationDefaults::ForHome(ctx_.userHome).fallbackPath});
    if (folder.isEmpty()) {
        ctx_.boxes.show(QStringLiteral("Il file %1 non si trova nelle cartelle delle "
                                       "registrazioni (%2).")
                            .arg(found.nome, ctx_.config.dataPath),
                        kTitle, MsgButtons::Ok, MsgIcon::Exclamation);
        return false;
    }
    if (player.saveButtonEnabled()) {
        ctx_.boxes.show(QStringLiteral("Salvare o annullare la trascrizione in corso nel Player "
                                       "prima di aprire un'altra registrazione."),
                        kTitle, MsgButtons::Ok, MsgIcon::Exclamation);
        return false;
    }
    ctx_.forms->show(FormId::Player);
    return player.openFoundRecording(folder, found.nome, stems_);
}

bool FrmCerca::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Risultati && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openResult(Risultati->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kallomir
