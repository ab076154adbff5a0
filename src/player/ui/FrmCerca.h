#pragma once

#include "catalogue/CatalogueStore.h"
#include "player/ui/SearchIndexUpdate.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

namespace kallomir {

struct AppContext;
class frmReports;
class SearchFilters;

// "Cerca": finds recordings by the words of their transcription, the caller's number, the
// date, the label and the marks, and opens the one chosen in the player. The transcriptions'
// index is brought up to date before each search (with a progress bar when many wait).
class FrmCerca : public QWidget {
    Q_OBJECT
public:
    explicit FrmCerca(AppContext& ctx, QWidget* parent = nullptr);

    void Form_Load();

    // The filters as the operator set them.
    SearchQuery query() const;
    // Runs the search; false when the catalogue could not answer (the operator was told).
    bool cmdCerca_Click();
    void cmdAzzera_Click();
    // The logbook of every recording the search finds, its filters filled in, to print,
    // export or filter again.
    void cmdBrogliaccio_Click();
    // The last logbook opened from here, while it is open.
    frmReports* logbook() const;
    // Opens the result in row `row` of the table (as sorted) in the player.
    bool openResult(int row);

    const std::vector<SearchHit>& hits() const { return hits_; }
    // Rows that wait to be indexed above which a progress bar is shown.
    static constexpr int kQuietBacklog = kQuietIndexBacklog;

    // Controls, by their names, for the tests (the fields live in `filters`).
    SearchFilters* filters = nullptr;
    QPushButton* cmdCerca = nullptr;
    QPushButton* cmdAzzera = nullptr;
    QPushButton* cmdBrogliaccio = nullptr;
    QTableView* Risultati = nullptr;
    QLabel* lblEsito = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showHits(const SearchPage& page);

    AppContext& ctx_;
    QStandardItemModel* model_ = nullptr;
    std::vector<SearchHit> hits_;
    QStringList stems_;  // of the words searched last
    QPointer<QWidget> lastLogbook_;
};

}  // namespace kallomir
