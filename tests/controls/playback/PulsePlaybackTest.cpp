#include "controls/PortAudioLibrary.h"
#include "controls/playback/PortAudioPlaybackDevice.h"
#include "controls/playback/SoundBuffer.h"
#include "controls/playback/ToneWave.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

using namespace kallomir;

namespace {

// Seconds between the first and the last loud sample of 16-bit mono audio.
double SoundingSeconds(const QByteArray& raw, int rate) {
    const auto* s = reinterpret_cast<const qint16*>(raw.constData());
    const qsizetype n = raw.size() / 2;
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] > 3000 || s[i] < -3000) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return first < 0 ? 0 : static_cast<double>(last - first) / rate;
}

// Plays the file at the given frequency into the default output and returns how long the
// tone lasted in what the null sink's monitor captured.
double CapturedToneSeconds(const QString& wav, int frequency, const QString& rawFile) {
    QProcess recorder;
    recorder.setStandardOutputFile(rawFile);
    recorder.start(
        QStringLiteral("parec"),
        {QStringLiteral("-d"), QStringLiteral("ci_sink.monitor"), QStringLiteral("--raw"),
         QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
         QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    if (!recorder.waitForStarted())
        return -1;
    // The null sink delivers in large blocks until a reader has been attached for a while.
    QThread::msleep(2000);
    {
        PortAudioLibrary library;
        PortAudioPlaybackDevice device(library);
        auto buffer = SoundBuffer::FromFile(wav, device);
        buffer->SetFrequency(frequency);
        buffer->Play();
        for (int i = 0; i < 1000 && buffer->GetStatus() == SoundBuffer::kStatusPlaying; ++i) {
            QThread::msleep(10);
        }
    }
    QThread::msleep(500);
    ::kill(static_cast<pid_t>(recorder.processId()), SIGINT);
    recorder.waitForFinished(5000);
    QFile f(rawFile);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return SoundingSeconds(f.readAll(), 44100);
}

}  // namespace

TEST(PulsePlayback, ToneLastsItsLengthAtNativeAndFourTimesFrequency) {
    if (qEnvironmentVariable("KALLOMIR_PULSE") != QStringLiteral("1")) {
        GTEST_SKIP() << "needs the PulseAudio null sink (KALLOMIR_PULSE=1)";
    }
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    kallomir::test::WriteBytes(wav, kallomir::test::ToneWave(22050, 16, 1, 2.0, 440, {}, 0.6));

    const double native = CapturedToneSeconds(wav, 22050, dir.filePath(QStringLiteral("a.raw")));
    EXPECT_NEAR(native, 2.0, 2.0 * 0.05);
    std::printf("captured: native %.3f s\n", native);
    const double fast = CapturedToneSeconds(wav, 88200, dir.filePath(QStringLiteral("b.raw")));
    EXPECT_NEAR(fast, 0.5, 0.5 * 0.05);
}
