#pragma once

#include <QTimer>
#include <QWidget>

class QFrame;
class QLabel;

namespace kallomir {

struct AppContext;

// The first window: shows the version, runs the configuration start-up and opens the login
// window. It stands above the login window and closes itself (only itself) on a click or a
// key on it or its controls, or 3000 ms after it was created.
class FrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit FrmSplash(AppContext& ctx, QWidget* parent = nullptr);

    // Form_Load: version, product name, configuration start-up, login window.
    void load();

    QLabel* lblVersion() const { return lblVersion_; }
    QLabel* lblProductName() const { return lblProductName_; }
    QLabel* label1() const { return label1_; }
    QTimer& timer1() { return timer1_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Timer1_Timer();

    AppContext& ctx_;
    QFrame* frame1_;
    QLabel* picture1_;
    QLabel* label1_;
    QLabel* lblVersion_;
    QLabel* lblProductName_;
    QTimer timer1_;
};

// "Version M.m.r" from the program's version.
QString VersionText();

}  // namespace kallomir
