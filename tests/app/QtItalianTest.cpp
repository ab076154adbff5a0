#include "app/Application.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

TEST(QtItalian, StandardButtonsSpeakItalianAndOurTextsStayAsTheyAre) {
    const QString file =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_it.qm");
    if (!QFileInfo::exists(file))
        GTEST_SKIP() << "Qt's Italian translation is not installed (" << file.toStdString()
                     << "; Debian package qt6-translations-l10n)";
    QTranslator translator;
    ASSERT_TRUE(InstallQtItalian(*qApp, translator));
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel |
                         QDialogButtonBox::Ok);
    const QString yes = box.button(QDialogButtonBox::Yes)->text();
    const QString no = box.button(QDialogButtonBox::No)->text();
    const QString cancel = box.button(QDialogButtonBox::Cancel)->text();
    QCoreApplication::removeTranslator(&translator);

    EXPECT_EQ(yes.toLower().remove(u'&'), QStringLiteral("sì"));
    EXPECT_EQ(no.toLower().remove(u'&'), QStringLiteral("no"));
    EXPECT_EQ(QString(cancel).remove(u'&'), QStringLiteral("Annulla"));
    // Texts that are not Qt's own are left alone.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Fine Servizio"),
              QStringLiteral("Fine Servizio"));
}

}  // namespace
