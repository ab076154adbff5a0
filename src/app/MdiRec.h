#pragma once

#include <QMainWindow>

class QMdiArea;
class QToolBar;
class QToolButton;

namespace kallomir {

struct AppContext;

// The main frame "Kallomir": fills the screen, holds the child windows and the toolbar.
// It never closes by itself: leaving goes through the password window.
class MdiRec : public QMainWindow {
    Q_OBJECT
public:
    explicit MdiRec(AppContext& ctx, QWidget* parent = nullptr);

    // MDIForm_Load: yield once, fill the screen, lay the toolbar out once.
    void load();

    // Toolbar1_ButtonClick by the button's key.
    void Toolbar1_ButtonClick(const QString& key);

    QMdiArea* mdiArea() const { return mdiArea_; }
    QToolBar* toolbar1() const { return toolbar1_; }
    QWidget* button(const QString& key) const;

    // Lets the exit path close the frame without asking again.
    void closeForExit();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool unsavedTranscription() const;
    void addButton(const QString& caption, const QString& key, const QString& tip, int iconId);
    void addButton(const QString& caption, const QString& key, const QString& tip,
                   const QIcon& icon);

    AppContext& ctx_;
    QMdiArea* mdiArea_;
    QToolBar* toolbar1_;
    QWidget* space_ = nullptr;
    bool exiting_ = false;
};

// Width of the SPACE placeholder so that "Esci" ends at the toolbar's right edge.
int SpaceWidth(int toolbarWidth, int spaceLeft, int exitWidth);
void LayoutToolbar(QToolBar* toolbar);

}  // namespace kallomir
