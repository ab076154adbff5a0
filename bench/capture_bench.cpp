// CPU cost of the capture pipeline (recording level, levels every 100 ms, silence detection,
// WAV writing with the header kept current) at 44100 Hz 16-bit, per hour of audio, beside SoX
// doing a comparable job on the same file (read, detect silence, write).
//
// Usage: kallomir_capture_bench [speech.wav] [minutes of audio, default 10]
#include "controls/CapturePipeline.h"
#include "controls/CaptureSession.h"
#include "controls/RecordFormat.h"
#include "controls/WavSamples.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <sndfile.h>
#include <sys/resource.h>

#include <cstdio>

namespace {

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using namespace kallomir;
    const QString speechPath =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KALLOMIR_BENCH_SPEECH);
    const int minutes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    // Speech and pauses alternating, as on a call.
    const MonoSamples speech = ReadMonoSamples(speechPath, 44100);
    std::vector<std::int16_t> audio;
    const std::size_t total = static_cast<std::size_t>(minutes) * 60 * 44100;
    while (audio.size() < total) {
        audio.insert(audio.end(), speech.samples.begin(), speech.samples.end());
        audio.resize(audio.size() + 3 * 44100, 0);
    }
    audio.resize(total);
    const double audioHours = static_cast<double>(total) / 44100.0 / 3600.0;

    QTemporaryDir dir;
    const QString input = dir.path() + "/in.wav";
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(input.toLocal8Bit().constData(), SFM_WRITE, &info);
        sf_write_short(file, audio.data(), static_cast<sf_count_t>(audio.size()));
        sf_close(file);
    }

    CaptureSettings settings;
    settings.voxThreshold = 10;
    settings.voxHoldMs = 2000;
    int silences = 0;
    CaptureEvents events;
    events.level = [](qint16) {};
    events.silence = [&](bool silent) { silences += silent ? 1 : 0; };
    constexpr std::size_t kCallback = 882;  // 20 ms, a typical audio callback

    // 1. The pipeline itself, header rewritten once per second of audio.
    double start = CpuSeconds(RUSAGE_SELF);
    {
        CapturePipeline pipeline(44100, settings, events);
        pipeline.openFile(dir.path() + "/pipeline.wav", 16);
        for (std::size_t at = 0, n = 0; at < audio.size(); at += kCallback, ++n) {
            const std::size_t count = std::min(kCallback, audio.size() - at);
            pipeline.process(std::span<const std::int16_t>(audio.data() + at, count));
            if (n % 50 == 49)
                pipeline.updateHeader();
        }
    }
    const double pipelineCpu = CpuSeconds(RUSAGE_SELF) - start;

    // 2. The same through the capture session: ring buffer and worker thread.
    start = CpuSeconds(RUSAGE_SELF);
    {
        CaptureSession session(*RecordFormatOf(128), dir.path() + "/session.wav", settings, events,
                               [](const QString&) {});
        for (std::size_t at = 0; at < audio.size(); at += kCallback) {
            const std::size_t count = std::min(kCallback, audio.size() - at);
            session.push(std::span<const std::int16_t>(audio.data() + at, count));
            if ((at / kCallback) % 64 == 63)
                session.waitIdle();  // stay within the ring
        }
        session.waitIdle();
    }
    const double sessionCpu = CpuSeconds(RUSAGE_SELF) - start;

    // 3. SoX: read, strip silence (threshold about level 10 = -54 dBFS, 2 s), write.
    const double soxStart = CpuSeconds(RUSAGE_CHILDREN);
    QProcess sox;
    sox.start(QStringLiteral("sox"), {input, dir.path() + "/sox.wav", "silence", "-l", "1", "0.1",
                                      "0.2%", "-1", "2.0", "0.2%"});
    const bool soxRan = sox.waitForFinished(-1) && sox.exitCode() == 0;
    const double soxCpu = CpuSeconds(RUSAGE_CHILDREN) - soxStart;

    std::printf("audio: %d min at 44100 Hz 16-bit mono (%d silence events)\n", minutes, silences);
    std::printf("capture pipeline : %.3f CPU s per audio-hour\n", pipelineCpu / audioHours);
    std::printf("capture session  : %.3f CPU s per audio-hour (ring + worker thread)\n",
                sessionCpu / audioHours);
    if (soxRan) {
        std::printf("sox silence      : %.3f CPU s per audio-hour\n", soxCpu / audioHours);
    } else {
        std::printf("sox silence      : not run (%s)\n", qPrintable(sox.errorString()));
    }
    return 0;
}
