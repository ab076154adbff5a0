#include "app/MdiRec.h"
#include "app/WindowRegistry.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::FakeMixer;
using kallomir::test::FakePlayer;
using kallomir::test::FakeRecorder;
using kallomir::test::TempHome;

namespace {

// Two laptop and office main-window areas (screen less the toolbar) and a narrow one.
const QSize kLaptop(1366, 711);
const QSize kOffice(1280, 967);
const QSize kNarrow(1000, 967);

TEST(PlaceChildFrame, RecorderMixerAndPlayerShareTheAreaWithoutCovering) {
    const QSize recorder(720, 420), mixer(380, 185), player(1010, 670);
    const struct {
        QSize area;
        QRect recorder, mixer, player;
    } cases[] = {
        // Mixer beside the recorder; the player below with the rest of the height.
        {kOffice, {0, 0, 720, 420}, {720, 0, 380, 185}, {0, 420, 1010, 547}},
        // Too narrow for the mixer beside: it goes below the recorder; the player keeps its
        // least height.
        {kNarrow, {0, 0, 720, 420}, {0, 420, 380, 185}, {0, 567, 1000, 400}},
        // Too short for both: the player keeps its least height and stays on screen.
        {kLaptop, {0, 0, 720, 420}, {720, 0, 380, 185}, {0, 311, 1010, 400}},
    };
    for (const auto& c : cases) {
        const QRect r = PlaceChildFrame(FormId::Recorder, c.area, recorder, {}, {}, 400);
        const QRect m = PlaceChildFrame(FormId::Mixer, c.area, mixer, r, {}, 400);
        const QRect p = PlaceChildFrame(FormId::Player, c.area, player, r, m, 400);
        EXPECT_EQ(r, c.recorder) << c.area.width() << "x" << c.area.height();
        EXPECT_EQ(m, c.mixer) << c.area.width() << "x" << c.area.height();
        EXPECT_EQ(p, c.player) << c.area.width() << "x" << c.area.height();
        const QRect area(QPoint(0, 0), c.area);
        for (const QRect& frame : {r, m, p}) EXPECT_TRUE(area.contains(frame)) << frame.y();
    }
    // A player narrower than the mixer's left edge ignores the mixer above its right.
    EXPECT_EQ(PlaceChildFrame(FormId::Player, kOffice, {600, 500}, {0, 0, 720, 300},
                              {720, 0, 380, 500}, 400),
              QRect(0, 300, 600, 667));
}

TEST(PlaceChildFrame, OtherWindowsOpenAtTheTopLeftWithinTheArea) {
    EXPECT_EQ(PlaceChildFrame(FormId::Reports, kLaptop, {910, 730}, {0, 0, 720, 420}, {}, 400),
              QRect(0, 0, 910, 711));
    EXPECT_EQ(PlaceChildFrame(FormId::Recorder, {600, 400}, {720, 420}, {}, {}, 400),
              QRect(0, 0, 600, 400));
    EXPECT_EQ(PlaceChildFrame(FormId::Player, {800, 300}, {700, 600}, {0, 0, 500, 200}, {}, 400),
              QRect(0, 0, 700, 300));
}

// Windows of chosen sizes: the recorder and player laid out by hand (no size hint), the mixer
// and the report with layouts whose hints are smaller than the size they were given.
class HandSized : public QWidget {
public:
    HandSized(const QString& title, QSize size) {
        setWindowTitle(title);
        resize(size);
    }
};
class Recorder : public HandSized, public FakeRecorder {
public:
    explicit Recorder(QSize size) : HandSized(QStringLiteral("Recorder"), size) {}
};
class Player : public HandSized, public FakePlayer {
public:
    explicit Player(int minimumHeight) : HandSized(QStringLiteral("Player"), {500, 180}) {
        if (minimumHeight > 0)
            setMinimumSize(400, minimumHeight);
    }
};
QWidget* LaidOut(QWidget* w, const QString& title, QSize size) {
    w->setWindowTitle(title);
    auto* layout = new QHBoxLayout(w);
    layout->addWidget(new QLabel(QStringLiteral("Pagina 1 di 12"), w));
    layout->addWidget(new QPushButton(QStringLiteral("Esporta PDF"), w));
    w->resize(size);
    return w;
}
class Mixer : public QWidget, public FakeMixer {
public:
    Mixer() { LaidOut(this, QStringLiteral("Mixer Audio"), {200, 100}); }
};

class WindowArrangement : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        WindowRegistry::Factories f;
        f.recorder = [this](AppContext&, QWidget*) { return new Recorder(recorderSize); };
        f.player = [this](AppContext&, QWidget*) { return new Player(playerMinimumHeight); };
        f.mixer = [](AppContext&, QWidget*) { return new Mixer; };
        f.reports = [this](AppContext&, QWidget*) {
            return LaidOut(new QWidget, QStringLiteral("Brogliaccio"), reportSize);
        };
        forms = std::make_unique<WindowRegistry>(*home.context, f);
    }
    void TearDown() override {
        forms.reset();
        QApplication::processEvents();
    }
    QMdiSubWindow* frame(FormId form) const {
        return qobject_cast<QMdiSubWindow*>(forms->child(form)->parentWidget());
    }
    QRect area() { return forms->mainWindow().mdiArea()->viewport()->rect(); }
    // As the login opens them: the recorder, then the player, whose load shows the mixer.
    void openWorkWindows() {
        forms->show(FormId::Recorder);
        forms->show(FormId::Mixer);
        forms->show(FormId::Player);
        QApplication::processEvents();
    }

    TempHome home;
    QSize reportSize{600, 300};
    QSize recorderSize{300, 150};
    int playerMinimumHeight = 0;
    std::unique_ptr<WindowRegistry> forms;
};

TEST_F(WindowArrangement, WorkWindowsFitTheAreaAndCoverNothing) {
    openWorkWindows();
    const QRect recorder = frame(FormId::Recorder)->geometry();
    const QRect mixer = frame(FormId::Mixer)->geometry();
    const QRect player = frame(FormId::Player)->geometry();
    EXPECT_EQ(recorder.topLeft(), QPoint(0, 0));
    EXPECT_GE(recorder.width(), 300) << "the recorder has the size it was made with";
    EXPECT_GE(recorder.height(), 150);
    EXPECT_EQ(mixer.topLeft(), QPoint(recorder.right() + 1, 0));
    EXPECT_GE(mixer.width(), 200);
    EXPECT_EQ(player.top(), recorder.bottom() + 1);
    EXPECT_EQ(player.bottom(), area().bottom()) << "the player takes the rest of the height";
    EXPECT_GE(player.width(), 500);
    for (const QRect& f : {recorder, mixer, player}) EXPECT_TRUE(area().contains(f)) << f.y();
    EXPECT_FALSE(recorder.intersects(mixer) || recorder.intersects(player) ||
                 mixer.intersects(player));
}

TEST_F(WindowArrangement, ShortOfHeightThePlayerKeepsItsLeastHeightOnScreen) {
    recorderSize = QSize(300, area().height() - 150);
    openWorkWindows();
    const QRect recorder = frame(FormId::Recorder)->geometry();
    const QRect player = frame(FormId::Player)->geometry();
    EXPECT_EQ(player.height(), std::min(kLeastPlayerFrameHeight, area().height()));
    EXPECT_EQ(player.bottom(), area().bottom());
    EXPECT_TRUE(player.intersects(recorder)) << "no room: the player covers the recorder's foot";
}

TEST_F(WindowArrangement, APlayerThatStatesItsMinimumIsHeldToThatInstead) {
    recorderSize = QSize(300, area().height() - 150);
    playerMinimumHeight = 80;
    openWorkWindows();
    const QRect recorder = frame(FormId::Recorder)->geometry();
    const QRect player = frame(FormId::Player)->geometry();
    EXPECT_EQ(player.top(), recorder.bottom() + 1);
    EXPECT_EQ(player.bottom(), area().bottom());
    EXPECT_GE(forms->child(FormId::Player)->height(), 80);
}

TEST_F(WindowArrangement, ReportOpensAtItsSizeWithinTheAreaAndInFront) {
    openWorkWindows();
    forms->show(FormId::Reports);
    QMdiSubWindow* report = frame(FormId::Reports);
    EXPECT_GE(report->width(), 600) << "not the layout's small hint";
    EXPECT_GE(report->height(), 300);
    EXPECT_EQ(forms->mainWindow().mdiArea()->activeSubWindow(), report);
    QApplication::processEvents();
    EXPECT_EQ(forms->mainWindow().mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), report);
    forms->unload(FormId::Reports);
    QApplication::processEvents();

    reportSize = QSize(3000, 2000);
    forms->show(FormId::Reports);
    EXPECT_TRUE(area().contains(frame(FormId::Reports)->geometry()));
}

TEST_F(WindowArrangement, ClosingAMaximisedReportLeavesTheOthersAsTheyWere) {
    openWorkWindows();
    const QRect recorder = frame(FormId::Recorder)->geometry();
    const QRect player = frame(FormId::Player)->geometry();
    forms->show(FormId::Reports);
    frame(FormId::Reports)->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(frame(FormId::Reports)->isMaximized());
    frame(FormId::Reports)->close();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(forms->isLoaded(FormId::Reports));
    for (FormId form : {FormId::Recorder, FormId::Player, FormId::Mixer})
        EXPECT_FALSE(frame(form)->isMaximized()) << static_cast<int>(form);
    EXPECT_EQ(frame(FormId::Recorder)->geometry(), recorder);
    EXPECT_EQ(frame(FormId::Player)->geometry(), player);
}

}  // namespace
