#include "player/ReportDocument.h"
#include "player/ui/FrmReports.h"
#include "support/TempHome.h"

#include "catalogue/CatalogueStore.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace kallomir;

TEST(frmReports, ShowsTheLogbookPageByPageAndExportsIt) {
    test::TempHome home;
    CatalogueStore& catalogue = *home.catalogue;
    catalogue.create();
    for (int i = 0; i < 80; ++i) {
        catalogue.playerInsert(QStringLiteral("202401%1_101010.Ems").arg(10 + i % 5),
                               QStringLiteral("Not Set"), QStringLiteral("op"));
        catalogue.playerInsert(QStringLiteral("20240110_10%1.Ems").arg(1000 + i),
                               QStringLiteral("Not Set"), QStringLiteral("op"));
    }
    frmReports window(*home.context);
    window.Form_Load();
    ASSERT_TRUE(window.report());
    EXPECT_TRUE(home.boxes.empty()) << home.boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Brogliaccio"));
    EXPECT_TRUE(QFile::exists(home.path(QStringLiteral("report.rpt"))));
    EXPECT_EQ(window.report()->rowCount(), catalogue.rowCount());
    const int pages = window.report()->pageCount();
    ASSERT_GE(pages, 2);
    EXPECT_EQ(window.pageLabel->text(), QStringLiteral("Pagina 1 di %1").arg(pages));
    EXPECT_FALSE(window.previous->isEnabled());
    window.next->click();
    EXPECT_EQ(window.currentPage(), 1);
    window.showPage(pages + 5);
    EXPECT_EQ(window.currentPage(), pages - 1);
    EXPECT_FALSE(window.next->isEnabled());
    window.setZoom(2.0);
    EXPECT_EQ(window.view->pixmap().width(), 842 * 2);
    const QString pdf = home.path(QStringLiteral("b.pdf"));
    EXPECT_TRUE(window.exportPdf(pdf));
    EXPECT_GT(QFile(pdf).size(), 1000);
}

TEST(frmReports, BrokenDefinitionIsShownAndReported) {
    test::TempHome home;
    home.catalogue->create();
    home.writeFile(QStringLiteral("report.rpt"), "title: X\ncolumn: Nome | nomi\n");
    frmReports window(*home.context);
    window.Form_Load();
    EXPECT_FALSE(window.report());
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().title, QStringLiteral("Form_Load"));
    EXPECT_TRUE(home.boxes.last().text.contains(
        QStringLiteral("report.rpt, riga 2: campo sconosciuto «nomi»")))
        << home.boxes.last().text.toStdString();
    EXPECT_TRUE(window.view->text().contains(QStringLiteral("riga 2")));
    EXPECT_FALSE(window.pdfButton->isEnabled());
}
