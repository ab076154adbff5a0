#include "app/WindowRegistry.h"

#include "app/MdiRec.h"
#include "app/PasswordWindow.h"
#include "app/PlaceholderWindows.h"
#include "core/AppContext.h"
#include "core/RuntimeError.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <algorithm>

namespace kallomir {

namespace {

// The frame size a child asks for: the size its window was given when it was made (a
// window laid out by hand has no size hint, a laid-out one may want more than its hint),
// else its hint; plus the frame's title bar and borders.
QSize NaturalFrameSize(const QMdiSubWindow* sub) {
    const QWidget* w = sub->widget();
    if (!w)
        return sub->sizeHint();
    const QSize hint = w->sizeHint();
    const QSize frame = hint.isValid() ? sub->sizeHint() - hint : sub->sizeHint();
    QSize inside = w->testAttribute(Qt::WA_Resized) || !hint.isValid() ? w->size() : hint;
    if (hint.isValid())
        inside = inside.expandedTo(w->minimumSizeHint());
    return inside + frame;
}

}  // namespace

QRect PlaceChildFrame(FormId form, const QSize& area, const QSize& natural, const QRect& recorder,
                      const QRect& mixer, int leastPlayerHeight) {
    const QSize size = natural.boundedTo(area);
    switch (form) {
        case FormId::Recorder:
            return {QPoint(0, 0), size};
        case FormId::Mixer: {
            if (recorder.isNull())
                return {QPoint(0, 0), size};
            if (recorder.right() + 1 + size.width() <= area.width())
                return {QPoint(recorder.right() + 1, 0), size};
            const int below = std::min(recorder.bottom() + 1, area.height() - size.height());
            return {QPoint(0, std::max(0, below)), size};
        }
        case FormId::Player: {
            int top = recorder.isNull() ? 0 : recorder.bottom() + 1;
            // The mixer counts where it stands above the player's width.
            if (!mixer.isNull() && mixer.left() < size.width())
                top = std::max(top, mixer.bottom() + 1);
            const int least = std::min(std::max(leastPlayerHeight, 1), area.height());
            if (area.height() - top < least)
                top = area.height() - least;
            return {0, top, size.width(), area.height() - top};
        }
        default:
            return {QPoint(0, 0), size};
    }
}

WindowRegistry::WindowRegistry(AppContext& ctx, Factories factories, QObject* parent)
    : QObject(parent), ctx_(ctx), factories_(std::move(factories)) {
    ctx_.forms = this;
    if (!factories_.recorder)
        factories_.recorder = MakePlaceholderRecorder;
    if (!factories_.player)
        factories_.player = MakePlaceholderPlayer;
    if (!factories_.mixer)
        factories_.mixer = MakePlaceholderMixer;
    if (!factories_.reports)
        factories_.reports = MakePlaceholderReports;
}

WindowRegistry::~WindowRegistry() {
    if (ctx_.forms == this)
        ctx_.forms = nullptr;
    delete login_.data();
    delete pwd_.data();
    delete main_.data();
}

QPointer<QWidget>& WindowRegistry::slot(FormId form) {
    switch (form) {
        case FormId::Recorder:
            return recorder_;
        case FormId::Player:
            return player_;
        case FormId::Mixer:
            return mixer_;
        case FormId::Reports:
            return reports_;
        case FormId::Search:
            return search_;
        default:
            return none_;
    }
}

MdiRec& WindowRegistry::mainWindow() {
    if (!main_) {
        main_ = new MdiRec(ctx_);
        main_->setAttribute(Qt::WA_DeleteOnClose);
        main_->load();
    }
    return *main_;
}

QWidget* WindowRegistry::ensureChild(FormId form) {
    QPointer<QWidget>& w = slot(form);
    if (w)
        return w;
    if (form == FormId::Search && !factories_.search.create)
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("No search window in this program"));
    MdiRec& frame = mainWindow();
    const ChildFactory& make = form == FormId::Recorder ? factories_.recorder
                               : form == FormId::Player ? factories_.player
                               : form == FormId::Mixer  ? factories_.mixer
                               : form == FormId::Search ? factories_.search
                                                        : factories_.reports;
    // The slot is filled before the window loads, so a window that reaches another
    // window from its own load finds itself already there.
    QWidget* widget = make.create(ctx_, nullptr);
    w = widget;
    QPointer<QMdiSubWindow> sub = frame.mdiArea()->addSubWindow(widget);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(widget->windowTitle());
    sub->hide();
    // Sized before its load, so a load that looks at its own frame sees the real one.
    sub->resize(NaturalFrameSize(sub).boundedTo(frame.mdiArea()->viewport()->size()));
    if (make.load)
        make.load(widget);
    if (sub && w) {
        sub->setWindowTitle(w->windowTitle());
        placeChild(form, sub);
    }
    return w;
}

QRect WindowRegistry::frameOf(FormId form) const {
    QWidget* w = child(form);
    auto* sub = w ? qobject_cast<QMdiSubWindow*>(w->parentWidget()) : nullptr;
    return sub ? sub->geometry() : QRect();
}

void WindowRegistry::placeChild(FormId form, QMdiSubWindow* sub) {
    // Placed once, when made: the last word on its frame, after whatever its load did.
    const QSize area = main_->mdiArea()->viewport()->size();
    // A window that states its smallest size is held to that; else the player's usual least.
    const bool statesLeast = sub->widget() && sub->widget()->minimumHeight() > 0;
    const int least = statesLeast ? sub->minimumSizeHint().height() : kLeastPlayerFrameHeight;
    const QRect place =
        PlaceChildFrame(form, area, NaturalFrameSize(sub),
                        form == FormId::Recorder ? QRect() : frameOf(FormId::Recorder),
                        form == FormId::Mixer ? QRect() : frameOf(FormId::Mixer), least);
    sub->setGeometry(place);
}

QWidget* WindowRegistry::child(FormId form) const {
    switch (form) {
        case FormId::Recorder:
            return recorder_;
        case FormId::Player:
            return player_;
        case FormId::Mixer:
            return mixer_;
        case FormId::Reports:
            return reports_;
        case FormId::Search:
            return search_;
        default:
            return nullptr;
    }
}

RecorderLink& WindowRegistry::recorder() {
    return *dynamic_cast<RecorderLink*>(ensureChild(FormId::Recorder));
}

PlayerLink& WindowRegistry::player() {
    return *dynamic_cast<PlayerLink*>(ensureChild(FormId::Player));
}

MixerLink& WindowRegistry::mixer() {
    return *dynamic_cast<MixerLink*>(ensureChild(FormId::Mixer));
}

void WindowRegistry::show(FormId form) {
    switch (form) {
        case FormId::Login: {
            if (!login_) {
                login_ = new FrmLogin(ctx_);
                if (!login_->load()) {
                    delete login_.data();
                    return;
                }
            }
            login_->show();
            login_->raise();
            login_->activateWindow();
            return;
        }
        case FormId::Pwd:
            showPasswordWindow(pwd_ ? pwd_->tag() : QString());
            return;
        case FormId::Main:
            mainWindow().show();
            return;
        case FormId::Splash:
            return;
        default: {
            QWidget* w = ensureChild(form);
            w->show();
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) {
                sub->show();
                // Active, so it comes and stays in front of the window that had the keyboard.
                if (QMdiArea* area = sub->mdiArea())
                    area->setActiveSubWindow(sub);
                sub->raise();
            }
            return;
        }
    }
}

bool WindowRegistry::unload(FormId form) {
    switch (form) {
        case FormId::Login:
            if (login_)
                login_->close();
            return true;
        case FormId::Pwd:
            if (pwd_)
                pwd_->close();
            return true;
        case FormId::Main:
            if (main_)
                main_->closeForExit();
            return true;
        case FormId::Splash:
            return true;
        default: {
            QPointer<QWidget>& w = slot(form);
            if (!w)
                return true;
            QPointer<QMdiSubWindow> sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
            const bool closed = sub ? sub->close() : w->close();
            if (closed && w) {
                // Gone for good: the next touch creates it again.
                w->deleteLater();
                w = nullptr;
            }
            return closed;
        }
    }
}

bool WindowRegistry::isLoaded(FormId form) const {
    switch (form) {
        case FormId::Login:
            return login_;
        case FormId::Pwd:
            return pwd_;
        case FormId::Main:
            return main_;
        case FormId::Splash:
            return false;
        default:
            return child(form) != nullptr;
    }
}

void WindowRegistry::showPasswordWindow(const QString& tag) {
    if (!pwd_) {
        // Created afresh after every use, so it reads the property file again and starts
        // with an empty box.
        pwd_ = new FrmPwd(ctx_);
        pwd_->openSettings = [this](QWidget* owner) {
            if (!factories_.openSettings) {
                throw RuntimeError(errors::kDeviceIo,
                                   QStringLiteral("Il pannello parametri non è disponibile"));
            }
            factories_.openSettings(ctx_, owner);
        };
        pwd_->setTag(tag);
        if (!pwd_->load()) {
            delete pwd_.data();
            return;
        }
    }
    pwd_->setTag(tag);
    pwd_->show();
    pwd_->raise();
    pwd_->activateWindow();
}

void WindowRegistry::bringToFront() {
    QWidget* front =
        main_ ? static_cast<QWidget*>(main_.data()) : static_cast<QWidget*>(login_.data());
    if (!front)
        return;
    front->show();
    front->raise();
    front->activateWindow();
}

}  // namespace kallomir
