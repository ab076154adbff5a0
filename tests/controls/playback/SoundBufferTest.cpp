#include "controls/playback/GatedAudio.h"
#include "controls/playback/SoundBuffer.h"
#include "controls/playback/ToneWave.h"
#include "support/TestPlaybackDevice.h"

#include "core/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

using namespace kallomir;
using kallomir::test::GatedAudio;
using kallomir::test::ToneWave;
using kallomir::test::WriteBytes;

namespace {

std::unique_ptr<WaveImage> Image(const QByteArray& bytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.wav"));
    WriteBytes(path, bytes);
    QString error;
    auto image = WaveImage::Read(path, &error);
    EXPECT_TRUE(image) << error.toStdString();
    return image;
}

// Zero crossings per second of one channel of the played output: twice the tone's pitch.
double PitchOf(const std::vector<float>& samples, int channels, int rate) {
    int crossings = 0;
    size_t counted = 0;
    size_t end = samples.size();  // the silent tail after the end carries no pitch
    while (end > 0 && std::abs(samples[end - 1]) < 0.01f) --end;
    for (size_t i = static_cast<size_t>(channels); i < end; i += static_cast<size_t>(channels)) {
        const float a = samples[i - static_cast<size_t>(channels)];
        const float b = samples[i];
        if ((a < 0 && b >= 0) || (a >= 0 && b < 0))
            ++crossings;
        ++counted;
    }
    return counted ? crossings / 2.0 / (static_cast<double>(counted) / rate) : 0;
}

// Runs the output clock in small steps until the buffer stops or the limit passes.
double PlayOut(TestPlaybackDevice& device, SoundBuffer& buffer, double limit) {
    const double start = device.now();
    while (buffer.GetStatus() == SoundBuffer::kStatusPlaying && device.now() - start < limit) {
        device.advance(0.01);
    }
    return device.now() - start;
}

WaveFormat Mono16(int rate) {
    return WaveFormat{1, rate, 16, 1, 2, rate * 2};
}

}  // namespace

TEST(WaveImage, ReadsFormatAndKeepsTrailerOut) {
    const QByteArray trailer(48, 'T');
    const auto image = Image(ToneWave(8000, 16, 2, 0.5, 440, trailer));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format().sampleRate, 8000);
    EXPECT_EQ(image->format().bitsPerSample, 16);
    EXPECT_EQ(image->format().channels, 2);
    EXPECT_EQ(image->format().blockAlign, 4);
    EXPECT_EQ(image->format().avgBytesPerSecond, 32000);
    EXPECT_EQ(image->size(), 16000);  // the trailer is no audio
}

TEST(WaveImage, CutShortCaptureAndForeignFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.wav"));
    // A capture whose header still claims the full length: the whole frames present count.
    QByteArray cut = ToneWave(11025, 16, 1, 1.0, 300);
    cut.chop(1001);
    WriteBytes(path, cut);
    QString error;
    auto image = WaveImage::Read(path, &error);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), 22050 - 1002);

    for (const QByteArray& bad :
         {QByteArray(), QByteArray("RIFF"), QByteArray("plain text, no audio at all"),
          QByteArray("RIFF\x04\0\0\0WAVEdata\x10\0\0\0"),               // data before format
          ToneWave(8000, 16, 1, 0.1, 0).replace(20, 2, "\x55\x00")}) {  // MP3 format tag
        WriteBytes(path, bad);
        error.clear();
        EXPECT_FALSE(WaveImage::Open(path, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(WaveImage::Open(dir.filePath(QStringLiteral("missing.wav")), &error));
    TestPlaybackDevice device;
    EXPECT_THROW(SoundBuffer::FromFile(dir.filePath(QStringLiteral("missing.wav")), device),
                 RuntimeError);
}

TEST(SoundBuffer, FileCutShortByAnotherProgramWhilePlayingChangesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.wav"));
    WriteBytes(path, ToneWave(8000, 16, 1, 1.0, 500));
    QString error;
    auto image = WaveImage::Read(path, &error);
    ASSERT_TRUE(image) << error.toStdString();
    ASSERT_TRUE(QFile::resize(path, 44));  // another program truncates the recording
    TestPlaybackDevice device(0, 0.05);
    SoundBuffer buffer(std::move(image), device);
    buffer.Play();
    EXPECT_NEAR(PlayOut(device, buffer, 5), 1.0 + 0.05 + SoundBuffer::kEndTailSeconds, 0.1);
    EXPECT_NEAR(PitchOf(device.played, 1, 8000), 500, 15);
}

TEST(SoundBuffer, PlaysWhileLoadingAndHoldsStillWhereAudioHasNotArrived) {
    const QByteArray audio = ToneWave(8000, 16, 1, 10.0, 500).mid(44);
    GatedAudio disk(audio, 32000);  // the first 2 s
    auto image = WaveImage::Load(Mono16(8000), audio.size(), disk.reader());
    WaveImage* loading = image.get();
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(std::move(image), device);
    EXPECT_EQ(buffer.length(), 160000);  // known before the audio is in
    loading->waitUntilLoaded(32000);
    buffer.Play();
    device.advance(1.0);
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), 16000, 400);
    device.advance(3.0);
    const std::int64_t held = buffer.GetCurrentPosition();
    EXPECT_LE(held, 32000);  // never past what is loaded
    EXPECT_GT(held, 24000);
    device.advance(1.0);
    EXPECT_EQ(buffer.GetCurrentPosition(), held);
    EXPECT_EQ(buffer.GetStatus(), SoundBuffer::kStatusPlaying);

    // A seek ahead of the loader holds at the new place, then plays on once the audio is in.
    buffer.SetCurrentPosition(120000);
    device.advance(0.5);
    EXPECT_EQ(buffer.GetCurrentPosition(), 120000);
    disk.allow(audio.size());
    loading->waitUntilComplete();
    device.advance(0.5);
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), 128000, 400);
    device.clearPlayed();
    EXPECT_NEAR(PlayOut(device, buffer, 5), 2.0 + SoundBuffer::kEndTailSeconds, 0.1);
    EXPECT_NEAR(PitchOf(device.played, 1, 8000), 500, 15);  // no gaps or garbage in the rest
}

TEST(SoundBuffer, AudioThatCannotBeReadPlaysAsSilence) {
    const QByteArray audio = ToneWave(8000, 16, 1, 2.0, 500).mid(44);
    auto image = WaveImage::Load(
        Mono16(8000), audio.size(), [&](char* into, std::int64_t offset, std::int64_t max) {
            if (offset >= 16000)
                return std::int64_t{-1};  // a read error half-way
            const std::int64_t n = std::min<std::int64_t>(max, 16000);
            std::memcpy(into, audio.constData() + offset, static_cast<size_t>(n));
            return n;
        });
    image->waitUntilComplete();
    EXPECT_EQ(image->size(), 32000);
    EXPECT_EQ(std::count(image->bytes() + 16000, image->bytes() + 32000, '\0'), 16000);
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(std::move(image), device);
    buffer.Play();
    EXPECT_NEAR(PlayOut(device, buffer, 5), 2.0 + SoundBuffer::kEndTailSeconds, 0.1);
}

TEST(SoundBuffer, PlaysOnceToTheEndThenStandsAtTheStart) {
    TestPlaybackDevice device(0, 0.05);
    SoundBuffer buffer(Image(ToneWave(8000, 16, 1, 1.0, 500)), device);
    EXPECT_EQ(buffer.length(), 16000);
    EXPECT_EQ(buffer.GetFrequency(), 8000);
    EXPECT_EQ(buffer.GetStatus(), 0);
    buffer.Play();
    EXPECT_EQ(buffer.GetStatus(), SoundBuffer::kStatusPlaying);
    const double lasted = PlayOut(device, buffer, 5);
    EXPECT_NEAR(lasted, 1.0 + 0.05 + SoundBuffer::kEndTailSeconds,
                0.1);  // plus the output delay, the last block, the filter
    EXPECT_EQ(buffer.GetStatus(), 0);
    EXPECT_EQ(buffer.GetCurrentPosition(), 0);
    EXPECT_NEAR(PitchOf(device.played, 1, 8000), 500, 15);
}

TEST(SoundBuffer, FrequencyChangesSpeedAndPitch) {
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(Image(ToneWave(8000, 16, 1, 2.0, 400)), device);
    buffer.SetFrequency(16000);
    buffer.Play();
    EXPECT_NEAR(PlayOut(device, buffer, 5), 1.0 + SoundBuffer::kEndTailSeconds, 0.1);
    EXPECT_NEAR(PitchOf(device.played, 1, 8000), 800, 25);

    // A device that runs at its own rate: the buffer resamples to it.
    TestPlaybackDevice fixed(48000, 0.0);
    SoundBuffer other(Image(ToneWave(11025, 8, 2, 1.0, 300)), fixed);
    other.SetFrequency(5512);
    other.Play();
    EXPECT_NEAR(PlayOut(fixed, other, 5), 2.0 + SoundBuffer::kEndTailSeconds, 0.1);
    EXPECT_NEAR(PitchOf(fixed.played, 2, 48000), 150, 10);

    buffer.SetFrequency(50);
    EXPECT_EQ(buffer.GetFrequency(), SoundBuffer::kMinFrequency);
    buffer.SetFrequency(250000);
    EXPECT_EQ(buffer.GetFrequency(), SoundBuffer::kMaxFrequency);
}

TEST(SoundBuffer, CursorReportsWhatIsHeardNotWhatIsQueued) {
    TestPlaybackDevice device(0, 0.2);
    SoundBuffer buffer(Image(ToneWave(8000, 16, 1, 3.0, 500)), device);
    buffer.Play();
    device.advance(0.1);
    // Rendered 0.1 s ahead but nothing audible yet.
    EXPECT_EQ(buffer.GetCurrentPosition(), 0);
    device.advance(1.1);
    // Heard: 1.2 s on the clock less 0.2 s of output delay.
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), 16000.0, 16000 * 0.02);
    buffer.SetFrequency(16000);
    device.advance(0.5);  // the queued 0.2 s still plays at the old speed
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), 16000 + 0.2 * 16000 + 0.3 * 32000,
                16000 * 0.04);
}

TEST(SoundBuffer, StopKeepsPositionAndSeeksMoveIt) {
    TestPlaybackDevice device(0, 0.05);
    SoundBuffer buffer(Image(ToneWave(8000, 16, 1, 4.0, 500)), device);
    buffer.Play();
    device.advance(1.05);
    buffer.Stop();
    const std::int64_t stopped = buffer.GetCurrentPosition();
    EXPECT_NEAR(static_cast<double>(stopped), 16000, 400);
    EXPECT_EQ(stopped % 2, 0);  // frame-aligned
    device.advance(1.0);
    EXPECT_EQ(buffer.GetCurrentPosition(), stopped);
    EXPECT_EQ(buffer.GetStatus(), 0);
    buffer.Play();  // resumes where it stopped
    device.advance(0.55);
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), stopped + 8000.0, 400);

    buffer.SetCurrentPosition(40001);  // while playing: odd byte snaps to a frame
    EXPECT_EQ(buffer.GetCurrentPosition(), 40000);
    device.advance(0.55);
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition()), 48000, 400);

    buffer.Stop();
    buffer.SetCurrentPosition(10'000'000);
    EXPECT_EQ(buffer.GetCurrentPosition(), buffer.length() - 2);
    buffer.SetCurrentPosition(-5);
    EXPECT_EQ(buffer.GetCurrentPosition(), 0);
    buffer.Play();
    buffer.Play();  // a second play while playing changes nothing
    EXPECT_EQ(buffer.GetStatus(), SoundBuffer::kStatusPlaying);
    EXPECT_NEAR(PlayOut(device, buffer, 10), 4.05 + SoundBuffer::kEndTailSeconds, 0.1);
}

TEST(SoundBuffer, FailingOutputIsReported) {
    TestPlaybackDevice device;
    device.failNextOpen(QStringLiteral("nessuna uscita"));
    try {
        SoundBuffer buffer(Image(ToneWave(8000, 8, 1, 0.1, 0)), device);
        FAIL() << "opening must fail";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.description(), QStringLiteral("nessuna uscita"));
    }
}

namespace {

// The largest step between neighbouring samples of one channel, and the longest run of
// near-silence, in the part of the output where the tone plays.
struct Continuity {
    float largestStep = 0;
    size_t longestQuiet = 0;
};

// Seconds from the first to the last loud sample of the output.
double SoundingSeconds(const std::vector<float>& samples, int channels, int rate) {
    size_t first = samples.size(), last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 0.1f) {
            first = std::min(first, i);
            last = i;
        }
    }
    return first < last ? static_cast<double>(last - first) / channels / rate : 0.0;
}

Continuity ContinuityOf(const std::vector<float>& samples, size_t from, size_t to) {
    Continuity c;
    size_t quiet = 0;
    for (size_t i = from + 1; i < to; ++i) {
        c.largestStep = std::max(c.largestStep, std::abs(samples[i] - samples[i - 1]));
        quiet = std::abs(samples[i]) < 0.05f ? quiet + 1 : 0;
        c.longestQuiet = std::max(c.longestQuiet, quiet);
    }
    return c;
}

}  // namespace

TEST(SoundBuffer, TempoKeepsThePitchAndScalesTheLength) {
    struct Case {
        int rate;
        int channels;
        double tempo;
    };
    for (const Case& t : {Case{8000, 1, 0.5}, Case{8000, 1, 2.0}, Case{44100, 2, 0.5},
                          Case{44100, 2, 2.0}, Case{22050, 1, 0.7}}) {
        SCOPED_TRACE(testing::Message() << t.rate << " Hz x" << t.tempo);
        TestPlaybackDevice device(0, 0.0);
        SoundBuffer buffer(Image(ToneWave(t.rate, 16, t.channels, 3.0, 440)), device);
        buffer.SetTempo(t.tempo);
        EXPECT_EQ(buffer.GetTempo(), t.tempo);
        buffer.Play();
        PlayOut(device, buffer, 10);
        const double lasted = SoundingSeconds(device.played, t.channels, t.rate);
        EXPECT_NEAR(lasted, 3.0 / t.tempo, 3.0 / t.tempo * 0.02);
        EXPECT_NEAR(PitchOf(device.played, t.channels, t.rate), 440, 440 * 0.02);
    }
}

TEST(SoundBuffer, TempoAndFrequencyMultiply) {
    // Frequency 2x (speed and pitch) with tempo 0.5 (speed only): as long as recorded, an
    // octave up.
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(Image(ToneWave(8000, 16, 1, 2.0, 300)), device);
    buffer.SetFrequency(16000);
    buffer.SetTempo(0.5);
    buffer.Play();
    PlayOut(device, buffer, 10);
    EXPECT_NEAR(SoundingSeconds(device.played, 1, 8000), 2.0, 0.04);
    EXPECT_NEAR(PitchOf(device.played, 1, 8000), 600, 12);

    buffer.SetTempo(0.1);
    EXPECT_EQ(buffer.GetTempo(), 0.25);
    buffer.SetTempo(9);
    EXPECT_EQ(buffer.GetTempo(), 4.0);
}

TEST(SoundBuffer, LiveTempoChangesNeitherClickNorBreakNorLoseThePlace) {
    const int rate = 8000;
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(Image(ToneWave(rate, 16, 1, 20.0, 440, {}, 0.5)), device);
    buffer.Play();
    double expected = 0;  // seconds of the recording heard
    for (double tempo : {1.0, 0.5, 0.8, 1.0, 2.0, 1.3, 1.0, 0.6}) {
        buffer.SetTempo(tempo);
        device.advance(0.7);
        expected += 0.7 * tempo;
    }
    const double heard = static_cast<double>(buffer.GetCurrentPosition()) / (2.0 * rate);
    // The tempo stage holds back a tenth of a second, so the place may lag that much.
    EXPECT_NEAR(heard, expected, 0.15);
    // A sine of amplitude 0.5 at 440 Hz moves at most 0.5 * 2 pi * 440 / 8000 = 0.17 from one
    // sample to the next; a click jumps by up to 1. A break shows as a run of silence.
    const Continuity c = ContinuityOf(device.played, 0, device.played.size());
    EXPECT_LT(c.largestStep, 0.2f);
    EXPECT_LT(c.longestQuiet, static_cast<size_t>(rate * 0.005));
    EXPECT_NEAR(PitchOf(device.played, 1, rate), 440, 440 * 0.02);

    // Steady at 0.6x, the place moves 0.6 s per second of listening.
    const std::int64_t before = buffer.GetCurrentPosition();
    device.advance(2.0);
    EXPECT_NEAR(static_cast<double>(buffer.GetCurrentPosition() - before) / (2.0 * rate), 1.2,
                0.05);
}

TEST(SoundBuffer, PlaybackGetsItsAudioWhileTheLoaderIsHeldForTheOverview) {
    // 10 minutes at 16 000 bytes a second: the start piece holds about 16 s, a piece more
    // about 9 minutes.
    const QByteArray audio = ToneWave(8000, 16, 1, 1.0, 500).mid(44).repeated(600);
    GatedAudio disk(audio, 0);
    auto image = WaveImage::Load(Mono16(8000), audio.size(), disk.reader());
    WaveImage* loading = image.get();
    loading->hold();
    disk.allow(audio.size());
    loading->waitUntilLoaded(WaveImage::kFirstPiece);
    TestPlaybackDevice device(0, 0.0);
    SoundBuffer buffer(std::move(image), device);
    buffer.Play();
    // The loader answers on its own thread; on a loaded machine it may take a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (buffer.GetCurrentPosition() < 20 * 16000 &&
           std::chrono::steady_clock::now() < deadline) {
        device.advance(0.1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(buffer.GetCurrentPosition(), 20 * 16000);  // past the start piece
    EXPECT_LT(loading->loadedBytes(), audio.size());     // yet not everything was loaded
    loading->release();
}
