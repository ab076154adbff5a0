#include "catalogue/Catalogue.h"
#include "catalogue/RecordingName.h"
#include "catalogue/RecordingTrailer.h"
#include "catalogue/WavInfo.h"
#include "core/RuntimeError.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecordingSaver.h"
#include "support/TempHome.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    }
    RecordingSaver saver() { return RecordingSaver(home.config, capture, fallback()); }
    QString fallback() const { return home.userHome() + "/RIZEDUZO/"; }

    test::TempHome home;
    QString capture;
};

TEST_F(SaverTest, CopyThenTrailerInTheRecordingsFolder) {
    int yields = 0;
    RecordingSaver s = saver();
    s.yield = [&] { ++yields; };
    const SavedRecording saved = s.save(kStart, kEnd);
    EXPECT_EQ(saved.catalogueName, "20240131_142305.Ems");
    EXPECT_EQ(saved.file, home.config.recordingsFolder() + "/20240131_142305.Ems");
    EXPECT_FALSE(saved.usedFallback);
    const QByteArray bytes = ReadBytes(saved.file);
    EXPECT_EQ(bytes.left(bytes.size() - 48), ReadBytes(capture));
    EXPECT_EQ(bytes.right(48), RecordingTrailer::Make("Quendral/1", kStart, kEnd).toBytes());
    EXPECT_GE(yields, 5);
    EXPECT_TRUE(QFile::exists(capture));  // the capture file stays

    // A second recording of the same second gets its own file; the first stays whole.
    WriteBytes(capture, MakeWav(2.5));
    const SavedRecording second = saver().save(kStart, kEnd.addSecs(1));
    EXPECT_EQ(second.catalogueName, "20240131_142305_2.Ems");
    EXPECT_EQ(ReadBytes(saved.file), bytes);
}

TEST_F(SaverTest, VanishedFolderFallsBackOnceThenGivesUp) {
    QDir(home.config.dataPath).removeRecursively();
    QStringList reported;
    RecordingSaver s = saver();
    s.report = [&](const RuntimeError& e) { reported << QString::number(e.number()); };
    const SavedRecording saved = s.save(kStart, kEnd);
    EXPECT_EQ(reported, QStringList{"76"});
    EXPECT_TRUE(saved.usedFallback);
    EXPECT_EQ(saved.file, fallback() + "ERROR/20240131_142305.Ems");
    EXPECT_EQ(home.config.recFolder, "ERROR");
    EXPECT_EQ(ReadBytes(saved.file).right(48).left(8), "ERROR   ");

    // Fallback unreachable too: one report, then the error reaches the caller, no loop.
    reported.clear();
    home.config.dataPath = home.home() + "/gone/";
    home.config.recFolder = "Quendral/1";
    RecordingSaver blocked(home.config, capture, home.home() + "/also-gone/deeper/");
    blocked.report = s.report;
    try {
        blocked.save(kStart, kEnd);
        FAIL() << "expected path not found";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), errors::kPathNotFound);
    }
    EXPECT_EQ(reported.size(), 1);
}

TEST_F(SaverTest, MissingCaptureFileIsFileNotFound) {
    QFile::remove(capture);
    try {
        saver().save(kStart, kEnd);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), errors::kFileNotFound);
    }
    EXPECT_TRUE(QDir(home.config.recordingsFolder()).entryList(QDir::Files).isEmpty());
}

class RecoveryTest : public SaverTest {
protected:
    void SetUp() override {
        SaverTest::SetUp();
        Catalogue::InFolder(home.home()).create();
        home.context->settings.save("progressivo", "7");
    }
    std::optional<QString> recover() {
        return RecoverOrphanedCapture(marker, home.config, fallback(),
                                      Catalogue::InFolder(home.home()), home.context->settings,
                                      home.boxes);
    }
    CaptureMarker marker{home.path("Record.wav")};
};

TEST_F(RecoveryTest, OrphanIsSavedOnceWithStartFromItsLength) {
    WriteBytes(capture, MakeWav(65.0, 8000, true, 0));  // header never updated
    const QDateTime lastWrite(QDate(2024, 5, 6), QTime(10, 20, 30));
    {
        QFile f(capture);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(lastWrite, QFileDevice::FileModificationTime));
    }
    marker.set(lastWrite.addSecs(-65));

    const auto saved = recover();
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(saved->endsWith("/20240506_101925.Ems"));
    EXPECT_EQ(RecordingTrailer::ReadFromFile(*saved)->end(), lastWrite);
    EXPECT_EQ(Catalogue::InFolder(home.home()).find("20240506_101925.Ems")->progressivo, 8);
    EXPECT_FALSE(marker.isSet());
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_TRUE(home.boxes.last().text.contains("20240506_101925.Ems"));

    EXPECT_FALSE(recover().has_value());  // never twice
    EXPECT_EQ(home.boxes.shown().size(), 1);
}

TEST_F(RecoveryTest, SavedCaptureOrEmptyCaptureIsNotAnOrphan) {
    EXPECT_FALSE(recover().has_value());  // capture file present, no marker
    marker.set(kStart);
    WriteBytes(capture, MakeWav(0.2));
    EXPECT_FALSE(recover().has_value());
    EXPECT_FALSE(marker.isSet());
    EXPECT_TRUE(home.boxes.empty());
}

TEST_F(RecoveryTest, FailedCopyKeepsTheMarkerForTheNextRun) {
    marker.set(kStart);
    WriteBytes(capture, MakeWav(3.0));
    home.writeFile("blocker", "a file where folders should be");
    home.config.dataPath = home.home() + "/blocker/data/";
    EXPECT_FALSE(RecoverOrphanedCapture(marker, home.config, home.home() + "/blocker/fallback/",
                                        Catalogue::InFolder(home.home()), home.context->settings,
                                        home.boxes)
                     .has_value());
    EXPECT_TRUE(marker.isSet());
    EXPECT_EQ(home.boxes.last().title, "Recupero registrazione");
}

}  // namespace
