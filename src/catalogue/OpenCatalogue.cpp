#include "catalogue/OpenCatalogue.h"

#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/GeneralSound.h"

namespace kallomir {

QString ConfigurationFileOf(const QString& programFolder) {
    return AppFolderOf(programFolder) + QStringLiteral("RIZEDUZO.INI");
}

std::unique_ptr<CatalogueStore> OpenConfiguredCatalogue(const QString& programFolder,
                                                        UserSettings* cache) {
    if (auto server = ReadServerCatalogueConfig(ConfigurationFileOf(programFolder)))
        return std::make_unique<ServerCatalogue>(std::move(*server), programFolder, cache);
    return SqliteCatalogue::InFolder(programFolder);
}

}  // namespace kallomir
