#include "catalogue/RecordingName.h"
#include "catalogue/RecordingTrailer.h"
#include "catalogue/WavInfo.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::MakeWav;
using kallomir::test::ReadBytes;
using kallomir::test::WriteBytes;

namespace {

const QDateTime kStart(QDate(2024, 1, 31), QTime(14, 23, 5));
const QDateTime kEnd(QDate(2024, 1, 31), QTime(14, 25, 40));

TEST(RecordingName, StartMomentZeroPaddedAndDistinctWithinOneSecond) {
    EXPECT_EQ(MakeRecordingName(QDateTime(QDate(2024, 3, 4), QTime(5, 6, 7))), "20240304_050607");
    EXPECT_EQ(MakeRecordingName(QDateTime(QDate(2024, 3, 4), QTime(23, 0, 0))), "20240304_230000");

    QTemporaryDir dir;
    EXPECT_EQ(DistinctRecordingName(dir.path(), kStart), "20240131_142305");
    WriteBytes(dir.filePath("20240131_142305.ems"), "x");  // any case counts as taken
    EXPECT_EQ(DistinctRecordingName(dir.path(), kStart), "20240131_142305_2");
    WriteBytes(dir.filePath("20240131_142305_2.Ems"), "x");
    EXPECT_EQ(DistinctRecordingName(dir.path(), kStart), "20240131_142305_3");
}

TEST(RecordingTrailerTest, FortyEightBytesBuiltAndReadBack) {
    const RecordingTrailer trailer = RecordingTrailer::Make("Quendral/1", kStart, kEnd);
    const QByteArray bytes = trailer.toBytes();
    EXPECT_EQ(bytes, QByteArray("Quendral31/01/2024 14:23:0531/01/2024 14:25:40\r\n"));
    ASSERT_EQ(bytes.size(), 48);

    EXPECT_EQ(RecordingTrailer::Make("ab/2", kStart, kEnd).toBytes().left(8), "ab/2    ");
    EXPECT_EQ(RecordingTrailer::Make("Città/1", kStart, kEnd).toBytes().left(8), "Citt\xe0/1 ");

    const auto back = RecordingTrailer::FromBytes(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->folderTag, "Quendral");
    EXPECT_EQ(back->start(), kStart);
    EXPECT_EQ(back->end(), kEnd);
}

TEST(RecordingTrailerTest, ShortForeignOrDamagedFilesGiveNoTrailerOrNoDates) {
    QTemporaryDir dir;
    const QString file = dir.filePath("f.Ems");
    EXPECT_FALSE(RecordingTrailer::ReadFromFile(dir.filePath("missing.Ems")).has_value());
    WriteBytes(file, "short\r\n");
    EXPECT_FALSE(RecordingTrailer::ReadFromFile(file).has_value());
    WriteBytes(file, QByteArray(100, 'z'));
    EXPECT_FALSE(RecordingTrailer::ReadFromFile(file).has_value());

    WriteBytes(file, MakeWav(0.1) + "Quendral99/99/2024 14:23:05garbage garbage   \r\n");
    const auto trailer = RecordingTrailer::ReadFromFile(file);
    ASSERT_TRUE(trailer.has_value());
    EXPECT_FALSE(trailer->start().has_value());
    EXPECT_FALSE(trailer->end().has_value());
}

TEST(WavInfoTest, AudioLengthTrustsWhatTheFileHolds) {
    QTemporaryDir dir;
    const QString file = dir.filePath("r.wav");
    WriteBytes(file, MakeWav(2.0));
    auto info = WavInfo::Read(file);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->sampleRate, 8000);
    EXPECT_EQ(info->bitsPerSample, 16);
    EXPECT_EQ(info->dataOffset, 44);
    EXPECT_DOUBLE_EQ(info->audioSeconds(), 2.0);

    // A header that was last updated a while before the process died.
    WriteBytes(file, MakeWav(3.0, 8000, true, 8000 * 2));
    EXPECT_DOUBLE_EQ(WavInfo::Read(file)->audioSeconds(), 3.0);
    // A header claiming more than a truncated file holds.
    WriteBytes(file, MakeWav(3.0).left(44 + 16000));
    EXPECT_DOUBLE_EQ(WavInfo::Read(file)->audioSeconds(), 1.0);

    WriteBytes(file, "RIFF\0\0\0\0WAVE");
    EXPECT_FALSE(WavInfo::Read(file).has_value());
    WriteBytes(file, QByteArray(60, '\0'));
    EXPECT_FALSE(WavInfo::Read(file).has_value());
}

}  // namespace
