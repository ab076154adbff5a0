#pragma once

#include "evidence/IntegrityCheck.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTextDocument;

namespace kallomir {

struct AppContext;

// "Verifica": runs the integrity check of the program folder on a thread of its own, shows
// how far it got (recordings and bytes read) with a button to stop it, then one line per
// finding and the outcome, which the operator can print.
class VerifyWindow : public QDialog {
    Q_OBJECT
public:
    using Runner = std::function<CheckReport(const CheckOptions&)>;

    explicit VerifyWindow(AppContext& ctx, QWidget* parent = nullptr, Runner runner = {});
    ~VerifyWindow() override;

    void start();
    bool running() const { return worker_.joinable() && !finished_; }
    const CheckReport& report() const { return report_; }
    // The printable result: heading, program folder, moment, the lines of the report.
    void fillDocument(QTextDocument& document) const;

    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    QPlainTextEdit* result = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* printButton = nullptr;
    QPushButton* closeButton = nullptr;

signals:
    void checkFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showProgress(const CheckProgress& p);
    void showReport(const CheckReport& report);
    void print();

    AppContext& ctx_;
    Runner runner_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    bool finished_ = false;
    CheckReport report_;
};

// Opens the one "Verifica" window (or brings it forward) and starts the check.
VerifyWindow* ShowVerifyWindow(AppContext& ctx, QWidget* parent);

}  // namespace kallomir
