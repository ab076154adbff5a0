#pragma once

#include "catalogue/CatalogueStore.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace kallomir {

struct AppContext;
class ReportDocument;
class ReportRowSource;
class SearchFilters;

// The report window frmReports: the catalogue through the report definition report.rpt of
// the program's folder, page by page, with zoom, printing and PDF export. The search's
// filters choose the rows it holds; the filter applied is stated in the window and on every
// printed page.
class frmReports : public QWidget {
    Q_OBJECT
public:
    explicit frmReports(AppContext& ctx, QWidget* parent = nullptr);
    ~frmReports() override;

    // Builds the report and shows its first page; a failure is reported and shown in the
    // window instead of the page.
    void Form_Load();

    // The rows the filters find ("Filtra"); every row when the filters are empty. False, the
    // report shown kept, when the range is invalid, the operator cancelled the indexing or the
    // catalogue could not answer (the operator was told).
    bool cmdFiltra_Click();
    // Every row again, the filters emptied ("Tutte").
    bool cmdTutte_Click();
    // The filters filled in with `query` and applied (the search window's logbook).
    bool showFiltered(const SearchQuery& query);

    const ReportDocument* report() const { return report_.get(); }
    // What the report shown holds, as stated in the window and on the pages.
    QString filterText() const;
    int currentPage() const { return page_; }
    void showPage(int index);
    void setZoom(double zoom);
    bool exportPdf(const QString& path);
    void print();

    SearchFilters* filters = nullptr;
    QPushButton* cmdFiltra = nullptr;
    QPushButton* cmdTutte = nullptr;
    QLabel* lblFiltro = nullptr;
    QLabel* pageLabel = nullptr;
    QLabel* view = nullptr;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;
    QComboBox* zoom = nullptr;
    QPushButton* printButton = nullptr;
    QPushButton* pdfButton = nullptr;
    QPushButton* exportButton = nullptr;

private:
    // Lays the report out from `source`; it replaces the one shown only when it could be
    // built (throws RuntimeError otherwise).
    void rebuild(const ReportRowSource& source, const SearchQuery& query);
    bool applyFilter(const SearchQuery& query, const QString& handler);

    AppContext& ctx_;
    std::unique_ptr<ReportDocument> report_;
    QScrollArea* scroll_ = nullptr;
    int page_ = 0;
    double zoom_ = 1.0;
};

}  // namespace kallomir
