// The program killed at each step of a save: after the next start there is exactly one
// complete recording, with its trailer and its row, and nothing else.
#include "SessionFixture.h"
#include "catalogue/RecordingTrailer.h"
#include "core/VbConvert.h"
#include "evidence/IntegrityCheck.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"
#include "recorder/CaptureMarker.h"
#include "support/WavFixture.h"

#include <QProcess>

using namespace kallomir;
using namespace kallomir::test;

namespace {

class SaveKill : public SessionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SaveKill, NextStartLeavesExactlyOneCompleteRecording) {
    const QString step = QString::fromLatin1(GetParam());
    const QDateTime start(QDate(2024, 5, 6), QTime(10, 19, 25));
    const QDateTime end = start.addSecs(65);
    const QString capture = home.path("Record.wav");
    WriteBytes(capture, MakeWav(65.0, 44100));  // two copy blocks and some
    ASSERT_TRUE(CaptureMarker(capture).create(start).isEmpty());
    catalogue().create();

    if (step != "before-save") {
        QProcess child;
        child.start(
            QStringLiteral(KALLOMIR_SAVE_KILL_CHILD),
            {home.home(), capture, home.config.dataPath, home.config.recFolder,
             home.userHome() + "/RIZEDUZO/", FormatDateTime(start), FormatDateTime(end), step});
        ASSERT_TRUE(child.waitForFinished(60000));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "killed at " << GetParam();
    }

    load();  // the next start
    waitSaves();
    const QString name = "20240506_101925.Ems";
    ASSERT_EQ(allFiles(), QStringList{name}) << "one recording and nothing else";
    const QByteArray bytes = ReadBytes(home.config.recordingsFolder() + "/" + name);
    EXPECT_EQ(bytes.left(bytes.size() - 48), ReadBytes(capture));
    EXPECT_EQ(bytes.right(48), RecordingTrailer::Make(home.config.recFolder, start, end).toBytes())
        << "the start the marker holds";
    EXPECT_EQ(rows(), 1);
    EXPECT_TRUE(catalogue().find(name).has_value());
    EXPECT_TRUE(MarkedCaptureFiles(home.home()).isEmpty());
    // The integrity log holds the recording once, with the fingerprint of what is on disk,
    // and the catalogue has the same.
    const LogContents log = IntegrityLog(home.home()).read();
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].field("file"), home.config.recordingsFolder() + "/" + name);
    EXPECT_EQ(log.lines[0].field("sha256"), Sha256Hex(bytes));
    EXPECT_EQ(catalogue().fingerprint(name)->sha256, Sha256Hex(bytes));
    CheckOptions check;
    check.programFolder = home.home();
    check.recordingRoots = RecordingRoots(home.home(), home.userHome());
    const CheckReport report = RunIntegrityCheck(check);
    EXPECT_TRUE(report.clean()) << report.lines().join('\n').toStdString();

    // And a second start finds nothing more to do.
    session.reset();
    load();
    waitSaves();
    EXPECT_EQ(allFiles(), QStringList{name});
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(IntegrityLog(home.home()).read().lines.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AtEachStep, SaveKill,
                         ::testing::Values("before-save", "planned", "copy-block", "copied",
                                           "trailer", "renamed", "logged", "row"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             QString n = QString::fromLatin1(param.param);
                             return n.replace('-', '_').toStdString();
                         });

}  // namespace
