#pragma once

#include "evidence/HandOverExport.h"

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace kallomir {

struct AppContext;

// "Esporta": the operator ticks the recordings to hand over (the recording opened in the
// player comes ticked), names the bundle (a name ending in .zip makes an archive, any other
// a folder) and exports; the export runs on a thread of its own with its progress and a
// button to stop it. At the end the manifest's SHA-256 is shown, to be noted on the
// hand-over receipt.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    using Exporter = std::function<ExportResult(const ExportRequest&)>;

    ExportDialog(AppContext& ctx, const QStringList& ticked, QWidget* parent = nullptr,
                 Exporter exporter = {});
    ~ExportDialog() override;

    // The recordings listed, by full path, and those ticked.
    QStringList listed() const;
    QStringList chosen() const;
    void exportNow();
    bool running() const { return worker_.joinable() && !finished_; }

    QLineEdit* filter = nullptr;
    QListWidget* recordings = nullptr;
    QLineEdit* target = nullptr;
    QPushButton* browseButton = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* cancelButton = nullptr;

signals:
    void exportFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fill(const QStringList& ticked);
    void applyFilter(const QString& text);
    void browse();
    void finish(const ExportResult& result, const QString& error, int errorNumber);

    AppContext& ctx_;
    Exporter exporter_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    bool finished_ = false;
};

// Opens the export dialog with the given recordings ticked (none: the operator chooses).
ExportDialog* ShowExportDialog(AppContext& ctx, QWidget* parent, const QStringList& ticked);

}  // namespace kallomir
