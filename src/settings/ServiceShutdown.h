#pragma once

#include <QString>

namespace kallomir {

struct AppContext;

// The question asked before a service is closed, under the title "Servizio".
QString ServiceShutdownQuestion();
inline const QString kServiceShutdownTitle = QStringLiteral("Servizio");

// Where the catalogue of the ending service is filed: DataPath + its folder name +
// "/datirec.mdb".
QString ServiceArchiveFile(const QString& dataPath, const QString& previousName);

// Files the catalogue beside the recordings of the ending service and empties it; only then
// the running number "progressivo" restarts from "0". A copy that cannot be written or does
// not read back with every row leaves the catalogue and the running number as they were:
// the failure is reported under `title` and false returned.
bool CloseServiceCatalogue(AppContext& ctx, const QString& previousName, const QString& title);

}  // namespace kallomir
