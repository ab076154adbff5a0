// Saves one capture the way the recorder does and kills itself with SIGKILL at the step
// named on its command line, so a test can see what the next start makes of it.
//   SaveKillChild HOME CAPTURE DATAPATH RECFOLDER FALLBACK START END STEP
// STEP: planned, copy-block (the second block), copied, trailer, renamed, logged, row.
#include "catalogue/SqliteCatalogue.h"
#include "core/VbConvert.h"
#include "evidence/EvidenceEvents.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecordingSaver.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>

using namespace kallomir;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 9)
        return 2;
    const QString step = a[8];
    SaveRequest request{a[2], *ParseDateTime(a[6]), *ParseDateTime(a[7]), a[3], a[4], a[5]};
    int blocks = 0;
    RecordingSaver saver;
    saver.onStep = [&](SaveStep s) {
        const bool stop = (s == SaveStep::Planned && step == "planned") ||
                          (s == SaveStep::CopyBlock && ++blocks == 2 && step == "copy-block") ||
                          (s == SaveStep::Copied && step == "copied") ||
                          (s == SaveStep::TrailerWritten && step == "trailer") ||
                          (s == SaveStep::Renamed && step == "renamed");
        if (stop)
            std::raise(SIGKILL);
    };
    const SaveResult result = saver.save(request);
    if (!result.saved)
        return 3;
    LogRecordingSaved(a[1], request.end, result.file, *result.fingerprint, QString(), false);
    if (step == "logged")
        std::raise(SIGKILL);
    MemorySettingsStore store;
    UserSettings settings(store, QStringLiteral("kallomir"));
    settings.save(QStringLiteral("progressivo"), QStringLiteral("0"));
    SqliteCatalogue::InFolder(a[1])->recorderInsert(result.catalogueName, settings);
    if (step == "row")
        std::raise(SIGKILL);
    CaptureMarker(request.captureFile).clear();
    return 0;
}
