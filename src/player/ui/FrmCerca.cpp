#include "player/ui/FrmCerca.h"

#include "catalogue/SearchWords.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/GeneralSound.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "player/RecordingSearch.h"
#include "player/ReportRows.h"
#include "player/ui/FrmReports.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextDocument>

namespace kallomir {

namespace {

const QString kTitle = QStringLiteral("Cerca");
constexpr int kBatch = 500;  // rows indexed between two steps of the progress bar
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

MarkFilter MarkOf(const QComboBox* box) {
    return box->currentIndex() == 1   ? MarkFilter::Set
           : box->currentIndex() == 2 ? MarkFilter::Clear
                                      : MarkFilter::Any;
}

}  // namespace

FrmCerca::FrmCerca(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FrmCerca"));
    setWindowTitle(kTitle);

    auto* grid = new QGridLayout(this);
    auto caption = [this](const QString& text, QWidget* buddy) {
        auto* label = new QLabel(text, this);
        label->setBuddy(buddy);
        return label;
    };
    txtParole = new QLineEdit(this);
    txtParole->setObjectName(QStringLiteral("txtParole"));
    txtParole->setPlaceholderText(QStringLiteral("tutte le parole devono comparire"));
    txtParole->setClearButtonEnabled(true);
    grid->addWidget(caption(QStringLiteral("&Parole"), txtParole), 0, 0);
    grid->addWidget(txtParole, 0, 1, 1, 5);

    txtNumero = new QLineEdit(this);
    txtNumero->setObjectName(QStringLiteral("txtNumero"));
    txtNumero->setPlaceholderText(QStringLiteral("inizio o parte del numero"));
    txtNumero->setClearButtonEnabled(true);
    grid->addWidget(caption(QStringLiteral("N&umero"), txtNumero), 1, 0);
    grid->addWidget(txtNumero, 1, 1);

    txtEtichetta = new QLineEdit(this);
    txtEtichetta->setObjectName(QStringLiteral("txtEtichetta"));
    txtEtichetta->setClearButtonEnabled(true);
    grid->addWidget(caption(QStringLiteral("&Etichetta"), txtEtichetta), 1, 2);
    grid->addWidget(txtEtichetta, 1, 3, 1, 3);

    auto dateField = [this](const char* checkName, const QString& text, const char* editName,
                            QCheckBox*& check, QDateEdit*& edit) {
        check = new QCheckBox(text, this);
        check->setObjectName(QString::fromLatin1(checkName));
        edit = new QDateEdit(QDate::currentDate(), this);
        edit->setObjectName(QString::fromLatin1(editName));
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        edit->setEnabled(false);
        connect(check, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    };
    dateField("chkDal", QStringLiteral("&Dal"), "dtDal", chkDal, dtDal);
    dateField("chkAl", QStringLiteral("&Al"), "dtAl", chkAl, dtAl);
    grid->addWidget(chkDal, 2, 0);
    grid->addWidget(dtDal, 2, 1);
    grid->addWidget(chkAl, 2, 2);
    grid->addWidget(dtAl, 2, 3);

    auto* marks = new QHBoxLayout;
    const QString markNames[3] = {QStringLiteral("Ascoltato"), QStringLiteral("Trascritto"),
                                  QStringLiteral("Masterizzato")};
    const char* boxNames[3] = {"cboAscoltato", "cboTrascritto", "cboMasterizzato"};
    for (int i = 0; i < 3; ++i) {
        cboMarks[i] = new QComboBox(this);
        cboMarks[i]->setObjectName(QString::fromLatin1(boxNames[i]));
        cboMarks[i]->addItems(
            {QStringLiteral("Tutti"), QStringLiteral("Sì"), QStringLiteral("No")});
        marks->addWidget(new QLabel(markNames[i], this));
        marks->addWidget(cboMarks[i]);
        marks->addSpacing(8);
    }
    marks->addStretch();
    grid->addLayout(marks, 3, 0, 1, 4);

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
    for (QLineEdit* edit : {txtParole, txtNumero, txtEtichetta})
        connect(edit, &QLineEdit::returnPressed, this, [this] { cmdCerca_Click(); });

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
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    lblEsito = new QLabel(this);
    lblEsito->setObjectName(QStringLiteral("lblEsito"));
    grid->addWidget(lblEsito, 5, 0, 1, 6);
    resize(900, 520);
}

void FrmCerca::Form_Load() {
    txtParole->setFocus();
}

SearchQuery FrmCerca::query() const {
    SearchQuery q;
    q.words = txtParole->text();
    q.numero = txtNumero->text().remove(u' ');
    if (chkDal->isChecked())
        q.from = dtDal->date();
    if (chkAl->isChecked())
        q.to = dtAl->date();
    q.etichetta = txtEtichetta->text();
    q.letto = MarkOf(cboMarks[0]);
    q.scritto = MarkOf(cboMarks[1]);
    q.tradotto = MarkOf(cboMarks[2]);
    return q;
}

bool FrmCerca::updateIndex() {
    CatalogueStore& catalogue = *ctx_.catalogue;
    int left = catalogue.searchBacklog();
    if (left == 0)
        return true;
    if (left <= kQuietBacklog) {
        catalogue.indexBacklog(left, TranscriptionPlainText);
        return true;
    }
    // The first search over a catalogue from before the index, or after many changes.
    const int total = left;
    QProgressDialog progress(QStringLiteral("Indicizzazione delle trascrizioni..."),
                             QStringLiteral("Annulla"), 0, total, this);
    progress.setWindowTitle(kTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    while (left > 0) {
        left = catalogue.indexBacklog(kBatch, TranscriptionPlainText);
        progress.setValue(total - left);
        QApplication::processEvents();
        if (progress.wasCanceled())
            break;
    }
    return left == 0;
}

bool FrmCerca::cmdCerca_Click() {
    const SearchQuery q = query();
    if (q.from && q.to && *q.from > *q.to) {
        ctx_.boxes.show(QStringLiteral("La data iniziale è successiva a quella finale."), kTitle,
                        MsgButtons::Ok, MsgIcon::Exclamation);
        return false;
    }
    try {
        const bool complete = updateIndex();
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
    for (QLineEdit* edit : {txtParole, txtNumero, txtEtichetta}) edit->clear();
    chkDal->setChecked(false);
    chkAl->setChecked(false);
    for (QComboBox* box : cboMarks) box->setCurrentIndex(0);
    model_->removeRows(0, model_->rowCount());
    hits_.clear();
    lblEsito->clear();
    txtParole->setFocus();
}

void FrmCerca::cmdBrogliaccio_Click() {
    try {
        if (!updateIndex())
            return;
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, kTitle);
        return;
    }
    // A window of its own beside the catalogue's logbook, holding what the filters find.
    auto* logbook = new frmReports(ctx_);
    logbook->setAttribute(Qt::WA_DeleteOnClose);
    logbook->setRowSource(std::make_unique<SearchReportRowSource>(*ctx_.catalogue, query()));
    logbook->Form_Load();
    logbook->setWindowTitle(logbook->windowTitle() + QStringLiteral(" - ricerca"));
    logbook->resize(900, 700);
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
