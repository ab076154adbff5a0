// Fingerprints are what `sha256sum` says of the saved bytes, whether taken on the way to the
// disk or read back, and split correctly between audio and trailer.
#include "catalogue/RecordingTrailer.h"
#include "evidence/Fingerprint.h"
#include "evidence/Sha256.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecordingSaver.h"
#include "support/TempHome.h"
#include "support/WavFixture.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::MakeWav;
using kallomir::test::ReadBytes;
using kallomir::test::WriteBytes;

namespace {

// What the system's own tool prints for a file.
QString Sha256Sum(const QString& path) {
    QProcess tool;
    tool.start("sha256sum", {path});
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        return "sha256sum failed";
    return QString::fromLatin1(tool.readAllStandardOutput()).section(' ', 0, 0);
}

QByteArray Noise(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (qsizetype i = 0; i < size; ++i) bytes[i] = char(random.bounded(256));
    return bytes;
}

TEST(Fingerprint, OfAFileIsWhatSha256sumPrintsWithItsAudioAndTrailerApart) {
    QTemporaryDir dir;
    // Around the trailer's size and across the reading blocks.
    for (const qsizetype size :
         {0, 1, 47, 48, 49, (1 << 20) - 20, (1 << 20) + 30, 3 * (1 << 20) + 7}) {
        SCOPED_TRACE(size);
        const QByteArray bytes = Noise(size, quint32(size));
        const QString path = dir.filePath("f.Ems");
        ASSERT_TRUE(WriteBytes(path, bytes));
        const auto fingerprint = FingerprintOfFile(path);
        ASSERT_TRUE(fingerprint);
        EXPECT_EQ(fingerprint->sha256, Sha256Sum(path));
        EXPECT_EQ(fingerprint->bytes, size);
        const qsizetype audio = std::max<qsizetype>(0, size - 48);
        EXPECT_EQ(fingerprint->audioSha256, Sha256Hex(bytes.left(audio)));
        EXPECT_EQ(fingerprint->trailer, bytes.mid(audio));
    }
}

TEST(Fingerprint, TakenOnTheWayIsTheSameHoweverTheBlocksFall) {
    const QByteArray audio = Noise(5 * (1 << 20) + 123, 7);
    const QByteArray trailer = Noise(48, 8);
    QTemporaryDir dir;
    ASSERT_TRUE(WriteBytes(dir.filePath("f"), audio + trailer));
    const auto expected = FingerprintOfFile(dir.filePath("f"));
    for (const qsizetype block : {1 << 22, 65536, 1000, 47}) {
        SCOPED_TRACE(block);
        FingerprintTaker pipe;
        for (qsizetype at = 0; at < audio.size(); at += block)
            pipe.add(std::span<const char>(audio.constData() + at,
                                           std::size_t(std::min(block, audio.size() - at))));
        pipe.endOfAudio();
        pipe.add(std::span<const char>(trailer.constData(), 48));
        EXPECT_EQ(pipe.finish(), *expected);
    }
}

TEST(Fingerprint, MissingFileKeepsItsErrorNumberAndCancelStopsTheRead) {
    QTemporaryDir dir;
    try {
        FingerprintOfFile(dir.filePath("none"));
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 53);
    }
    ASSERT_TRUE(WriteBytes(dir.filePath("f"), Noise(3 << 20, 1)));
    std::atomic<bool> cancel{false};
    int blocks = 0;
    const auto result = FingerprintOfFile(dir.filePath("f"), &cancel, [&](qint64) {
        ++blocks;
        cancel = true;
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(blocks, 1);
}

class SavedFingerprint : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        capture = home.path("Record.wav");
        WriteBytes(capture, MakeWav(3.0));
        ASSERT_TRUE(CaptureMarker(capture).create(start).isEmpty());
    }
    SaveRequest request() const {
        return SaveRequest{capture,
                           start,
                           start.addSecs(3),
                           home.config.dataPath,
                           home.config.recFolder,
                           home.userHome() + "/RIZEDUZO/"};
    }
    const QDateTime start{QDate(2024, 1, 31), QTime(14, 23, 5)};
    test::TempHome home;
    QString capture;
};

TEST_F(SavedFingerprint, IsTakenFromTheBytesWrittenAndEqualsSha256sumOfTheSavedFile) {
    RecordingSaver saver;
    const SaveResult result = saver.save(request());
    ASSERT_TRUE(result.saved);
    ASSERT_TRUE(result.fingerprint);
    EXPECT_FALSE(result.namedBefore);
    EXPECT_EQ(result.fingerprint->sha256, Sha256Sum(result.file));
    EXPECT_EQ(result.fingerprint->audioSha256, Sha256Sum(capture));
    EXPECT_EQ(result.fingerprint->trailer,
              RecordingTrailer::Make(home.config.recFolder, start, start.addSecs(3)).toBytes());
    EXPECT_EQ(result.fingerprint->bytes, QFileInfo(result.file).size());
}

TEST_F(SavedFingerprint, ASaveFinishedAgainReadsTheNamedFileOnceAndAgrees) {
    RecordingSaver saver;
    const SaveResult first = saver.save(request());
    // The same plan again, as after a crash between the name and the catalogue row.
    const SaveResult again = saver.save(request());
    ASSERT_TRUE(again.saved);
    EXPECT_TRUE(again.namedBefore);
    ASSERT_TRUE(again.fingerprint);
    EXPECT_EQ(*again.fingerprint, *first.fingerprint);
    EXPECT_EQ(again.fingerprint->sha256, Sha256Sum(again.file));
}

TEST_F(SavedFingerprint, WithoutItTheKernelCopiesAndNoFingerprintIsClaimed) {
    RecordingSaver saver;
    saver.takeFingerprint = false;
    const SaveResult result = saver.save(request());
    ASSERT_TRUE(result.saved);
    EXPECT_FALSE(result.fingerprint);
    EXPECT_EQ(ReadBytes(result.file).left(QFileInfo(capture).size()), ReadBytes(capture));
}

}  // namespace
