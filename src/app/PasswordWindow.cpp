#include "app/PasswordWindow.h"

#include "app/AppIcon.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/MessageBoxService.h"
#include "core/PasswordFile.h"
#include "core/ProcessControl.h"
#include "core/RuntimeError.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace kallomir {

namespace {
// Each typed character of the password box shows as '?'.
class QuestionMarkEcho : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return '?';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
}  // namespace

PasswordWindow::PasswordWindow(AppContext& ctx, const QString& okCaption, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(ctx) {
    setWindowTitle(QStringLiteral("Accesso Riservato"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* grid = new QGridLayout(this);
    shape1_ = new QFrame(this);
    shape1_->setObjectName(QStringLiteral("Shape1"));
    shape1_->setFrameShape(QFrame::StyledPanel);
    auto* shapeLayout = new QGridLayout(shape1_);

    image1_ = new QLabel(shape1_);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setPixmap(AppPixmap(40));
    lbTito_ = new QLabel(QStringLiteral("Recorder"), shape1_);
    lbTito_->setObjectName(QStringLiteral("LbTito"));
    QFont titleFont = lbTito_->font();
    titleFont.setBold(true);
    titleFont.setPointSize(titleFont.pointSize() + 4);
    lbTito_->setFont(titleFont);
    lblLabels_ = new QLabel(QStringLiteral("&Password:"), shape1_);
    lblLabels_->setObjectName(QStringLiteral("lblLabels"));
    txtPassword_ = new QLineEdit(shape1_);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    auto* echo = new QuestionMarkEcho;
    echo->setParent(txtPassword_);
    txtPassword_->setStyle(echo);
    txtPassword_->setEchoMode(QLineEdit::Password);
    lblLabels_->setBuddy(txtPassword_);

    shapeLayout->addWidget(image1_, 0, 0);
    shapeLayout->addWidget(lbTito_, 0, 1);
    shapeLayout->addWidget(lblLabels_, 1, 0);
    shapeLayout->addWidget(txtPassword_, 1, 1);

    cmdOk_ = new QPushButton(okCaption, this);
    cmdOk_->setObjectName(QStringLiteral("cmdOk"));
    cmdOk_->setDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("&Annulla"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));

    grid->addWidget(shape1_, 0, 0, 1, 2);
    grid->addWidget(cmdOk_, 1, 0);
    grid->addWidget(cmdCancel_, 1, 1);

    connect(cmdOk_, &QPushButton::clicked, this, [this] { cmdOk_Click(0); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(txtPassword_, &QLineEdit::returnPressed, this, [this] { cmdOk_Click(0); });
}

void PasswordWindow::showEvent(QShowEvent* event) {
    // Centred on the screen, above whatever the frame shows.
    if (QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    QWidget::showEvent(event);
}

bool PasswordWindow::load() {
    const std::optional<QString> field = ReadPasswordFile(ctx_.homeFile(kPasswordFileName));
    if (!field) {
        ctx_.boxes.show(QStringLiteral("Errore !!! Manca il file proprietà EmX !!!"));
        ctx_.process.endProcess(1);
        return false;
    }
    expectedPassword_ = *field;
    return true;
}

void PasswordWindow::cmdOk_Click(int) {
    if (txtPassword_->text() != expectedPassword_) {
        ctx_.boxes.show(QStringLiteral("Password non valida. Riprovare."),
                        QStringLiteral("Accesso"));
        txtPassword_->setFocus();
        txtPassword_->setSelection(0, static_cast<int>(txtPassword_->text().size()));
        return;
    }
    passwordAccepted();
}

FrmLogin::FrmLogin(AppContext& ctx, QWidget* parent)
    : PasswordWindow(ctx, QStringLiteral("&Entra"), parent) {
    setObjectName(QStringLiteral("FrmLogin"));
}

void FrmLogin::passwordAccepted() {
    QApplication::processEvents();
    ctx_.forms->show(FormId::Recorder);
    ctx_.forms->show(FormId::Player);
    close();
}

void FrmLogin::cmdCancel_Click() {
    ctx_.process.endProcess(0);
}

FrmPwd::FrmPwd(AppContext& ctx, QWidget* parent)
    : PasswordWindow(ctx, QStringLiteral("&OK"), parent) {
    setObjectName(QStringLiteral("FrmPwd"));
    // 3645 x 2445 twips at 15 twips a pixel.
    resize(243, 163);
}

void FrmPwd::passwordAccepted() {
    if (tag_ == QStringLiteral("P")) {
        try {
            if (!openSettings)
                throw RuntimeError(errors::kDeviceIo,
                                   QStringLiteral("Settings dialog not available"));
            openSettings(this);
        } catch (const RuntimeError& error) {
            ReportError(ctx_.boxes, error, QStringLiteral("mnuSettings_Click"));
            return;
        } catch (const std::exception& error) {
            ReportError(ctx_.boxes, errors::kDeviceIo, QString::fromUtf8(error.what()),
                        QStringLiteral("mnuSettings_Click"));
            return;
        }
        close();
    } else if (tag_ == QStringLiteral("E")) {
        ctx_.forms->unload(FormId::Player);
        ctx_.forms->unload(FormId::Recorder);
        ctx_.forms->unload(FormId::Main);
        close();
        ctx_.process.endProcess(0);
    }
}

void FrmPwd::cmdCancel_Click() {
    close();
}

}  // namespace kallomir
