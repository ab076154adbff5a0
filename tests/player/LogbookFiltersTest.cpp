// The logbook chooses its rows with the search's filters, says which filter it holds (in the
// window and at the foot of every page), and is opened from "Cerca" with those filters.
#include "catalogue/SqliteCatalogue.h"
#include "core/RuntimeError.h"
#include "player/ReportDocument.h"
#include "player/ui/FrmCerca.h"
#include "player/ui/FrmReports.h"
#include "player/ui/SearchFilters.h"
#include "support/TempHome.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace kallomir;

namespace {

// The embedded catalogue that can be made to fail as a server gone away does.
class AwayCatalogue : public SqliteCatalogue {
public:
    using SqliteCatalogue::SqliteCatalogue;
    bool away = false;
    SearchPage search(const SearchQuery& query) override {
        fail();
        return SqliteCatalogue::search(query);
    }
    std::vector<CatalogueRecord> allRows() override {
        fail();
        return SqliteCatalogue::allRows();
    }

private:
    void fail() const {
        if (away)
            throw RuntimeError(3151, QStringLiteral("il server del catalogo non risponde"));
    }
};

const std::string kAll = "20240110 20240215 20240320 20240405";

class LogbookFilters : public ::testing::Test {
protected:
    void SetUp() override {
        auto store = std::make_unique<AwayCatalogue>(home.path("datirec.mdb"));
        catalogue = store.get();
        home.useCatalogue(std::move(store));
        catalogue->create();
        home.context->settings.save("progressivo", "0");
        // One column, the name, in name order: the rows a report holds are easy to read.
        home.writeFile("report.rpt", "title: Brogliaccio\nsort: NOME\ncolumn: Nome | NOME | 20\n");
        add("20240110_090000.Ems", "0612345678", "Il cliente chiama per la fattura", "AT",
            "Caso 7");
        add("20240215_100000.Ems", "+393331112222", "Ritardo in citt\\'e0", "T", "E");
        add("20240320_110000.Ems", "", "{\\b chiamate} ripetute sulla fattura", "M", "caso 9");
        add("20240405_120000.Ems", "0698765432", "consegna domani", "", "");
    }
    // marks: A Ascoltato, T Trascritto, M Masterizzato.
    void add(const QString& nome, const QString& numero, const QString& text,
             const QString& marksSet, const QString& etichetta) {
        catalogue->recorderInsert(nome, home.context->settings, nullptr, numero);
        PlayerMarks marks;
        marks.letto = marksSet.contains(u'A');
        marks.scritto = marksSet.contains(u'T');
        marks.tradotto = marksSet.contains(u'M');
        marks.traduzione = QStringLiteral("{\\rtf1\\ansi ") + text + QStringLiteral("\\par}");
        catalogue->playerSave(nome, marks, etichetta, "op");
    }
    // The names the report holds, page after page (their dates, "yyyymmdd", one space apart).
    static std::string names(const frmReports& w) {
        QStringList out;
        if (!w.report())
            return {};
        for (int p = 0; p < w.report()->pageCount(); ++p)
            for (const ReportDocument::Line& line : w.report()->page(p))
                if (!line.groupHeading)
                    out << line.cells.value(0).left(8);
        return out.join(u' ').toStdString();
    }

    test::TempHome home;
    AwayCatalogue* catalogue = nullptr;
};

TEST_F(LogbookFilters, FiltersChooseTheRowsAndTheFilterIsStated) {
    frmReports w(*home.context);
    w.Form_Load();
    ASSERT_EQ(names(w), kAll);
    SearchFilters& f = *w.filters;
    struct Case {
        const char* what;
        std::function<void()> set;
        std::string rows;
        QString note;
    };
    const Case cases[] = {
        {"a word, in any of its forms, of text saved since the index was last brought up",
         [&] { f.txtParole->setText("fatture"); }, "20240110 20240320", "Filtro: parole «fatture»"},
        {"part of the number, spaces ignored", [&] { f.txtNumero->setText("0 6"); },
         "20240110 20240405", "Filtro: numero «06»"},
        {"a date range, both ends inclusive",
         [&] {
             f.chkDal->setChecked(true);
             f.dtDal->setDate(QDate(2024, 2, 15));
             f.chkAl->setChecked(true);
             f.dtAl->setDate(QDate(2024, 3, 20));
         },
         "20240215 20240320", "Filtro: dal 15/02/2024, al 20/03/2024"},
        {"from a date on",
         [&] {
             f.chkDal->setChecked(true);
             f.dtDal->setDate(QDate(2024, 3, 1));
         },
         "20240320 20240405", "Filtro: dal 01/03/2024"},
        {"a mark set", [&] { f.cboMarks[0]->setCurrentIndex(1); }, "20240110",
         "Filtro: Ascoltato sì"},
        {"a mark clear", [&] { f.cboMarks[1]->setCurrentIndex(2); }, "20240320 20240405",
         "Filtro: Trascritto no"},
        {"the label, any case", [&] { f.txtEtichetta->setText("CASO"); }, "20240110 20240320",
         "Filtro: etichetta «CASO»"},
        {"a combination: every filter must hold",
         [&] {
             f.txtParole->setText("fattura");
             f.chkDal->setChecked(true);
             f.dtDal->setDate(QDate(2024, 2, 1));
             f.cboMarks[2]->setCurrentIndex(1);
         },
         "20240320", "Filtro: parole «fattura», dal 01/02/2024, Masterizzato sì"},
        {"nothing found", [&] { f.txtNumero->setText("0699"); }, "", "Filtro: numero «0699»"},
        {"empty filters: every row", [] {}, "20240110 20240215 20240320 20240405",
         "Tutte le registrazioni"},
    };
    for (const Case& c : cases) {
        f.clear();
        c.set();
        ASSERT_TRUE(w.cmdFiltra_Click()) << c.what;
        EXPECT_EQ(names(w), c.rows) << c.what;
        EXPECT_EQ(w.filterText(), c.note) << c.what;
        EXPECT_EQ(w.report()->note(), c.note) << c.what << ": printed at each page's foot";
        EXPECT_TRUE(w.lblFiltro->text().startsWith(c.note)) << c.what;
        const auto count = c.rows.empty() ? 0 : std::count(c.rows.begin(), c.rows.end(), ' ') + 1;
        EXPECT_TRUE(w.lblFiltro->text().endsWith(
            QStringLiteral("(%1 registrazion%2)").arg(count).arg(count == 1 ? "e" : "i")))
            << c.what << ": " << w.lblFiltro->text().toStdString();
    }
    EXPECT_TRUE(home.boxes.empty()) << home.boxes.texts().join(u'|').toStdString();

    // The note is drawn on the page, not only kept.
    f.txtParole->setText("fattura");
    ASSERT_TRUE(w.cmdFiltra_Click());
    ReportDocument bare = *w.report();
    bare.setNote(QString());
    EXPECT_NE(bare.renderPage(0, 1.0), w.report()->renderPage(0, 1.0));

    // "Tutte": every row again, the fields emptied; Enter in a field filters.
    w.cmdTutte->click();
    EXPECT_EQ(names(w), kAll);
    EXPECT_EQ(w.filterText(), "Tutte le registrazioni");
    EXPECT_TRUE(f.txtParole->text().isEmpty());
    f.txtNumero->setText("333");
    QTest::keyClick(f.txtNumero, Qt::Key_Return);
    EXPECT_EQ(names(w), "20240215");
}

TEST_F(LogbookFilters, InvalidRangeAndCatalogueErrorsReachTheOperatorAndKeepTheReport) {
    frmReports w(*home.context);
    w.Form_Load();
    w.filters->txtNumero->setText("06");
    ASSERT_TRUE(w.cmdFiltra_Click());
    const std::string shown = names(w);
    const QString label = w.lblFiltro->text();

    w.filters->chkDal->setChecked(true);
    w.filters->dtDal->setDate(QDate(2024, 3, 2));
    w.filters->chkAl->setChecked(true);
    w.filters->dtAl->setDate(QDate(2024, 3, 1));
    EXPECT_FALSE(w.cmdFiltra_Click());
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().text, "La data iniziale è successiva a quella finale.");
    EXPECT_EQ(home.boxes.last().icon, MsgIcon::Exclamation);

    struct Case {
        const char* what;
        std::function<bool()> act;
        QString title;
    };
    const Case cases[] = {
        {"Filtra", [&] { return w.cmdFiltra_Click(); }, "cmdFiltra_Click"},
        {"Tutte", [&] { return w.cmdTutte_Click(); }, "cmdTutte_Click"},
    };
    w.filters->chkAl->setChecked(false);
    catalogue->away = true;
    for (const Case& c : cases) {
        home.boxes.clear();
        EXPECT_FALSE(c.act()) << c.what;
        ASSERT_EQ(home.boxes.shown().size(), 1) << c.what;
        EXPECT_EQ(home.boxes.last().title, c.title);
        EXPECT_EQ(home.boxes.last().icon, MsgIcon::Critical);
        EXPECT_TRUE(home.boxes.last().text.contains("il server del catalogo non risponde"))
            << home.boxes.last().text.toStdString();
        EXPECT_EQ(names(w), shown) << c.what << ": the report shown stays, with its statement";
        EXPECT_EQ(w.lblFiltro->text(), label) << c.what;
    }
    EXPECT_EQ(w.filters->txtNumero->text(), "06") << "a failed Tutte keeps what was typed";

    // A logbook that could not load at all prints again once the catalogue answers.
    frmReports fresh(*home.context);
    home.boxes.clear();
    fresh.Form_Load();
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_FALSE(fresh.printButton->isEnabled());
    catalogue->away = false;
    ASSERT_TRUE(fresh.cmdTutte_Click());
    EXPECT_TRUE(fresh.printButton->isEnabled());
    EXPECT_TRUE(fresh.pdfButton->isEnabled());
    EXPECT_EQ(names(fresh), kAll);
}

TEST_F(LogbookFilters, BrogliaccioFromCercaOpensTheLogbookWithItsFilters) {
    FrmCerca cerca(*home.context);
    cerca.filters->txtParole->setText("fattura");
    cerca.filters->chkAl->setChecked(true);
    cerca.filters->dtAl->setDate(QDate(2024, 2, 1));
    cerca.filters->cboMarks[1]->setCurrentIndex(1);
    cerca.cmdBrogliaccio->click();
    frmReports* logbook = cerca.logbook();
    ASSERT_NE(logbook, nullptr);
    EXPECT_TRUE(logbook->filters->isVisibleTo(logbook));
    EXPECT_EQ(logbook->filters->txtParole->text(), "fattura");
    EXPECT_TRUE(logbook->filters->chkAl->isChecked());
    EXPECT_EQ(logbook->filters->dtAl->date(), QDate(2024, 2, 1));
    EXPECT_FALSE(logbook->filters->chkDal->isChecked());
    EXPECT_EQ(logbook->filters->cboMarks[1]->currentIndex(), 1);
    EXPECT_EQ(names(*logbook), "20240110");
    EXPECT_EQ(logbook->filterText(), "Filtro: parole «fattura», al 01/02/2024, Trascritto sì");

    // Filtering again there is the logbook's own affair.
    logbook->filters->chkAl->setChecked(false);
    logbook->filters->cboMarks[1]->setCurrentIndex(0);
    ASSERT_TRUE(logbook->cmdFiltra_Click());
    EXPECT_EQ(names(*logbook), "20240110 20240320");
    delete logbook;

    // A range the search refuses opens no logbook.
    cerca.filters->chkDal->setChecked(true);
    cerca.filters->dtDal->setDate(QDate(2024, 2, 2));
    cerca.cmdBrogliaccio_Click();
    EXPECT_EQ(cerca.logbook(), nullptr);
    ASSERT_FALSE(home.boxes.empty());
    EXPECT_EQ(home.boxes.last().text, "La data iniziale è successiva a quella finale.");
    EXPECT_EQ(home.boxes.last().title, "Cerca");
}

// Every field, caption and button can be read: none covers another, is cut by the window's
// edge or squeezed below what it needs, at the windows' own sizes and on the screens of the
// workstations (1366x768, 1280x1024, less the title bar and the taskbar).
TEST_F(LogbookFilters, NoControlCoversAnother) {
    FrmCerca cerca(*home.context);
    frmReports logbook(*home.context);
    logbook.Form_Load();
    struct Case {
        QWidget* window;
        QSize size;
    };
    const Case cases[] = {{&cerca, cerca.size()},
                          {&logbook, logbook.size()},
                          {&logbook, {1366, 700}},
                          {&logbook, {1280, 960}}};
    for (const QWidget* window : {static_cast<QWidget*>(&cerca), static_cast<QWidget*>(&logbook)}) {
        const QSize least = window->minimumSizeHint();
        EXPECT_LE(least.width(), 1280) << window->objectName().toStdString();
        EXPECT_LE(least.height(), 700) << window->objectName().toStdString();
    }
    for (const Case& c : cases) {
        c.window->resize(c.size);
        c.window->show();
        QApplication::processEvents();
        const std::string where = c.window->objectName().toStdString() + " at " +
                                  std::to_string(c.size.width()) + "x" +
                                  std::to_string(c.size.height());
        const QWidget* filters = c.window->findChild<SearchFilters*>();
        ASSERT_NE(filters, nullptr) << where;
        std::vector<std::pair<QWidget*, QRect>> controls;
        for (QWidget* w : c.window->findChildren<QWidget*>()) {
            const bool own = w->parentWidget() == c.window || w->parentWidget() == filters;
            if (own && w->isVisibleTo(c.window) &&
                (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
                 qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                 qobject_cast<QAbstractSpinBox*>(w)))
                controls.emplace_back(w, QRect(w->mapTo(c.window, QPoint()), w->size()));
        }
        ASSERT_GT(controls.size(), 15u) << where;
        auto name = [](const QWidget* w) {
            return w->objectName().toStdString() + " '" +
                   w->property("text").toString().toStdString() + "'";
        };
        for (size_t i = 0; i < controls.size(); ++i) {
            const auto& [w, rect] = controls[i];
            EXPECT_TRUE(c.window->rect().contains(rect)) << where << ": " << name(w);
            EXPECT_GE(rect.width(), w->minimumSizeHint().width()) << where << ": " << name(w);
            EXPECT_GE(rect.height(), w->minimumSizeHint().height()) << where << ": " << name(w);
            for (size_t j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(rect.intersects(controls[j].second))
                    << where << ": " << name(w) << " and " << name(controls[j].first);
        }
        c.window->hide();
    }
}

}  // namespace
