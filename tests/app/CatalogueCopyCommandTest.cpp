// kallomir --catalogue-copy-to-server: the rows of the home folder's datirec.mdb go to the
// server named in RIZEDUZO.INI, once, without a display.
#include "app/CatalogueCopyCommand.h"
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "support/TempHome.h"
#include "support/TestCatalogueServer.h"

#include <QProcess>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

QString CatalogoSection(const ServerCatalogueConfig& c) {
    return QStringLiteral(
               "[CATALOGO]\nHOST=%1\nPORTA=%2\nDATABASE=%3\nUTENTE=%4\n"
               "PASSWORDFILE=%5\nSSLMODE=disable\nSCHEMA=%6\n")
        .arg(c.host)
        .arg(c.port)
        .arg(c.database, c.user, c.passwordFile, c.schema);
}

TEST(ServerCatalogueCopyCommand, CopiesOnceAndThenFindsEverythingThere) {
    if (!TestCatalogueServer::available())
        GTEST_SKIP() << TestCatalogueServer::skipReason().toStdString();
    TestServerSchema schema;
    TempHome home;
    home.writeFile("RIZEDUZO.INI", CatalogoSection(schema.config()).toUtf8());
    SqliteCatalogue local(home.path("datirec.mdb"));
    local.create();
    home.context->settings.save("progressivo", "7");
    local.recorderInsert("20230101_080000.Ems", home.context->settings);
    local.recorderInsert("20230101_090000.Ems", home.context->settings);

    QString output, errors;
    QTextStream out(&output), err(&errors);
    EXPECT_EQ(CopyCatalogueToServer(home.home(), out, err), 0) << errors.toStdString();
    out.flush();
    EXPECT_TRUE(output.contains("2 righe copiate")) << output.toStdString();
    ServerCatalogue server(schema.config(), home.home());
    EXPECT_EQ(server.find("20230101_090000.Ems")->progressivo, 9);

    // The real program, with no display at all: the second run copies nothing.
    QProcess kallomir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    kallomir.setProcessEnvironment(env);
    kallomir.start(QStringLiteral(KALLOMIR_BINARY),
                   {"--home", home.home(), "--catalogue-copy-to-server"});
    ASSERT_TRUE(kallomir.waitForFinished(30000));
    EXPECT_EQ(kallomir.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(kallomir.exitCode(), 0) << kallomir.readAllStandardError().toStdString();
    const QString second = QString::fromUtf8(kallomir.readAllStandardOutput());
    EXPECT_TRUE(second.contains("0 righe copiate")) << second.toStdString();
    EXPECT_TRUE(second.contains("già presente: 20230101_080000.Ems")) << second.toStdString();
    EXPECT_EQ(server.rowCount(), 2);
}

TEST(CatalogueCopyCommand, WithoutAServerConfiguredNothingHappens) {
    TempHome home;
    SqliteCatalogue(home.path("datirec.mdb")).create();
    QString output, errors;
    QTextStream out(&output), err(&errors);
    EXPECT_EQ(CopyCatalogueToServer(home.home(), out, err), 2);
    err.flush();
    EXPECT_TRUE(errors.contains("[CATALOGO]")) << errors.toStdString();
}

}  // namespace
