#pragma once

#include "app/MdiRec.h"
#include "app/PasswordWindow.h"
#include "core/FormLinks.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <type_traits>

class QMdiSubWindow;

namespace kallomir {

struct AppContext;

// Where a child window of the main frame goes when it is created: the recorder at the top
// left, the mixer beside it (below it when the width is short), the player below both with
// the rest of the height, anything else at the top left. Every frame stays inside the
// area; a player that would get less than `leastPlayerHeight` is given that much, covering
// the bottom of the windows above rather than leaving its own bottom off screen.
// Sizes are frame sizes (title bar and borders included); absent windows are null rects.
QRect PlaceChildFrame(FormId form, const QSize& area, const QSize& natural, const QRect& recorder,
                      const QRect& mixer, int leastPlayerHeight);
// The smallest frame height in which the player's controls and a few lines of its editor fit,
// unless the player states its own minimum size.
inline constexpr int kLeastPlayerFrameHeight = 400;

// Creates each window of the program at most once, the first time it is shown or touched,
// and forgets it when it closes, so the next touch creates it again.
class WindowRegistry : public QObject, public Forms {
    Q_OBJECT
public:
    // Makes a child window of the main frame, already loaded. The widget must also
    // implement the matching link interface (RecorderLink, PlayerLink, MixerLink).
    // `create` builds the window; `load` (optional) then runs its Form_Load, once the
    // registry already knows the window, so a load that reaches other windows (or back to
    // this one) finds it.
    struct ChildFactory {
        using Create = std::function<QWidget*(AppContext&, QWidget* parent)>;
        using Load = std::function<void(QWidget*)>;
        ChildFactory() = default;
        template <typename F>
        requires std::is_invocable_r_v<QWidget*, F, AppContext&, QWidget*> ChildFactory(F f)
            : create(std::move(f)) {}
        ChildFactory(Create c, Load l) : create(std::move(c)), load(std::move(l)) {}
        explicit operator bool() const { return static_cast<bool>(create); }
        Create create;
        Load load;
    };
    struct Factories {
        ChildFactory recorder;
        ChildFactory player;
        ChildFactory mixer;
        ChildFactory reports;
        ChildFactory search;
        std::function<void(AppContext&, QWidget* owner)> openSettings;
    };

    WindowRegistry(AppContext& ctx, Factories factories, QObject* parent = nullptr);
    ~WindowRegistry() override;

    RecorderLink& recorder() override;
    PlayerLink& player() override;
    MixerLink& mixer() override;
    void show(FormId form) override;
    bool unload(FormId form) override;
    bool isLoaded(FormId form) const override;
    void showPasswordWindow(const QString& tag) override;

    MdiRec& mainWindow();
    FrmLogin* loginWindow() const { return login_; }
    FrmPwd* passwordWindow() const { return pwd_; }
    QWidget* child(FormId form) const;

    // A second start asked this one to come forward.
    void bringToFront();

private:
    QWidget* ensureChild(FormId form);
    void placeChild(FormId form, QMdiSubWindow* sub);
    QRect frameOf(FormId form) const;
    QPointer<QWidget>& slot(FormId form);

    AppContext& ctx_;
    Factories factories_;
    QPointer<MdiRec> main_;
    QPointer<FrmLogin> login_;
    QPointer<FrmPwd> pwd_;
    QPointer<QWidget> recorder_, player_, mixer_, reports_, search_;
    QPointer<QWidget> none_;
};

}  // namespace kallomir
