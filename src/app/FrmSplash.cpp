#include "app/FrmSplash.h"

#include "KallomirVersion.h"
#include "app/AppIcon.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/MessageBoxService.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace kallomir {

QString VersionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision);
}

FrmSplash::FrmSplash(AppContext& ctx, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);

    auto* outer = new QVBoxLayout(this);
    frame1_ = new QFrame(this);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    frame1_->setFrameShape(QFrame::Box);
    outer->addWidget(frame1_);
    auto* layout = new QVBoxLayout(frame1_);

    picture1_ = new QLabel(frame1_);
    picture1_->setObjectName(QStringLiteral("Picture1"));
    picture1_->setPixmap(AppPixmap(96));
    picture1_->setAlignment(Qt::AlignCenter);

    label1_ = new QLabel(QStringLiteral("Registratore Digitale"), frame1_);
    label1_->setObjectName(QStringLiteral("Label1"));
    QFont arial(QStringLiteral("Arial"), 20, QFont::Bold);
    label1_->setFont(arial);
    label1_->setAlignment(Qt::AlignCenter);

    lblProductName_ = new QLabel(QStringLiteral("Dorvane"), frame1_);
    lblProductName_->setObjectName(QStringLiteral("lblProductName"));
    QFont productFont = lblProductName_->font();
    productFont.setPointSize(28);
    productFont.setBold(true);
    lblProductName_->setFont(productFont);
    lblProductName_->setAlignment(Qt::AlignCenter);

    lblVersion_ = new QLabel(QStringLiteral("Version"), frame1_);
    lblVersion_->setObjectName(QStringLiteral("lblVersion"));
    lblVersion_->setAlignment(Qt::AlignRight);

    layout->addWidget(picture1_);
    layout->addWidget(lblProductName_);
    layout->addWidget(label1_);
    layout->addWidget(lblVersion_);

    for (QWidget* w : {static_cast<QWidget*>(frame1_), static_cast<QWidget*>(picture1_),
                       static_cast<QWidget*>(label1_), static_cast<QWidget*>(lblVersion_),
                       static_cast<QWidget*>(lblProductName_)}) {
        w->installEventFilter(this);
    }

    resize(480, 300);
    if (QScreen* screen = QApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }

    timer1_.setSingleShot(true);
    timer1_.setInterval(3000);
    connect(&timer1_, &QTimer::timeout, this, &FrmSplash::Timer1_Timer);
    timer1_.start();
}

void FrmSplash::load() {
    lblVersion_->setText(VersionText());
    lblProductName_->setText(kApplicationTitle);
    QStringList refused;
    const QStringList failures = InitConfiguration(
        ctx_.config, ctx_.homeFolder, ConfigurationDefaults::ForHome(ctx_.userHome), &refused);
    if (!refused.isEmpty()) {
        ctx_.boxes.show(
            QStringLiteral("RIZEDUZO.INI: un nome di cartella deve essere un solo nome, "
                           "non un percorso. Valori non usati:\n") +
                refused.join(u'\n') +
                QStringLiteral("\nSi usa la cartella %1.").arg(ctx_.config.recFolder),
            kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
    }
    if (!failures.isEmpty()) {
        ctx_.boxes.show(QStringLiteral("Impossibile creare la cartella:\n") + failures.join(u'\n'),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
    }
    if (ctx_.forms)
        ctx_.forms->show(FormId::Login);
}

bool FrmSplash::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
            close();
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void FrmSplash::keyPressEvent(QKeyEvent*) {
    close();
}
void FrmSplash::mousePressEvent(QMouseEvent*) {
    close();
}
void FrmSplash::Timer1_Timer() {
    close();
}

}  // namespace kallomir
