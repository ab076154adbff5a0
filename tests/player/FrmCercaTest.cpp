// The "Cerca" window: filters from its fields, results newest first with the matched words
// highlighted, sorting, opening a result in the player, the index built with a progress bar.
#include "catalogue/CatalogueStore.h"
#include "catalogue/SqliteCatalogue.h"
#include "player/RecordingSearch.h"
#include "player/ReportDocument.h"
#include "player/ui/FrmCerca.h"
#include "player/ui/FrmReports.h"
#include "player/ui/SearchFilters.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

class FrmCercaTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.catalogue->create();
        home.context->forms = &forms;
        home.context->settings.save("progressivo", "0");
        add("20240110_090000.Ems", "0612345678",
            "{\\rtf1\\ansi Il cliente chiama per la fattura\\par}");
        add("20240215_100000.Ems", "+393331112222", "{\\rtf1\\ansi Ritardo in citt\\'e0\\par}");
        add("20240320_110000.Ems", "", "{\\rtf1\\ansi {\\b chiamate} ripetute\\par}");
    }
    void add(const QString& nome, const QString& numero, const QString& rtf) {
        home.catalogue->recorderInsert(nome, home.context->settings, nullptr, numero);
        home.catalogue->playerSave(nome, PlayerMarks{.scritto = true, .traduzione = rtf}, "E",
                                   "op");
    }
    QStringList column(const FrmCerca& w, int c) const {
        QStringList out;
        auto* model = w.Risultati->model();
        for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, c).data().toString();
        return out;
    }

    test::TempHome home;
    test::FakeForms forms;
};

TEST_F(FrmCercaTest, FieldsMakeTheQueryAndResultsShowNewestFirst) {
    FrmCerca w(*home.context);
    w.Form_Load();
    w.filters->txtParole->setText("chiamata");
    ASSERT_TRUE(w.cmdCerca_Click());
    EXPECT_EQ(column(w, 0), (QStringList{"20/03/2024", "10/01/2024"}));
    EXPECT_EQ(column(w, 2), (QStringList{"", "0612345678"}));
    EXPECT_EQ(column(w, 4), (QStringList{"-T-", "-T-"}));
    EXPECT_TRUE(column(w, 5)[0].contains("<b style=\"background-color:#ffe680\">chiamate</b>"))
        << column(w, 5)[0].toStdString();
    EXPECT_EQ(w.lblEsito->text(), "2 registrazioni trovate.");

    // Every field is a filter.
    w.cmdAzzera_Click();
    w.filters->txtNumero->setText("333 111");
    w.filters->chkDal->setChecked(true);
    w.filters->dtDal->setDate(QDate(2024, 2, 1));
    w.filters->chkAl->setChecked(true);
    w.filters->dtAl->setDate(QDate(2024, 2, 29));
    w.filters->txtEtichetta->setText("e");
    w.filters->cboMarks[1]->setCurrentIndex(1);
    const SearchQuery q = w.query();
    EXPECT_EQ(q.numero, "333111");
    EXPECT_EQ(q.from, QDate(2024, 2, 1));
    EXPECT_EQ(q.to, QDate(2024, 2, 29));
    EXPECT_EQ(q.scritto, MarkFilter::Set);
    EXPECT_EQ(q.letto, MarkFilter::Any);
    ASSERT_TRUE(w.cmdCerca_Click());
    EXPECT_EQ(column(w, 0), QStringList{"15/02/2024"});

    // Sorting by a column the operator clicks.
    w.cmdAzzera_Click();
    ASSERT_TRUE(w.cmdCerca_Click());
    w.Risultati->sortByColumn(2, Qt::AscendingOrder);
    EXPECT_EQ(column(w, 2), (QStringList{"", "+393331112222", "0612345678"}));
    w.Risultati->sortByColumn(0, Qt::AscendingOrder);
    EXPECT_EQ(column(w, 0), (QStringList{"10/01/2024", "15/02/2024", "20/03/2024"}));
}

TEST_F(FrmCercaTest, EnterOpensTheChosenRecordingInThePlayer) {
    home.config.dataPath = home.path("dati/");
    home.config.recFolder = "REC/1";
    const QString folder = home.config.recordingsFolder();
    const QString other = QDir::cleanPath(folder + "/../7");
    QDir().mkpath(other);
    QFile file(other + "/20240110_090000.Ems");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    FrmCerca w(*home.context);
    w.filters->txtParole->setText("chiamata");
    ASSERT_TRUE(w.cmdCerca_Click());
    w.Risultati->sortByColumn(0, Qt::AscendingOrder);
    w.Risultati->setFocus();
    w.Risultati->selectRow(0);
    QTest::keyClick(w.Risultati, Qt::Key_Return);
    EXPECT_EQ(forms.fakePlayer.opened, "20240110_090000.Ems");
    EXPECT_EQ(QDir::cleanPath(forms.fakePlayer.folder), other)
        << "the player moves to the folder that holds it";
    EXPECT_EQ(forms.fakePlayer.openedStems, QStringList{"chiam"});
    ASSERT_FALSE(forms.shown.empty());
    EXPECT_EQ(forms.shown.back(), FormId::Player);

    // A transcription being edited in the player is never replaced.
    forms.fakePlayer.opened.clear();
    forms.fakePlayer.unsaved = true;
    EXPECT_FALSE(w.openResult(0));
    EXPECT_TRUE(forms.fakePlayer.opened.isEmpty());
    EXPECT_TRUE(home.boxes.last().text.contains("Salvare o annullare"));
}

// Rich text is indexed by what a reader sees: its control words are never found.
TEST_F(FrmCercaTest, ControlWordsOfTheRichTextAreNeverMatched) {
    FrmCerca w(*home.context);
    for (const char* word : {"rtf1", "ansi", "par", "b", "e0"}) {
        w.filters->txtParole->setText(word);
        ASSERT_TRUE(w.cmdCerca_Click());
        EXPECT_TRUE(w.hits().empty()) << word;
    }
    w.filters->txtParole->setText("città");
    ASSERT_TRUE(w.cmdCerca_Click());
    EXPECT_EQ(w.hits().size(), 1u) << "\\'e0 is the à of città";
}

TEST_F(FrmCercaTest, ManyRowsWaitingAreIndexedUnderAProgressBar) {
    std::vector<CatalogueRecord> rows;
    for (int i = 0; i < FrmCerca::kQuietBacklog + 300; ++i)
        rows.push_back({{"nome", QStringLiteral("20230101_%1.Ems").arg(i, 6, 10, QChar(u'0'))},
                        {"dtfile", "2023-01-01"},
                        {"traduzione", "{\\rtf1 vecchia telefonata\\par}"}});
    static_cast<SqliteCatalogue&>(*home.catalogue).appendRecords(rows);
    ASSERT_GT(home.catalogue->searchBacklog(), FrmCerca::kQuietBacklog);
    FrmCerca w(*home.context);
    w.filters->txtParole->setText("telefonate");
    ASSERT_TRUE(w.cmdCerca_Click());
    EXPECT_EQ(home.catalogue->searchBacklog(), 0);
    EXPECT_EQ(w.hits().size(), std::size_t(SearchQuery{}.limit));
    EXPECT_TRUE(w.lblEsito->text().startsWith("Le prime 200 registrazioni"))
        << w.lblEsito->text().toStdString();
    EXPECT_TRUE(home.boxes.empty());
}

// The logbook of what the filters find: every found row, and only those.
TEST_F(FrmCercaTest, LogbookOfTheFoundRecordings) {
    FrmCerca w(*home.context);
    w.filters->txtNumero->setText("06");
    w.cmdBrogliaccio->click();
    ASSERT_NE(w.logbook(), nullptr);
    ASSERT_NE(w.logbook()->report(), nullptr);
    EXPECT_EQ(w.logbook()->report()->rowCount(), 1);
    w.filters->txtNumero->clear();
    w.filters->txtParole->setText("chiamata");
    w.cmdBrogliaccio_Click();
    EXPECT_EQ(w.logbook()->report()->rowCount(), 2);
    EXPECT_TRUE(home.boxes.empty());
    delete w.logbook();
}

TEST(RecordingSearch, FolderAndFirstMatch) {
    test::TempHome home;
    const QString root = home.path("dati/");
    QDir().mkpath(root + "REC/3");
    QFile file(root + "REC/3/20240101_100000.Ems");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(FindRecordingFolder("20240101_100000.ems", {home.path("altro")}, {root}),
              QDir::cleanPath(root + "REC/3"))
        << "two levels down, any case";
    EXPECT_EQ(FindRecordingFolder("20240101_110000.Ems", {}, {root}), QString());

    struct Case {
        const char* text;
        QStringList stems;
        int position;  // -1: none
        int length;
    };
    const Case cases[] = {
        {"Buongiorno, la richiamo per le chiamate", {"chiam"}, 31, 8},
        {"nessuna parola", {"chiam"}, -1, 0},
        {"La città è grande", {"citt", "grand"}, 3, 5},
    };
    for (const Case& c : cases) {
        const auto match = FirstMatch(QString::fromUtf8(c.text), c.stems);
        EXPECT_EQ(match ? match->position : -1, c.position) << c.text;
        if (match) {
            EXPECT_EQ(match->length, c.length) << c.text;
        }
    }
    EXPECT_EQ(SnippetHtml(QString("a <b> ") + QChar(kHitStart) + "x" + QChar(kHitEnd)),
              "a &lt;b&gt; <b style=\"background-color:#ffe680\">x</b>");
}

}  // namespace
