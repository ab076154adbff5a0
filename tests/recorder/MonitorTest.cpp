#include "recorder/FolderSizeCache.h"
#include "recorder/RecorderMonitor.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace kallomir;

namespace {

// Hours run on past a day: 79 GB of disk left must never read as a few minutes.
TEST(MonitorArithmetic, ShortDurationKeepsHoursBeyondADayAndNeverOverflows) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "00:00:00"},     {3661, "01:01:01"},   {86399, "23:59:59"},
        {86400, "24:00:00"}, {285125, "79:12:05"}, {32768LL * 60 + 5, "546:08:05"},
        {-5, "00:00:00"},    {59, "00:00:59"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(FormatShortDuration(seconds), text) << seconds;
}

TEST(MonitorArithmetic, SilenceReloadRoundsHalvesToEven) {
    EXPECT_EQ(SilenceReload(2000), 7);
    EXPECT_EQ(SilenceReload(5000), 10);
    EXPECT_EQ(SilenceReload(1500), 6);  // 6.5 -> 6
    EXPECT_EQ(SilenceReload(2500), 8);  // 7.5 -> 8
    EXPECT_EQ(SilenceReload(0), 5);
}

TEST(MonitorArithmetic, DiskTimeAndFolderLimitUseWideNumbers) {
    EXPECT_EQ(DiskTimeSeconds(16500LL * 3661), 3661);
    EXPECT_EQ(DiskTimeSeconds(-1), 0);
    EXPECT_EQ(DiskTimeSeconds(16500LL * 10'000'000), 10'000'000);  // 100+ days of disk

    EXPECT_FALSE(FolderLimitReached(100'000'000, 499'999'999, 600));
    EXPECT_TRUE(FolderLimitReached(100'000'000, 500'000'000, 600));
    // Limits above 2147 million overflow 32 bits; they must still work.
    EXPECT_FALSE(FolderLimitReached(2'000'000'000, 1'000'000'000, 5000));
    EXPECT_TRUE(FolderLimitReached(3'000'000'000, 2'000'000'000, 5000));
}

class FolderSizeCacheTest : public ::testing::Test {
protected:
    void add(const QString& name, int bytes) {
        test::WriteBytes(dir.filePath(name), QByteArray(bytes, 'a'));
    }
    // Pretends the folder's last change lies well in the past, so the kept sum is trusted.
    void settle() {
        std::filesystem::last_write_time(
            dir.path().toStdString(),
            std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    }
    QTemporaryDir dir;
    FolderSizeCache cache;
};

TEST_F(FolderSizeCacheTest, CountsRecordingsOfAnyCaseOnly) {
    add("a.Ems", 100);
    add("b.EMS", 20);
    add("c.ems", 3);
    add("d.wav", 1000);
    add("e.Ems.tmp", 1000);
    QDir(dir.path()).mkdir("f.ems");
    EXPECT_EQ(FolderSizeCache::Rescan(dir.path()), 123);
    EXPECT_EQ(cache.sum(dir.path()), 123);
    EXPECT_EQ(cache.sum(dir.filePath("gone")), 0);
}

TEST_F(FolderSizeCacheTest, KeptSumStaysExactWhenAnotherProgramChangesTheFolder) {
    add("a.Ems", 100);
    settle();
    EXPECT_EQ(cache.sum(dir.path()), 100);
    EXPECT_EQ(cache.sum(dir.path()), 100);
    EXPECT_EQ(cache.sum(dir.path()), 100);
    EXPECT_EQ(cache.listings(), 1);  // unchanged folder: listed once

    add("b.Ems", 50);
    EXPECT_EQ(cache.sum(dir.path()), 150);
    settle();
    QFile::remove(dir.filePath("a.Ems"));
    EXPECT_EQ(cache.sum(dir.path()), 50);
    settle();
    QFile::rename(dir.filePath("b.Ems"), dir.filePath("b.txt"));
    EXPECT_EQ(cache.sum(dir.path()), 0);
}

TEST_F(FolderSizeCacheTest, GrowthInPlaceIsSeenAfterInvalidateOrTheGuardListing) {
    add("a.Ems", 100);
    settle();
    EXPECT_EQ(cache.sum(dir.path()), 100);
    {
        QFile f(dir.filePath("a.Ems"));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(48, 't'));
    }
    settle();
    cache.invalidate();
    EXPECT_EQ(cache.sum(dir.path()), 148);
    add("a.Ems", 10);
    settle();
    int requests = 0;
    while (cache.sum(dir.path()) != 10 && requests < FolderSizeCache::kFullRescanEvery + 1)
        ++requests;
    EXPECT_LE(requests, FolderSizeCache::kFullRescanEvery);
}

}  // namespace
