// The save as a transaction: plan in the marker, copy under a temporary name, flush,
// trailer, name, folder flush; a resumed save finishes its plan; errors keep their numbers.
#include "catalogue/RecordingTrailer.h"
#include "core/RuntimeError.h"
#include "evidence/Sha256.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecordingSaver.h"
#include "support/TempHome.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <unistd.h>

#include <csignal>
#include <functional>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::MakeWav;
using kallomir::test::ReadBytes;
using kallomir::test::WriteBytes;

namespace {

const QDateTime kStart(QDate(2024, 1, 31), QTime(14, 23, 5));
const QDateTime kEnd(QDate(2024, 1, 31), QTime(14, 25, 40));

class SaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        capture = home.path("Record.wav");
        WriteBytes(capture, MakeWav(1.5));
        ASSERT_TRUE(CaptureMarker(capture).create(kStart).isEmpty());
    }
    SaveRequest request(const QDateTime& end = kEnd) const {
        return SaveRequest{capture,   kStart, end, home.config.dataPath, home.config.recFolder,
                           fallback()};
    }
    QString fallback() const { return home.userHome() + "/RIZEDUZO/"; }
    QString folder() const { return home.config.recordingsFolder(); }
    QStringList files(const QString& dir) const {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    test::TempHome home;
    QString capture;
};

TEST_F(SaverTest, CopyThenTrailerUnderTheStartNameWithThePlanInTheMarker) {
    QList<SaveStep> steps;
    RecordingSaver saver;
    saver.onStep = [&](SaveStep s) {
        if (s != SaveStep::CopyBlock)
            steps << s;
    };
    const SaveResult r = saver.save(request());
    ASSERT_TRUE(r.saved) << (r.failure ? r.failure->what() : "");
    EXPECT_EQ(r.catalogueName, "20240131_142305.Ems");
    EXPECT_EQ(r.file, folder() + "/20240131_142305.Ems");
    EXPECT_EQ(steps, (QList<SaveStep>{SaveStep::Planned, SaveStep::Copied, SaveStep::TrailerWritten,
                                      SaveStep::Renamed}));
    const QByteArray bytes = ReadBytes(r.file);
    EXPECT_EQ(bytes.left(bytes.size() - 48), ReadBytes(capture));
    EXPECT_EQ(bytes.right(48), RecordingTrailer::Make("Quendral/1", kStart, kEnd).toBytes());
    ASSERT_TRUE(r.fingerprint);
    EXPECT_EQ(r.fingerprint->sha256, Sha256Hex(bytes));  // every byte on the disk, in order
    EXPECT_EQ(files(folder()), QStringList{"20240131_142305.Ems"});  // no temporary left
    EXPECT_TRUE(QFile::exists(capture));

    const auto marker = CaptureMarker(capture).read();
    ASSERT_TRUE(marker && marker->plan);
    EXPECT_EQ(marker->start, kStart);
    EXPECT_EQ(marker->plan->end, kEnd);
    EXPECT_EQ(marker->plan->target, r.file);
    EXPECT_EQ(marker->plan->folderTag, "Quendral/1");
}

TEST_F(SaverTest, ASecondRecordingOfTheSameSecondGetsItsOwnName) {
    const SaveResult first = RecordingSaver().save(request());
    const QByteArray before = ReadBytes(first.file);
    WriteBytes(capture, MakeWav(2.5));
    ASSERT_TRUE(CaptureMarker(capture).create(kStart).isEmpty());
    const SaveResult second = RecordingSaver().save(request(kEnd.addSecs(1)));
    EXPECT_EQ(second.catalogueName, "20240131_142305_2.Ems");
    EXPECT_EQ(ReadBytes(first.file), before);
}

TEST_F(SaverTest, ResumedSaveFinishesItsOwnPlanExactlyOnce) {
    // A plan whose copy was cut off: a half temporary file and no recording.
    const QString target = folder() + "/20240131_142305.Ems";
    const QString temp = folder() + "/.20240131_142305.Ems.part";
    QDir().mkpath(folder());
    ASSERT_TRUE(CaptureMarker(capture).recordPlan({kEnd, "Quendral/1", target, temp}).isEmpty());
    WriteBytes(temp, "half a copy");
    const SaveResult r = RecordingSaver().save(request(kEnd.addSecs(99)));
    ASSERT_TRUE(r.saved);
    EXPECT_EQ(r.file, target);
    EXPECT_EQ(ReadBytes(target).right(48),  // the planned end, not the later one asked for
              RecordingTrailer::Make("Quendral/1", kStart, kEnd).toBytes());
    EXPECT_EQ(files(folder()), QStringList{"20240131_142305.Ems"});

    // Finished already (killed after the rename, before the temporary was gone): nothing new.
    WriteBytes(temp, "leftover");
    const QByteArray done = ReadBytes(target);
    const SaveResult again = RecordingSaver().save(request());
    EXPECT_TRUE(again.saved);
    EXPECT_EQ(ReadBytes(target), done);
    EXPECT_EQ(files(folder()), QStringList{"20240131_142305.Ems"});
}

TEST_F(SaverTest, VanishedFolderFallsBackOnceThenGivesUp) {
    // DataPath's parent is missing too: one level is all that is ever created.
    SaveRequest r = request();
    r.dataPath = home.home() + "/gone/Recodati/";
    const SaveResult saved = RecordingSaver().save(r);
    ASSERT_TRUE(saved.saved);
    ASSERT_EQ(saved.reports.size(), 1);
    EXPECT_EQ(saved.reports.front().number(), errors::kPathNotFound);
    EXPECT_EQ(saved.fallbackDataPath, fallback());
    EXPECT_EQ(saved.file, fallback() + "ERROR/20240131_142305.Ems");
    EXPECT_EQ(ReadBytes(saved.file).right(48).left(8), "ERROR   ");

    // The fallback itself gone too: the second path-not-found is the failure.
    ASSERT_TRUE(CaptureMarker(capture).create(kStart).isEmpty());
    r.fallbackDataPath = home.home() + "/also/gone/";
    const SaveResult failed = RecordingSaver().save(r);
    EXPECT_FALSE(failed.saved);
    ASSERT_TRUE(failed.failure);
    EXPECT_EQ(failed.failure->number(), errors::kPathNotFound);
}

TEST_F(SaverTest, FailuresKeepTheirNumbersAndLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int number;
    } cases[] = {
        {"capture missing", [&] { QFile::remove(capture); }, errors::kFileNotFound},
        {"folder read-only",
         [&] {
             QDir().mkpath(folder());
             QFile(folder()).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
         },
         errors::kPermissionDenied},
    };
    for (const Case& c : cases) {
        SetUp();
        c.arrange();
        if (geteuid() == 0 && c.number == errors::kPermissionDenied)
            continue;  // permissions do not stop root
        const SaveResult r = RecordingSaver().save(request());
        EXPECT_FALSE(r.saved) << c.what;
        ASSERT_TRUE(r.failure) << c.what;
        EXPECT_EQ(r.failure->number(), c.number) << c.what;
        QFile(folder()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
        EXPECT_TRUE(files(folder()).isEmpty()) << c.what;
    }
}

// A file system that takes only part of a write and then refuses more is a full disk,
// whichever call notices it.
TEST_F(SaverTest, ShortWritesOnAFullDiskAreReportedAsADiskFull) {
    WriteBytes(capture, MakeWav(30.0));  // 480 kB of audio
    ASSERT_TRUE(CaptureMarker(capture).create(kStart).isEmpty());
    QDir().mkpath(folder());
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveResult r = RecordingSaver().save(request());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(r.saved);
    ASSERT_TRUE(r.failure);
    EXPECT_EQ(r.failure->number(), errors::kDiskFull) << r.failure->what();
    EXPECT_TRUE(files(folder()).isEmpty());  // the partial temporary file is gone
}

TEST(SaverSteps, RenameNeverReplacesAnExistingRecording) {
    QTemporaryDir dir;
    WriteBytes(dir.filePath("a.part"), "new");
    WriteBytes(dir.filePath("a.Ems"), "old");
    EXPECT_FALSE(RenameNoReplace(dir.filePath("a.part"), dir.filePath("a.Ems")));
    EXPECT_EQ(ReadBytes(dir.filePath("a.Ems")), "old");
    EXPECT_TRUE(RenameNoReplace(dir.filePath("a.part"), dir.filePath("b.Ems")));
    EXPECT_EQ(ReadBytes(dir.filePath("b.Ems")), "new");
    EXPECT_FALSE(QFile::exists(dir.filePath("a.part")));
}

TEST(CaptureMarkerFile, StartAndPlanSurviveAndADamagedPlanReadsAsNone) {
    QTemporaryDir dir;
    const CaptureMarker marker(dir.filePath("Record.wav"));
    EXPECT_FALSE(marker.read().has_value());
    ASSERT_TRUE(marker.create(kStart).isEmpty());
    EXPECT_EQ(marker.read()->start, kStart);
    EXPECT_FALSE(marker.read()->plan.has_value());
    const SavePlan plan{kEnd, "Quendral/1", "/r/20240131_142305.Ems", "/r/.x.part"};
    ASSERT_TRUE(marker.recordPlan(plan).isEmpty());
    EXPECT_EQ(marker.read()->plan, plan);

    // A plan cut off in the middle of its write.
    QFile f(marker.path());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(2048 + 10);
    f.write("XXXX");
    f.close();
    ASSERT_TRUE(marker.read().has_value());
    EXPECT_EQ(marker.read()->start, kStart);
    EXPECT_FALSE(marker.read()->plan.has_value());

    // A marker of an earlier version: the start alone.
    WriteBytes(marker.path(), "31/01/2024 14:23:05\n");
    EXPECT_EQ(marker.read()->start, kStart);
    ASSERT_TRUE(marker.clear().isEmpty());
    EXPECT_FALSE(marker.isSet());
}

TEST(CaptureFiles, ANewCaptureNeverTakesAFileThatHoldsUnsavedAudio) {
    QTemporaryDir dir;
    EXPECT_EQ(FreeCaptureFile(dir.path()), dir.filePath("Record.wav"));
    ASSERT_TRUE(CaptureMarker(dir.filePath("Record.wav")).create(kStart).isEmpty());
    EXPECT_EQ(FreeCaptureFile(dir.path()), dir.filePath("Record_2.wav"));
    EXPECT_EQ(FreeCaptureFile(dir.path(), {dir.filePath("Record_2.wav")}),
              dir.filePath("Record_3.wav"));
    ASSERT_TRUE(CaptureMarker(dir.filePath("Record_3.wav")).create(kStart).isEmpty());
    EXPECT_EQ(MarkedCaptureFiles(dir.path()),
              (QStringList{dir.filePath("Record.wav"), dir.filePath("Record_3.wav")}));
}

}  // namespace
