#include "SoundFixture.h"
#include "controls/PortAudioLibrary.h"
#include "controls/PortAudioSystem.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kallomir {
namespace {

// The stretch from the first to the last sample above a small amplitude.
std::pair<std::size_t, std::size_t> Active(const std::vector<std::int16_t>& samples) {
    constexpr int kAbove = 300;  // about -40 dBFS
    std::size_t first = 0;
    while (first < samples.size() && std::abs(samples[first]) < kAbove) ++first;
    std::size_t last = samples.size();
    while (last > first && std::abs(samples[last - 1]) < kAbove) --last;
    return {first, last};
}

void WaitLevels(QSignalSpy& spy, int count) {
    const qsizetype target = spy.count() + count;
    while (spy.count() < target) ASSERT_TRUE(spy.wait(10000)) << "no audio arrives";
}

// Needs the PulseAudio null sink the test command starts (KALLOMIR_PULSE=1).
TEST(PulseCaptureTest, SpeechPlayedIntoTheSinkIsCapturedFaithfully) {
    if (qEnvironmentVariable("KALLOMIR_PULSE") != u"1") {
        GTEST_SKIP() << "set KALLOMIR_PULSE=1 with a PulseAudio null sink to run";
    }
    PortAudioLibrary library;
    PortAudioSystem audio(library);
    ASSERT_TRUE(audio.available());
    const QStringList inputs = audio.inputDeviceNames();
    qsizetype device = inputs.indexOf(QStringLiteral("pulse"));
    if (device < 0)
        device = inputs.indexOf(QStringLiteral("default"));
    ASSERT_GE(device, 0) << inputs.join(", ").toStdString();

    QTemporaryDir dir;
    const QString path = dir.path() + "/Record.wav";
    WaveControl wave(audio, nullptr);
    QSignalSpy levels(&wave, &WaveControl::Level);
    wave.setRecordFormat(128);
    wave.setFileName(path);
    wave.startCapture(static_cast<qint32>(device));
    WaitLevels(levels, 20);  // the monitor is flowing

    QProcess player;
    player.start(QStringLiteral("paplay"),
                 {QStringLiteral("-d"), QStringLiteral("ci_sink"), test::DataFile("speech.wav")});
    ASSERT_TRUE(player.waitForFinished(60000));
    ASSERT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();
    WaitLevels(levels, 10);
    wave.stopCapture();
    wave.closeCapture();

    const auto captured = test::ReadWav(path);
    ASSERT_TRUE(captured.ok);
    const MonoSamples source = ReadMonoSamples(test::DataFile("speech.wav"), 44100);
    const auto [cFirst, cLast] = Active(captured.samples);
    const auto [sFirst, sLast] = Active(source.samples);
    ASSERT_GT(cLast, cFirst) << "nothing was captured";
    const double capturedSeconds = static_cast<double>(cLast - cFirst) / 44100.0;
    const double sourceSeconds = static_cast<double>(sLast - sFirst) / 44100.0;
    RecordProperty("captured_seconds", QString::number(capturedSeconds).toStdString());
    RecordProperty("source_seconds", QString::number(sourceSeconds).toStdString());
    EXPECT_NEAR(capturedSeconds, sourceSeconds, sourceSeconds * 0.05);

    const std::vector<std::int16_t> c(captured.samples.begin() + cFirst,
                                      captured.samples.begin() + cLast);
    const std::vector<std::int16_t> s(source.samples.begin() + sFirst,
                                      source.samples.begin() + sLast);
    RecordProperty("captured_rms", QString::number(test::Rms(c)).toStdString());
    RecordProperty("source_rms", QString::number(test::Rms(s)).toStdString());
    EXPECT_NEAR(test::Rms(c), test::Rms(s), test::Rms(s) * 0.05);
}

}  // namespace
}  // namespace kallomir
