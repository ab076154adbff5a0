#include "app/MdiRec.h"

#include "app/AppIcon.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "evidence/ui/VerifyWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace kallomir {

namespace {
const char* const kKeyProperty = "buttonKey";
}

int SpaceWidth(int toolbarWidth, int spaceLeft, int exitWidth) {
    return std::max(0, toolbarWidth - (spaceLeft + exitWidth));
}

MdiRec::MdiRec(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("MdiRec"));
    setWindowTitle(QStringLiteral("Kallomir"));
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("MdiArea"));
    // A window closed while maximised must not hand its maximised state to the next one
    // (the recorder would then cover the player).
    mdiArea_->setOption(QMdiArea::DontMaximizeSubWindowOnActivation);
    setCentralWidget(mdiArea_);

    toolbar1_ = new QToolBar(this);
    toolbar1_->setObjectName(QStringLiteral("Toolbar1"));
    toolbar1_->setMovable(false);
    toolbar1_->setFloatable(false);
    toolbar1_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar1_->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolbar1_);

    addButton(QStringLiteral("Parametri"), QStringLiteral("PARM"),
              QStringLiteral("Impostazione parametri"), QStyle::SP_FileDialogDetailedView);
    addButton(QStringLiteral("Brogliaccio"), QStringLiteral("brogliaccio"), QString(),
              QStyle::SP_FileDialogContentsView);
    addButton(QStringLiteral("&Cerca"), QStringLiteral("cerca"),
              QStringLiteral("Cerca le registrazioni per parole, numero, data e segni (Alt+C)"),
              SearchIcon());
    addButton(QStringLiteral("Verifica"), QStringLiteral("VERIFICA"),
              QStringLiteral("Verifica dell'integrità di registrazioni, catalogo e registro"),
              QStyle::SP_DialogApplyButton);
    space_ = new QWidget(toolbar1_);
    space_->setObjectName(QStringLiteral("SPACE"));
    space_->setProperty(kKeyProperty, QStringLiteral("SPACE"));
    space_->setFixedWidth(1);
    toolbar1_->addWidget(space_);
    addButton(QStringLiteral("Esci"), QStringLiteral("ESCI"),
              QStringLiteral("uscita dal programma"), QStyle::SP_DialogCloseButton);
}

void MdiRec::addButton(const QString& caption, const QString& key, const QString& tip, int iconId) {
    addButton(caption, key, tip,
              style()->standardIcon(static_cast<QStyle::StandardPixmap>(iconId)));
}

void MdiRec::addButton(const QString& caption, const QString& key, const QString& tip,
                       const QIcon& icon) {
    auto* b = new QToolButton(toolbar1_);
    b->setObjectName(key);
    b->setProperty(kKeyProperty, key);
    b->setText(caption);
    b->setToolTip(tip);
    b->setIcon(icon);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    connect(b, &QToolButton::clicked, this, [this, key] { Toolbar1_ButtonClick(key); });
    toolbar1_->addWidget(b);
}

QWidget* MdiRec::button(const QString& key) const {
    for (QWidget* w : toolbar1_->findChildren<QWidget*>()) {
        if (w->property(kKeyProperty).toString() == key)
            return w;
    }
    return nullptr;
}

void LayoutToolbar(QToolBar* toolbar) {
    QWidget* space = toolbar->findChild<QWidget*>(QStringLiteral("SPACE"));
    QWidget* exit = toolbar->findChild<QWidget*>(QStringLiteral("ESCI"));
    if (!space || !exit)
        return;
    toolbar->layout()->activate();
    const int margin = toolbar->layout()->contentsMargins().right();
    // The exit button's slot in the toolbar is its width plus the layout's spacing.
    const int exitSlot = exit->width() + toolbar->layout()->spacing() + margin;
    space->setFixedWidth(SpaceWidth(toolbar->width(), space->x(), exitSlot));
    toolbar->layout()->activate();
}

void MdiRec::load() {
    QApplication::processEvents();
    if (QScreen* screen = QApplication::primaryScreen()) {
        const QRect full = screen->geometry();
        move(0, 0);
        setGeometry(full);
        resize(full.size());
    }
    show();
    // The login window that had the keyboard is gone: the frame takes it, so that its
    // windows answer the keyboard and the one the operator opens comes to the front.
    raise();
    activateWindow();
    QApplication::processEvents();
    LayoutToolbar(toolbar1_);
}

bool MdiRec::unsavedTranscription() const {
    return ctx_.forms && ctx_.forms->isLoaded(FormId::Player) &&
           ctx_.forms->player().saveButtonEnabled();
}

void MdiRec::Toolbar1_ButtonClick(const QString& key) {
    if (key == QStringLiteral("brogliaccio")) {
        ctx_.forms->show(FormId::Reports);
    } else if (key == QStringLiteral("cerca")) {
        try {
            ctx_.forms->show(FormId::Search);
        } catch (const RuntimeError& error) {
            ReportError(ctx_.boxes, error, QStringLiteral("Cerca"));
        }
    } else if (key == QStringLiteral("VERIFICA")) {
        ShowVerifyWindow(ctx_, this);
    } else if (key == QStringLiteral("PARM")) {
        ctx_.forms->showPasswordWindow(QStringLiteral("P"));
    } else if (key == QStringLiteral("ESCI")) {
        if (unsavedTranscription()) {
            ctx_.boxes.show(QStringLiteral("Salvare le modifiche Prima Di Uscire Dal Programma"),
                            kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
            return;
        }
        ctx_.forms->showPasswordWindow(QStringLiteral("E"));
    }
}

void MdiRec::closeForExit() {
    exiting_ = true;
    close();
}

void MdiRec::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    event->ignore();
    if (unsavedTranscription()) {
        ctx_.boxes.show(QStringLiteral("Salvare le modifiche Prima Di Uscire Dal Programma"),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
        return;
    }
    ctx_.forms->showPasswordWindow(QStringLiteral("E"));
}

}  // namespace kallomir
