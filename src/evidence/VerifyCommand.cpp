#include "evidence/VerifyCommand.h"

#include "catalogue/OpenCatalogue.h"
#include "core/RuntimeError.h"
#include "evidence/BundleCheck.h"
#include "evidence/IntegrityCheck.h"

#include <QFileInfo>

namespace kallomir {

namespace {

int Print(const CheckReport& report, std::FILE* out) {
    for (const QString& line : report.lines()) std::fprintf(out, "%s\n", line.toUtf8().constData());
    std::fflush(out);
    return report.clean() ? kVerifyClean : kVerifyFindings;
}

}  // namespace

int RunVerifyCommand(const QString& programFolder, const QString& userHome, std::FILE* out) {
    if (!QFileInfo(programFolder).isDir()) {
        std::fprintf(
            out, "%s\n",
            QStringLiteral("Verifica impossibile: la cartella del programma %1 non esiste.")
                .arg(programFolder)
                .toUtf8()
                .constData());
        return kVerifyCannot;
    }
    CheckOptions options;
    options.programFolder = programFolder;
    options.recordingRoots = RecordingRoots(programFolder, userHome);
    // A catalogue on a server is read here; the embedded file the check reads itself.
    try {
        const std::unique_ptr<CatalogueStore> catalogue =
            OpenConfiguredCatalogue(programFolder, nullptr);
        if (catalogue->status().server)
            options.catalogue = ReadCatalogueSnapshot(*catalogue);
    } catch (const RuntimeError& error) {
        CatalogueSnapshot unusable;
        unusable.present = true;
        unusable.server = true;
        unusable.location = ConfigurationFileOf(programFolder);
        unusable.problem = error.description();
        options.catalogue = unusable;
    }
    return Print(RunIntegrityCheck(options), out);
}

int RunVerifyExportCommand(const QString& bundle, std::FILE* out) {
    return Print(CheckHandOverBundle(bundle), out);
}

}  // namespace kallomir
