#include "controls/playback/GatedAudio.h"
#include "controls/playback/ToneWave.h"
#include "controls/playback/WavePeaks.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace kallomir;
using kallomir::test::GatedAudio;

namespace {

// 16-bit audio whose every second has its own loudness (per channel).
QByteArray Steps16(int rate, const std::vector<std::vector<double>>& levels) {
    QByteArray data;
    for (const auto& second : levels) {
        for (int i = 0; i < rate; ++i) {
            const double wave = std::sin(2 * M_PI * 200 * i / rate);
            for (double level : second) {
                const auto v = static_cast<qint16>(std::lround(level * wave * 32767));
                data.append(reinterpret_cast<const char*>(&v), 2);
            }
        }
    }
    return data;
}

struct Columns {
    std::vector<float> low, high;
    int ready = 0;
};

Columns Read(const WavePeaks& peaks, int count) {
    Columns c;
    c.low.assign(static_cast<size_t>(count), 9.0f);
    c.high.assign(static_cast<size_t>(count), 9.0f);
    c.ready = peaks.columns(count, c.low.data(), c.high.data());
    return c;
}

}  // namespace

TEST(WavePeaks, ColumnsHoldTheLoudnessOfTheirStretch) {
    struct Case {
        int channels;
        std::vector<std::vector<double>> levels;
        std::vector<double> expected;  // per second: the largest level of any channel
    };
    const Case cases[] = {
        {1, {{0.0}, {0.5}, {0.25}, {1.0}}, {0.0, 0.5, 0.25, 1.0}},
        // Stereo: the loud side counts, whichever it is.
        {2, {{0.0, 0.8}, {0.3, 0.0}, {0.1, 0.1}}, {0.8, 0.3, 0.1}},
    };
    for (const Case& t : cases) {
        const QByteArray audio = Steps16(8000, t.levels);
        GatedAudio disk(audio, audio.size());
        const WaveFormat format{1, 8000, 16, t.channels, 2 * t.channels, 16000 * t.channels};
        auto image = WaveImage::Load(format, audio.size(), disk.reader());
        WavePeaks peaks(*image);
        peaks.waitUntilComplete();
        EXPECT_EQ(peaks.binCount(), 100 * static_cast<std::int64_t>(t.levels.size()));
        const int seconds = static_cast<int>(t.levels.size());
        const Columns c = Read(peaks, seconds);
        ASSERT_EQ(c.ready, seconds);
        for (int s = 0; s < seconds; ++s) {
            SCOPED_TRACE(s);
            EXPECT_NEAR(c.high[static_cast<size_t>(s)], t.expected[static_cast<size_t>(s)], 0.01);
            EXPECT_NEAR(c.low[static_cast<size_t>(s)], -t.expected[static_cast<size_t>(s)], 0.01);
        }
        // More columns than bins: each column shows its bin.
        const Columns wide = Read(peaks, 1000 * seconds);
        EXPECT_EQ(wide.ready, 1000 * seconds);
        EXPECT_NEAR(wide.high.back(), t.expected.back(), 0.02);
    }
}

TEST(WavePeaks, OtherSampleFormatsAndAShortLastBin) {
    // 8-bit unsigned, 11 025 Hz, 1.005 s: the last bin holds 55 frames.
    const QByteArray wave = kallomir::test::ToneWave(11025, 8, 1, 1.005, 300, {}, 0.6);
    const QByteArray audio = wave.mid(44);
    GatedAudio disk(audio, audio.size());
    auto image = WaveImage::Load(WaveFormat{1, 11025, 8, 1, 1, 11025}, audio.size(), disk.reader());
    WavePeaks peaks(*image);
    peaks.waitUntilComplete();
    EXPECT_EQ(peaks.framesPerBin(), 110);
    EXPECT_EQ(peaks.binCount(), 101);
    const Columns c = Read(peaks, 1);
    EXPECT_NEAR(c.high[0], 0.6, 0.02);
    EXPECT_NEAR(c.low[0], -0.6, 0.02);
}

TEST(WavePeaks, GrowWhileTheFileLoadsAndTreatUnreadableAudioAsSilence) {
    const QByteArray audio = Steps16(8000, {{0.5}, {0.5}, {0.5}, {0.5}});
    GatedAudio disk(audio, 16000);  // the first second
    const WaveFormat format{1, 8000, 16, 1, 2, 16000};
    auto image = WaveImage::Load(format, audio.size(), disk.reader());
    {
        WavePeaks peaks(*image);
        while (peaks.readyBins() < 100) std::this_thread::yield();
        Columns c = Read(peaks, 4);
        EXPECT_EQ(peaks.readyBins(), 100);  // nothing beyond what has arrived
        EXPECT_EQ(c.ready, 1);
        EXPECT_NEAR(c.high[0], 0.5, 0.01);
        EXPECT_EQ(c.high[1], 9.0f);  // columns not ready are left alone
        disk.allow(audio.size());
        peaks.waitUntilComplete();
        c = Read(peaks, 4);
        EXPECT_EQ(c.ready, 4);
        EXPECT_NEAR(c.high[3], 0.5, 0.01);
    }

    // A read error half-way: the rest is silence, and the overview still completes.
    auto broken = WaveImage::Load(
        format, audio.size(), [&](char* into, std::int64_t offset, std::int64_t max) {
            if (offset >= 32000)
                return std::int64_t{-1};
            const auto n = std::min<std::int64_t>(max, 32000 - offset);
            std::memcpy(into, audio.constData() + offset, static_cast<size_t>(n));
            return n;
        });
    WavePeaks peaks(*broken);
    peaks.waitUntilComplete();
    const Columns c = Read(peaks, 4);
    EXPECT_NEAR(c.high[1], 0.5, 0.01);
    EXPECT_EQ(c.high[2], 0.0f);
    EXPECT_EQ(c.low[3], 0.0f);
}

TEST(WavePeaks, TheLoaderWaitsForTheOverviewUnlessPlaybackAsks) {
    // More than the start and one piece, behind a gate that lets nothing through yet.
    const std::int64_t size = WaveImage::kFirstPiece * 40;
    const QByteArray audio(static_cast<qsizetype>(size), '\0');
    GatedAudio disk(audio, 0);
    auto image = WaveImage::Load(WaveFormat{1, 8000, 16, 1, 2, 16000}, size, disk.reader());
    image->hold();  // as an overview being worked out does
    disk.allow(size);
    image->waitUntilLoaded(WaveImage::kFirstPiece);
    for (int i = 0; i < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(image->loadedBytes(), WaveImage::kFirstPiece);  // held at the start
    image->want(WaveImage::kFirstPiece + 1);                  // playback needs more
    image->waitUntilLoaded(WaveImage::kFirstPiece + 1);
    EXPECT_LT(image->loadedBytes(), size);  // one piece more, not everything
    image->release();
    image->waitUntilComplete();
    EXPECT_TRUE(image->complete());

    // An overview holds the loader only while it works.
    auto second = WaveImage::Load(WaveFormat{1, 8000, 16, 1, 2, 16000}, size, disk.reader());
    {
        WavePeaks peaks(*second);
        peaks.waitUntilComplete();
    }
    second->waitUntilComplete();
    EXPECT_TRUE(second->complete());
}
