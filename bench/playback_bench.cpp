// Opening a one-hour 44 100 Hz 16-bit stereo recording until it plays, and until its waveform
// overview is complete, beside reading the same file with `cat > /dev/null`; resident memory
// while it plays; CPU while it plays at "Fast X 10" and at "Velocità" 0.5 (pitch kept).
// Goals: open and waveform each within 1.5 times the read, memory within file size + 40 MB,
// CPU under 5 % of a core at Fast X 10 and under 10 % at 0.5. Uses the default output when
// PULSE_SERVER is set, else a test output driven in real time.
#include "controls/MediaCommands.h"
#include "controls/PortAudioLibrary.h"
#include "controls/playback/PortAudioPlaybackDevice.h"
#include "controls/playback/SoundBuffer.h"
#include "controls/playback/WavePeaks.h"
#include "player/PlaybackRules.h"
#include "support/TestPlaybackDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtEndian>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace kallomir;

namespace {

void WriteHourLongRecording(const QString& path) {
    const int rate = 44100, channels = 2, seconds = 3600;
    const qint64 dataBytes = static_cast<qint64>(rate) * channels * 2 * seconds;
    QFile f(path);
    if (f.exists() && f.size() == dataBytes + 44 + 48)
        return;
    f.open(QIODevice::WriteOnly);
    auto le32 = [](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        return QByteArray(b, 4);
    };
    auto le16 = [](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        return QByteArray(b, 2);
    };
    f.write("RIFF" + le32(static_cast<quint32>(36 + dataBytes)) + "WAVEfmt " + le32(16) + le16(1) +
            le16(channels) + le32(rate) + le32(rate * channels * 2) + le16(channels * 2) +
            le16(16) + "data" + le32(static_cast<quint32>(dataBytes)));
    QByteArray second(rate * channels * 2, 0);
    auto* s = reinterpret_cast<qint16*>(second.data());
    for (int i = 0; i < rate; ++i) {
        const auto v = static_cast<qint16>(8000 * std::sin(2 * M_PI * 440 * i / rate));
        s[2 * i] = v;
        s[2 * i + 1] = v;
    }
    for (int i = 0; i < seconds; ++i) f.write(second);
    f.write("CASO1   01/01/2024 10:00:0001/01/2024 11:00:00\r\n");
}

long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/kallomir-hour.Ems");
    WriteHourLongRecording(path);
    const qint64 size = QFileInfo(path).size();

    QElapsedTimer timer;
    auto catOnce = [&] {
        timer.restart();
        QProcess::execute(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("cat '%1' > /dev/null").arg(path)});
        return timer.elapsed();
    };

    const bool real = qEnvironmentVariableIsSet("PULSE_SERVER");
    std::unique_ptr<PlaybackDevice> device;
    PortAudioLibrary portAudio;
    if (real) {
        device = std::make_unique<PortAudioPlaybackDevice>(portAudio);
    } else {
        device = std::make_unique<TestPlaybackDevice>(0, 0.05, 512);
    }
    // The waveform beside cat, in turns, three times each (the median counts): on a shared
    // machine one run of either says little.
    std::vector<qint64> cats, waves;
    for (int i = 0; i < 3; ++i) {
        cats.push_back(catOnce());
        timer.restart();
        auto image = WaveImage::Open(path, nullptr);
        WavePeaks overview(*image);
        overview.waitUntilComplete();
        waves.push_back(timer.elapsed());
    }
    std::sort(cats.begin(), cats.end());
    std::sort(waves.begin(), waves.end());
    const qint64 catMs = cats[1];
    const qint64 waveformMs = waves[1];

    const long rssBefore = ResidentKb();
    timer.restart();
    MediaCommands media;
    media.send(QStringLiteral("open ") + path + QStringLiteral(" type waveaudio alias capture"));
    auto buffer = SoundBuffer::FromFile(path, *device);
    WavePeaks peaks(buffer->image());  // as the player starts it, right after the buffer
    buffer->Play();
    // Playable: the stream runs and the start of the audio is in memory (FromFile waits
    // for that).
    const qint64 openMs = timer.elapsed();
    buffer->image().waitUntilComplete();
    const qint64 loadedMs = timer.elapsed();

    auto play = [&](double seconds) {
        if (real) {
            QThread::msleep(static_cast<unsigned long>(seconds * 1000));
        } else {
            auto* test = static_cast<TestPlaybackDevice*>(device.get());
            QElapsedTimer wall;
            wall.start();
            for (double t = 0; t < seconds; t += 0.01) {
                test->advance(0.01);
                test->clearPlayed();
                while (wall.elapsed() < static_cast<qint64>((t + 0.01) * 1000)) QThread::msleep(1);
            }
        }
    };
    play(2.0);
    const long rssPlaying = ResidentKb();

    buffer->SetFrequency(FastPressedFrequency(44100, FastFactorTable(4410)->x10));
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    play(5.0);
    const double cpuShare = (CpuSeconds() - cpu0) / (static_cast<double>(wall.elapsed()) / 1000.0);

    buffer->SetFrequency(44100);
    buffer->SetTempo(0.5);
    const double cpu1 = CpuSeconds();
    wall.restart();
    play(5.0);
    const double slowShare = (CpuSeconds() - cpu1) / (static_cast<double>(wall.elapsed()) / 1000.0);
    buffer->Stop();

    std::printf("file %.1f MB (%s output)\n", static_cast<double>(size) / 1e6,
                real ? "real" : "test");
    std::printf("cat > /dev/null: %lld ms; open to playable: %lld ms (%.2f times; goal <= 1.5)\n",
                static_cast<long long>(catMs), static_cast<long long>(openMs),
                catMs > 0 ? static_cast<double>(openMs) / static_cast<double>(catMs) : 0.0);
    std::printf("cat runs %lld/%lld/%lld ms, waveform %lld/%lld/%lld ms\n",
                static_cast<long long>(cats[0]), static_cast<long long>(cats[1]),
                static_cast<long long>(cats[2]), static_cast<long long>(waves[0]),
                static_cast<long long>(waves[1]), static_cast<long long>(waves[2]));
    std::printf(
        "open to waveform overview complete (median): %lld ms (%.2f times cat; goal <= "
        "1.5)\n",
        static_cast<long long>(waveformMs),
        catMs > 0 ? static_cast<double>(waveformMs) / static_cast<double>(catMs) : 0.0);
    std::printf("whole recording in memory after %lld ms (loaded while it plays)\n",
                static_cast<long long>(loadedMs));
    std::printf(
        "resident while playing: %.1f MB, above start %.1f MB (goal <= file + 40 MB = %.1f MB)\n",
        static_cast<double>(rssPlaying) / 1024.0,
        static_cast<double>(rssPlaying - rssBefore) / 1024.0,
        static_cast<double>(size) / 1048576.0 + 40);
    std::printf("CPU at Fast X 10 (99666 Hz): %.2f %% of a core (goal < 5 %%)\n", cpuShare * 100);
    std::printf("CPU at Velocità 0.5, pitch kept: %.2f %% of a core (goal < 10 %%)\n",
                slowShare * 100);
    return 0;
}
