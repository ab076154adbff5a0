#pragma once

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

// The report window frmReports: the catalogue through the report definition report.rpt of
// the program's folder, page by page, with zoom, printing and PDF export.
class frmReports : public QWidget {
    Q_OBJECT
public:
    explicit frmReports(AppContext& ctx, QWidget* parent = nullptr);
    ~frmReports() override;

    // Where rows come from (the catalogue file of the program's folder unless set).
    void setRowSource(std::unique_ptr<ReportRowSource> source);

    // Builds the report and shows its first page; a failure is reported and shown in the
    // window instead of the page.
    void Form_Load();

    const ReportDocument* report() const { return report_.get(); }
    int currentPage() const { return page_; }
    void showPage(int index);
    void setZoom(double zoom);
    bool exportPdf(const QString& path);
    void print();

    QLabel* pageLabel = nullptr;
    QLabel* view = nullptr;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;
    QComboBox* zoom = nullptr;
    QPushButton* printButton = nullptr;
    QPushButton* pdfButton = nullptr;
    QPushButton* exportButton = nullptr;

private:
    AppContext& ctx_;
    std::unique_ptr<ReportRowSource> source_;
    std::unique_ptr<ReportDocument> report_;
    QScrollArea* scroll_ = nullptr;
    int page_ = 0;
    double zoom_ = 1.0;
};

}  // namespace kallomir
