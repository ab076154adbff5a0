#pragma once

#include <QString>

class QWidget;

namespace kallomir {

class CatalogueStore;

// Rows that wait to be indexed above which a progress bar is shown.
inline constexpr int kQuietIndexBacklog = 200;

// Brings the transcriptions' index up to date before a search, under a progress bar (with
// "Annulla") over `parent` when many rows wait. False when the operator cancelled and some
// rows are still out of the index. Throws RuntimeError when the catalogue cannot answer.
bool UpdateSearchIndex(CatalogueStore& catalogue, QWidget* parent, const QString& title);

}  // namespace kallomir
