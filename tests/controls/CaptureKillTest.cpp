#include "SoundFixture.h"
#include "controls/MediaCommands.h"
#include "controls/WavSamples.h"
#include "controls/WaveHeader.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace kallomir {
namespace {

// The capture file of a process killed mid-recording is a WAV holding the audio up to the
// last second before the kill.
TEST(CaptureKillTest, KilledCaptureStillOpensWithItsAudio) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Record.wav";
    QProcess child;
    child.start(QStringLiteral(KALLOMIR_CAPTURE_CHILD),
                {path, test::DataFile("speech.wav"), QStringLiteral("3000")});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray out;
    while (!out.contains('\n')) {
        ASSERT_TRUE(child.waitForReadyRead(30000)) << "the capture never got going";
        out += child.readAllStandardOutput();
    }
    const qint64 capturedMs = out.trimmed().split(' ').value(1).toLongLong();
    ASSERT_GE(capturedMs, 3000);
    child.kill();  // SIGKILL: no chance to complete the file
    child.waitForFinished();

    // Players trust the header's sizes, so they must cover the audio, not just the file.
    const std::optional<WaveHeader> header = ReadWaveHeader(path);
    ASSERT_TRUE(header.has_value());
    EXPECT_GE(header->dataBytes, (capturedMs - 1000) * 44100 / 1000 * 2);
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray riff = raw.read(8);
    const quint32 riffSize = qFromLittleEndian<quint32>(riff.constData() + 4);
    EXPECT_EQ(riffSize, header->dataOffset + header->dataBytes - 8);

    const auto wav = test::ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.info.samplerate, 44100);
    EXPECT_GE(wav.info.frames, (capturedMs - 1000) * 44100 / 1000);

    // Byte for byte the audio that was played in.
    const MonoSamples speech = ReadMonoSamples(test::DataFile("speech.wav"), 44100);
    const std::size_t compare = std::min<std::size_t>(wav.samples.size(), speech.samples.size());
    ASSERT_GT(compare, 44100u);
    EXPECT_TRUE(
        std::equal(speech.samples.begin(), speech.samples.begin() + compare, wav.samples.begin()));

    MediaCommands media;
    EXPECT_EQ(media.send("open " + path + " type waveaudio alias capture"), 0);
}

}  // namespace
}  // namespace kallomir
