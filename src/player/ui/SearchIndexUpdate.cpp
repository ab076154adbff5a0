#include "player/ui/SearchIndexUpdate.h"

#include "catalogue/CatalogueStore.h"
#include "player/RecordingSearch.h"

#include <QApplication>
#include <QProgressDialog>

namespace kallomir {

namespace {
constexpr int kBatch = 500;  // rows indexed between two steps of the progress bar
}

bool UpdateSearchIndex(CatalogueStore& catalogue, QWidget* parent, const QString& title) {
    int left = catalogue.searchBacklog();
    if (left == 0)
        return true;
    if (left <= kQuietIndexBacklog) {
        catalogue.indexBacklog(left, TranscriptionPlainText);
        return true;
    }
    // The first search over a catalogue from before the index, or after many changes.
    const int total = left;
    QProgressDialog progress(QStringLiteral("Indicizzazione delle trascrizioni..."),
                             QStringLiteral("Annulla"), 0, total, parent);
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    while (left > 0) {
        left = catalogue.indexBacklog(kBatch, TranscriptionPlainText);
        progress.setValue(total - left);
        QApplication::processEvents();
        if (progress.wasCanceled())
            break;
    }
    return left == 0;
}

}  // namespace kallomir
