#include "app/CatalogueCopyCommand.h"

#include "app/CommandLine.h"
#include "catalogue/OpenCatalogue.h"
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/HomeFolder.h"
#include "core/RuntimeError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace kallomir {

int CopyCatalogueToServer(const QString& programFolder, QTextStream& out, QTextStream& err) {
    const QString ini = ConfigurationFileOf(programFolder);
    try {
        const auto config = ReadServerCatalogueConfig(ini);
        if (!config) {
            err << QStringLiteral(
                       "Nessun server del catalogo in %1: la sezione [%2] non indica "
                       "HOST.\n")
                       .arg(ini, kCatalogueSection);
            return 2;
        }
        const QString localFile = SqliteCatalogue::FileInFolder(programFolder);
        if (!QFileInfo(localFile).isFile()) {
            err << QStringLiteral("Il catalogo %1 non esiste: niente da copiare.\n").arg(localFile);
            return 1;
        }
        SqliteCatalogue local(localFile);
        const std::vector<CatalogueRecord> rows = local.allRows();
        ServerCatalogue server(*config, programFolder);
        const ServerCatalogue::CopyReport report = server.copyRows(rows);
        out << QStringLiteral(
                   "Catalogo %1 → server %2: %3 righe copiate con i loro numeri "
                   "progressivi, %4 già presenti sul server e non copiate di nuovo.\n")
                   .arg(localFile, server.location())
                   .arg(report.copied)
                   .arg(report.alreadyThere.size());
        for (const QString& nome : report.alreadyThere)
            out << QStringLiteral("  già presente: ") << nome << u'\n';
        return 0;
    } catch (const RuntimeError& error) {
        err << QStringLiteral("Error %1 %2\n").arg(error.number()).arg(error.description());
        return 1;
    }
}

int RunCatalogueCopyCommand(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const CommandLine options = ParseCommandLine(QCoreApplication::arguments());
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!options.error.isEmpty()) {
        err << "kallomir: " << options.error << "\n";
        return 2;
    }
    const HomeFolderResult home = ResolveHomeFolder(options.home);
    if (!home.error.isEmpty()) {
        err << home.error << "\n";
        return 1;
    }
    return CopyCatalogueToServer(home.path, out, err);
}

}  // namespace kallomir
