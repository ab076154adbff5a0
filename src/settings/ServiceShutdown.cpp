#include "settings/ServiceShutdown.h"

#include "catalogue/CatalogueStore.h"
#include "core/AppContext.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "evidence/EvidenceEvents.h"

namespace kallomir {

QString ServiceShutdownQuestion() {
    return QStringLiteral("Sei sicuro di voler chiudere il Servizio?") +
           QStringLiteral(" Attenzione la  chiusura prevede la Cancellazione del DataBase ");
}

QString ServiceArchiveFile(const QString& dataPath, const QString& previousName) {
    return dataPath + previousName + QStringLiteral("/datirec.mdb");
}

bool CloseServiceCatalogue(AppContext& ctx, const QString& previousName, const QString& title) {
    const QString archive = ServiceArchiveFile(ctx.config.dataPath, previousName);
    int rows = 0;
    try {
        rows = ctx.catalogue->archiveAndEmpty(archive);
    } catch (const RuntimeError& error) {
        ctx.boxes.show(ErrorText(error.number(), error.description()) +
                           QStringLiteral("\r\nIl DataBase non è stato cancellato."),
                       title, MsgButtons::Ok, MsgIcon::Critical);
        return false;
    }
    LogServiceArchived(ctx, archive, rows);
    ctx.settings.save(QStringLiteral("progressivo"), QStringLiteral("0"));
    return true;
}

}  // namespace kallomir
