#include "player/ui/SearchFilters.h"

#include "core/MessageBoxService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace kallomir {

namespace {

const QString kMarkNames[3] = {QStringLiteral("Ascoltato"), QStringLiteral("Trascritto"),
                               QStringLiteral("Masterizzato")};
const QString kDateFormat = QStringLiteral("dd/MM/yyyy");

// The combo's entries in order: "Tutti", "Sì", "No".
MarkFilter MarkOf(const QComboBox* box) {
    return box->currentIndex() == 1   ? MarkFilter::Set
           : box->currentIndex() == 2 ? MarkFilter::Clear
                                      : MarkFilter::Any;
}

int IndexOf(MarkFilter mark) {
    return mark == MarkFilter::Set ? 1 : mark == MarkFilter::Clear ? 2 : 0;
}

}  // namespace

SearchFilters::SearchFilters(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SearchFilters"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    auto caption = [this](const QString& text, QWidget* buddy) {
        auto* label = new QLabel(text, this);
        label->setBuddy(buddy);
        return label;
    };
    auto lineEdit = [this](const char* name, const QString& placeholder) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setPlaceholderText(placeholder);
        edit->setClearButtonEnabled(true);
        connect(edit, &QLineEdit::returnPressed, this, &SearchFilters::submitted);
        return edit;
    };
    txtParole = lineEdit("txtParole", QStringLiteral("tutte le parole devono comparire"));
    grid->addWidget(caption(QStringLiteral("&Parole"), txtParole), 0, 0);
    grid->addWidget(txtParole, 0, 1, 1, 3);

    txtNumero = lineEdit("txtNumero", QStringLiteral("inizio o parte del numero"));
    grid->addWidget(caption(QStringLiteral("N&umero"), txtNumero), 1, 0);
    grid->addWidget(txtNumero, 1, 1);
    txtEtichetta = lineEdit("txtEtichetta", QString());
    grid->addWidget(caption(QStringLiteral("&Etichetta"), txtEtichetta), 1, 2);
    grid->addWidget(txtEtichetta, 1, 3);

    auto dateField = [this](const char* checkName, const QString& text, const char* editName,
                            QCheckBox*& check, QDateEdit*& edit) {
        check = new QCheckBox(text, this);
        check->setObjectName(QString::fromLatin1(checkName));
        edit = new QDateEdit(QDate::currentDate(), this);
        edit->setObjectName(QString::fromLatin1(editName));
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(kDateFormat);
        edit->setEnabled(false);
        connect(check, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    };
    dateField("chkDal", QStringLiteral("&Dal"), "dtDal", chkDal, dtDal);
    dateField("chkAl", QStringLiteral("&Al"), "dtAl", chkAl, dtAl);
    // A date keeps its own width however wide the window.
    grid->addWidget(chkDal, 2, 0);
    grid->addWidget(dtDal, 2, 1, Qt::AlignLeft);
    grid->addWidget(chkAl, 2, 2);
    grid->addWidget(dtAl, 2, 3, Qt::AlignLeft);

    auto* marks = new QHBoxLayout;
    const char* boxNames[3] = {"cboAscoltato", "cboTrascritto", "cboMasterizzato"};
    for (int i = 0; i < 3; ++i) {
        cboMarks[i] = new QComboBox(this);
        cboMarks[i]->setObjectName(QString::fromLatin1(boxNames[i]));
        cboMarks[i]->addItems(
            {QStringLiteral("Tutti"), QStringLiteral("Sì"), QStringLiteral("No")});
        marks->addWidget(caption(kMarkNames[i], cboMarks[i]));
        marks->addWidget(cboMarks[i]);
        marks->addSpacing(8);
    }
    marks->addStretch();
    grid->addLayout(marks, 3, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
}

SearchQuery SearchFilters::query() const {
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

void SearchFilters::setQuery(const SearchQuery& q) {
    txtParole->setText(q.words);
    txtNumero->setText(q.numero);
    chkDal->setChecked(q.from.has_value());
    if (q.from)
        dtDal->setDate(*q.from);
    chkAl->setChecked(q.to.has_value());
    if (q.to)
        dtAl->setDate(*q.to);
    txtEtichetta->setText(q.etichetta);
    cboMarks[0]->setCurrentIndex(IndexOf(q.letto));
    cboMarks[1]->setCurrentIndex(IndexOf(q.scritto));
    cboMarks[2]->setCurrentIndex(IndexOf(q.tradotto));
}

void SearchFilters::clear() {
    setQuery(SearchQuery{});
}

bool IsUnfiltered(const SearchQuery& q) {
    return q.words.trimmed().isEmpty() && q.numero.trimmed().isEmpty() && !q.from && !q.to &&
           q.etichetta.trimmed().isEmpty() && q.letto == MarkFilter::Any &&
           q.scritto == MarkFilter::Any && q.tradotto == MarkFilter::Any;
}

QString DescribeSearchQuery(const SearchQuery& q) {
    if (IsUnfiltered(q))
        return QStringLiteral("Tutte le registrazioni");
    QStringList parts;
    auto quoted = [](const QString& text) { return u'«' + text + u'»'; };
    if (!q.words.trimmed().isEmpty())
        parts << QStringLiteral("parole ") + quoted(q.words.simplified());
    if (!q.numero.trimmed().isEmpty())
        parts << QStringLiteral("numero ") + quoted(q.numero.trimmed());
    if (q.from)
        parts << QStringLiteral("dal ") + q.from->toString(kDateFormat);
    if (q.to)
        parts << QStringLiteral("al ") + q.to->toString(kDateFormat);
    if (!q.etichetta.trimmed().isEmpty())
        parts << QStringLiteral("etichetta ") + quoted(q.etichetta.trimmed());
    const MarkFilter marks[3] = {q.letto, q.scritto, q.tradotto};
    for (int i = 0; i < 3; ++i) {
        if (marks[i] != MarkFilter::Any)
            parts << kMarkNames[i] + (marks[i] == MarkFilter::Set ? QStringLiteral(" sì")
                                                                  : QStringLiteral(" no"));
    }
    return QStringLiteral("Filtro: ") + parts.join(QStringLiteral(", "));
}

bool RefuseInvalidRange(MessageBoxService& boxes, const SearchQuery& q, const QString& title) {
    if (!q.from || !q.to || *q.from <= *q.to)
        return false;
    boxes.show(QStringLiteral("La data iniziale è successiva a quella finale."), title,
               MsgButtons::Ok, MsgIcon::Exclamation);
    return true;
}

}  // namespace kallomir
