#include "app/WindowRegistry.h"

#include "app/MdiRec.h"
#include "app/PasswordWindow.h"
#include "app/PlaceholderWindows.h"
#include "core/AppContext.h"
#include "core/RuntimeError.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace kallomir {

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
    MdiRec& frame = mainWindow();
    const ChildFactory& make = form == FormId::Recorder ? factories_.recorder
                               : form == FormId::Player ? factories_.player
                               : form == FormId::Mixer  ? factories_.mixer
                                                        : factories_.reports;
    // The slot is filled before the window loads, so a window that reaches another
    // window from its own load finds itself already there.
    QWidget* widget = make.create(ctx_, nullptr);
    w = widget;
    QPointer<QMdiSubWindow> sub = frame.mdiArea()->addSubWindow(widget);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(widget->windowTitle());
    sub->hide();
    if (make.load)
        make.load(widget);
    if (sub && w) {
        sub->setWindowTitle(w->windowTitle());
        // A window laid out by hand has no size hint: the frame would shrink to its title bar.
        // Its own size plus the frame's is what it asked for.
        if (!w->sizeHint().isValid())
            sub->resize(sub->sizeHint() + w->size());
    }
    return w;
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
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) {
                sub->show();
                sub->raise();
            }
            w->show();
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
