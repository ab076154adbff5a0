#pragma once

#include "catalogue/CatalogueStore.h"

#include <memory>

namespace kallomir {

class UserSettings;

// The catalogue a program folder's RIZEDUZO.INI names: the PostgreSQL server of section
// [CATALOGO] when it gives a HOST, else the embedded datirec.mdb of the folder. cache: the
// settings that keep the last running number (the server's rows sent later update it).
// Throws RuntimeError when [CATALOGO] names a server with values that cannot be used.
std::unique_ptr<CatalogueStore> OpenConfiguredCatalogue(const QString& programFolder,
                                                        UserSettings* cache);

// RIZEDUZO.INI of a program folder.
QString ConfigurationFileOf(const QString& programFolder);

}  // namespace kallomir
