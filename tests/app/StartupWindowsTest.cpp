#include "app/FrmSplash.h"
#include "app/MdiRec.h"
#include "app/PasswordWindow.h"
#include "app/WindowRegistry.h"
#include "core/RuntimeError.h"
#include "evidence/ui/VerifyWindow.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::FakePlayer;
using kallomir::test::FakeRecorder;
using kallomir::test::TempHome;

namespace {

// Records the order in which windows close.
struct Journal {
    QStringList closed;
    bool unsaved = false;
    int settingsOpened = 0;
    bool settingsFail = false;
};

class JournalRecorder : public QWidget, public FakeRecorder {
public:
    explicit JournalRecorder(Journal& j) : journal(j) {
        setWindowTitle(QStringLiteral("Recorder"));
    }

protected:
    void closeEvent(QCloseEvent* e) override {
        journal.closed << QStringLiteral("Recorder");
        e->accept();
    }
    Journal& journal;
};

class JournalPlayer : public QWidget, public FakePlayer {
public:
    explicit JournalPlayer(Journal& j) : journal(j) { setWindowTitle(QStringLiteral("Player")); }
    bool saveButtonEnabled() const override { return journal.unsaved; }

protected:
    void closeEvent(QCloseEvent* e) override {
        journal.closed << QStringLiteral("Player");
        e->accept();
    }
    Journal& journal;
};

class MainCloseWatcher : public QObject {
public:
    explicit MainCloseWatcher(Journal& j) : journal(j) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close && static_cast<QCloseEvent*>(e)->isAccepted())
            journal.closed << QStringLiteral("Main");
        return false;
    }
    Journal& journal;
};

class StartupWindows : public ::testing::Test {
protected:
    void SetUp() override {
        home.writeFile(QStringLiteral("2001Kallomir.Emx"), "Secret,second field\r\n");
        home.initConfiguration();
        WindowRegistry::Factories f;
        f.recorder = [this](AppContext&, QWidget*) { return new JournalRecorder(journal); };
        f.player = [this](AppContext&, QWidget*) { return new JournalPlayer(journal); };
        f.openSettings = [this](AppContext&, QWidget*) {
            ++journal.settingsOpened;
            if (journal.settingsFail)
                throw RuntimeError(53, QStringLiteral("File not found"));
        };
        forms = std::make_unique<WindowRegistry>(*home.context, f);
    }
    void TearDown() override {
        forms.reset();
        QApplication::processEvents();
    }

    FrmLogin* showLogin() {
        forms->show(FormId::Login);
        return forms->loginWindow();
    }
    void typeAndEnter(PasswordWindow* w, const QString& text) {
        w->txtPassword()->clear();
        QTest::keyClicks(w->txtPassword(), text);
        QTest::mouseClick(w->cmdOk(), Qt::LeftButton);
    }
    void login() {
        FrmLogin* w = showLogin();
        ASSERT_NE(w, nullptr);
        typeAndEnter(w, QStringLiteral("Secret"));
        QApplication::processEvents();
    }

    TempHome home;
    Journal journal;
    std::unique_ptr<WindowRegistry> forms;
};

TEST_F(StartupWindows, LoginWindowLooksAsDesigned) {
    FrmLogin* w = showLogin();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Accesso Riservato"));
    EXPECT_EQ(w->lbTito()->text(), QStringLiteral("Recorder"));
    EXPECT_EQ(w->lblLabels()->text(), QStringLiteral("&Password:"));
    EXPECT_EQ(w->cmdOk()->text(), QStringLiteral("&Entra"));
    EXPECT_EQ(w->cmdCancel()->text(), QStringLiteral("&Annulla"));
    EXPECT_EQ(w->txtPassword()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w->txtPassword()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                   w->txtPassword()),
              '?');
}

TEST_F(StartupWindows, WrongPasswordsAreRefusedAndSelectedForRetyping) {
    FrmLogin* w = showLogin();
    for (const QString& wrong : {QStringLiteral("secret"), QStringLiteral("Secret "),
                                 QStringLiteral("Secret,second field")}) {
        typeAndEnter(w, wrong);
        ASSERT_FALSE(home.boxes.empty());
        EXPECT_EQ(home.boxes.last().text, QStringLiteral("Password non valida. Riprovare."));
        EXPECT_EQ(home.boxes.last().title, QStringLiteral("Accesso"));
        EXPECT_EQ(home.boxes.last().buttons, MsgButtons::Ok);
        EXPECT_EQ(w->txtPassword()->selectedText(), wrong);
        EXPECT_TRUE(w->isVisible());
    }
    EXPECT_FALSE(forms->isLoaded(FormId::Recorder));
    EXPECT_EQ(home.boxes.shown().size(), 3);
}

TEST_F(StartupWindows, CorrectPasswordOpensRecorderAndPlayerInTheFullScreenFrame) {
    login();
    EXPECT_TRUE(home.boxes.empty());
    EXPECT_EQ(forms->loginWindow(), nullptr);
    ASSERT_TRUE(forms->isLoaded(FormId::Main));
    MdiRec& main = forms->mainWindow();
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Kallomir"));
    EXPECT_EQ(main.pos(), QPoint(0, 0));
    EXPECT_EQ(main.size(), QApplication::primaryScreen()->geometry().size());
    ASSERT_EQ(main.mdiArea()->subWindowList().size(), 2);
    EXPECT_EQ(main.mdiArea()->subWindowList()[0]->windowTitle(), QStringLiteral("Recorder"));
    EXPECT_EQ(main.mdiArea()->subWindowList()[1]->windowTitle(), QStringLiteral("Player"));
}

TEST_F(StartupWindows, ToolbarHasItsButtonsAndExitEndsAtTheRightEdge) {
    login();
    MdiRec& main = forms->mainWindow();
    const struct {
        const char* key;
        const char* caption;
        const char* tip;
    } buttons[] = {
        {"PARM", "Parametri", "Impostazione parametri"},
        {"brogliaccio", "Brogliaccio", ""},
        {"VERIFICA", "Verifica", "Verifica dell'integrità di registrazioni, catalogo e registro"},
        {"ESCI", "Esci", "uscita dal programma"}};
    for (const auto& b : buttons) {
        auto* w = qobject_cast<QToolButton*>(main.button(QString::fromLatin1(b.key)));
        ASSERT_NE(w, nullptr) << b.key;
        EXPECT_EQ(w->text(), QString::fromUtf8(b.caption));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(b.tip));
    }
    QWidget* space = main.button(QStringLiteral("SPACE"));
    QWidget* exit = main.button(QStringLiteral("ESCI"));
    ASSERT_NE(space, nullptr);
    const int rightEdge = exit->mapTo(main.toolbar1(), QPoint(exit->width(), 0)).x();
    EXPECT_NEAR(rightEdge, main.toolbar1()->width(), 12);
    EXPECT_GT(space->width(), 100);
    // The placeholder does nothing when clicked.
    QTest::mouseClick(space, Qt::LeftButton);
    main.Toolbar1_ButtonClick(QStringLiteral("SPACE"));
    EXPECT_EQ(forms->passwordWindow(), nullptr);
    EXPECT_TRUE(home.boxes.empty());
}

TEST_F(StartupWindows, VerificaOpensOneCheckWindowWithoutAPassword) {
    login();
    MdiRec& main = forms->mainWindow();
    QTest::mouseClick(main.button(QStringLiteral("VERIFICA")), Qt::LeftButton);
    main.Toolbar1_ButtonClick(QStringLiteral("VERIFICA"));  // brings the same one forward
    const auto windows = main.findChildren<VerifyWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0]->windowTitle(), QStringLiteral("Verifica"));
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(forms->passwordWindow(), nullptr);
    windows[0]->close();
}

TEST_F(StartupWindows, ExitAndCloseBoxAskForThePasswordUnlessTranscriptionIsUnsaved) {
    login();
    MdiRec& main = forms->mainWindow();
    journal.unsaved = true;
    QTest::mouseClick(main.button(QStringLiteral("ESCI")), Qt::LeftButton);
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.last().text,
              QStringLiteral("Salvare le modifiche Prima Di Uscire Dal Programma"));
    EXPECT_EQ(home.boxes.last().icon, MsgIcon::Critical);
    EXPECT_EQ(forms->passwordWindow(), nullptr);
    EXPECT_FALSE(main.close());
    EXPECT_EQ(home.boxes.shown().size(), 2);
    EXPECT_EQ(forms->passwordWindow(), nullptr);

    journal.unsaved = false;
    EXPECT_FALSE(main.close());  // the close box never closes the frame itself
    ASSERT_NE(forms->passwordWindow(), nullptr);
    EXPECT_EQ(forms->passwordWindow()->tag(), QStringLiteral("E"));
    EXPECT_EQ(forms->passwordWindow()->cmdOk()->text(), QStringLiteral("&OK"));
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(home.process.ended());
}

TEST_F(StartupWindows, ExitTagClosesPlayerRecorderAndFrameThenEnds) {
    login();
    MainCloseWatcher watcher(journal);
    forms->mainWindow().installEventFilter(&watcher);
    forms->mainWindow().Toolbar1_ButtonClick(QStringLiteral("ESCI"));
    FrmPwd* pwd = forms->passwordWindow();
    ASSERT_NE(pwd, nullptr);
    typeAndEnter(pwd, QStringLiteral("wrong"));
    EXPECT_FALSE(home.process.ended());
    typeAndEnter(pwd, QStringLiteral("Secret"));
    EXPECT_EQ(journal.closed, (QStringList{QStringLiteral("Player"), QStringLiteral("Recorder"),
                                           QStringLiteral("Main")}));
    EXPECT_TRUE(home.process.ended());
}

TEST_F(StartupWindows, SettingsTagOpensTheDialogOrReportsItsError) {
    login();
    forms->mainWindow().Toolbar1_ButtonClick(QStringLiteral("PARM"));
    ASSERT_NE(forms->passwordWindow(), nullptr);
    EXPECT_EQ(forms->passwordWindow()->tag(), QStringLiteral("P"));
    journal.settingsFail = true;
    typeAndEnter(forms->passwordWindow(), QStringLiteral("Secret"));
    EXPECT_EQ(journal.settingsOpened, 1);
    EXPECT_EQ(home.boxes.last().text, QStringLiteral("Error 53 File not found"));
    EXPECT_EQ(home.boxes.last().title, QStringLiteral("mnuSettings_Click"));
    ASSERT_NE(forms->passwordWindow(), nullptr);  // stays open after the error
    journal.settingsFail = false;
    typeAndEnter(forms->passwordWindow(), QStringLiteral("Secret"));
    EXPECT_EQ(journal.settingsOpened, 2);
    QApplication::processEvents();
    EXPECT_EQ(forms->passwordWindow(), nullptr);
    EXPECT_FALSE(home.process.ended());
}

TEST_F(StartupWindows, CancelEndsFromLoginButNotFromPasswordWindow) {
    login();
    forms->showPasswordWindow(QStringLiteral("E"));
    QTest::mouseClick(forms->passwordWindow()->cmdCancel(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(forms->passwordWindow(), nullptr);
    EXPECT_FALSE(home.process.ended());
    EXPECT_TRUE(journal.closed.isEmpty());

    TempHome other;
    other.writeFile(QStringLiteral("2001Kallomir.Emx"), "x\n");
    WindowRegistry otherForms(*other.context, {});
    otherForms.show(FormId::Login);
    QTest::mouseClick(otherForms.loginWindow()->cmdCancel(), Qt::LeftButton);
    EXPECT_TRUE(other.process.ended());
}

TEST_F(StartupWindows, PasswordWindowRereadsThePropertyFileEachTime) {
    login();
    forms->showPasswordWindow(QStringLiteral("P"));
    forms->passwordWindow()->txtPassword()->setText(QStringLiteral("typed"));
    QTest::mouseClick(forms->passwordWindow()->cmdCancel(), Qt::LeftButton);
    QApplication::processEvents();
    home.writeFile(QStringLiteral("2001Kallomir.Emx"), "\"New, one\"\n");
    forms->showPasswordWindow(QStringLiteral("P"));
    EXPECT_TRUE(forms->passwordWindow()->txtPassword()->text().isEmpty());
    typeAndEnter(forms->passwordWindow(), QStringLiteral("New, one"));
    EXPECT_EQ(journal.settingsOpened, 1);

    // A property file that vanished ends the program when the window is next opened.
    QApplication::processEvents();
    QFile::remove(home.path(QStringLiteral("2001Kallomir.Emx")));
    forms->showPasswordWindow(QStringLiteral("E"));
    EXPECT_EQ(home.boxes.last().text, QStringLiteral("Errore !!! Manca il file proprietà EmX !!!"));
    EXPECT_TRUE(home.process.ended());
}

TEST_F(StartupWindows, MissingOrEmptyPropertyFileEndsTheProgram) {
    for (const QByteArray& content : {QByteArray(), QByteArray("  \r\n\t\n")}) {
        TempHome h;
        if (!content.isNull())
            h.writeFile(QStringLiteral("2001Kallomir.Emx"), content);
        WindowRegistry f(*h.context, {});
        f.show(FormId::Login);
        EXPECT_EQ(f.loginWindow(), nullptr);
        ASSERT_EQ(h.boxes.shown().size(), 1);
        EXPECT_EQ(h.boxes.last().text,
                  QStringLiteral("Errore !!! Manca il file proprietà EmX !!!"));
        EXPECT_EQ(h.boxes.last().title, kApplicationTitle);
        EXPECT_TRUE(h.process.ended());
    }
}

TEST(SplashLoad, AFolderNameThatIsAPathIsReportedAndNotUsed) {
    TempHome h;
    h.writeFile(QStringLiteral("2001Kallomir.Emx"), "Secret\r\n");
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[PATH]\nNOME=../../../x\n");
    WindowRegistry f(*h.context, {});
    QPointer<FrmSplash> splash = new FrmSplash(*h.context);
    splash->load();
    ASSERT_FALSE(h.boxes.empty());
    EXPECT_TRUE(h.boxes.shown().front().text.contains(QStringLiteral("NOME=../../../x")));
    EXPECT_TRUE(h.boxes.shown().front().text.contains(QStringLiteral("Quendral/1")));
    EXPECT_EQ(h.config.recFolder, QStringLiteral("Quendral/1"));
    EXPECT_NE(f.loginWindow(), nullptr) << "the program goes on to the login";
    delete splash.data();
}

TEST_F(StartupWindows, SplashShowsVersionAndClosesOnClickOrTimerOnly) {
    QPointer<FrmSplash> splash = new FrmSplash(*home.context);
    splash->show();
    splash->load();
    EXPECT_EQ(splash->lblVersion()->text(), QStringLiteral("Version 1.0.0"));
    EXPECT_EQ(splash->lblProductName()->text(), QStringLiteral("Kallomir"));
    EXPECT_EQ(splash->label1()->text(), QStringLiteral("Registratore Digitale"));
    EXPECT_EQ(splash->timer1().interval(), 3000);
    EXPECT_TRUE(splash->timer1().isActive());
    ASSERT_NE(forms->loginWindow(), nullptr);
    QTest::mouseClick(splash->lblVersion(), Qt::LeftButton);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(splash.isNull());
    ASSERT_NE(forms->loginWindow(), nullptr);
    EXPECT_TRUE(forms->loginWindow()->isVisible());

    QPointer<FrmSplash> second = new FrmSplash(*home.context);
    second->show();
    QTest::keyClick(second, Qt::Key_A);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
}

}  // namespace
