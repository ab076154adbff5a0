#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QFrame;

namespace kallomir {

struct AppContext;

// The controls and rules shared by the login window and the password window: the expected
// password is read from the property file each time the window loads.
class PasswordWindow : public QWidget {
    Q_OBJECT
public:
    PasswordWindow(AppContext& ctx, const QString& okCaption, QWidget* parent);

    // Form_Load: reads the expected password; a missing or empty property file shows the
    // message and ends the program (returns false then).
    bool load();

    // cmdOk_Click(Index): compares the typed text with the expected password.
    void cmdOk_Click(int index = 0);
    virtual void cmdCancel_Click() = 0;

    QLineEdit* txtPassword() const { return txtPassword_; }
    QPushButton* cmdOk() const { return cmdOk_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }
    QLabel* lbTito() const { return lbTito_; }
    QLabel* lblLabels() const { return lblLabels_; }

protected:
    virtual void passwordAccepted() = 0;
    void showEvent(QShowEvent* event) override;
    AppContext& ctx_;

private:
    QString expectedPassword_;
    QLabel* image1_;
    QFrame* shape1_;
    QLabel* lbTito_;
    QLabel* lblLabels_;
    QLineEdit* txtPassword_;
    QPushButton* cmdOk_;
    QPushButton* cmdCancel_;
};

// FrmLogin: lets the operator into the recorder and player windows.
class FrmLogin : public PasswordWindow {
    Q_OBJECT
public:
    explicit FrmLogin(AppContext& ctx, QWidget* parent = nullptr);
    void cmdCancel_Click() override;

protected:
    void passwordAccepted() override;
};

// FrmPwd: guards the settings dialog (tag "P") and leaving the program (tag "E").
class FrmPwd : public PasswordWindow {
    Q_OBJECT
public:
    explicit FrmPwd(AppContext& ctx, QWidget* parent = nullptr);
    void setTag(const QString& tag) { tag_ = tag; }
    const QString& tag() const { return tag_; }
    void cmdCancel_Click() override;

    // Opens the settings dialog modally, owned by the given window; throws RuntimeError.
    std::function<void(QWidget* owner)> openSettings;

protected:
    void passwordAccepted() override;

private:
    QString tag_;
};

}  // namespace kallomir
