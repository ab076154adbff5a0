// Key to sound in the player: the play key pressed in the transcription editor until the first
// loud sample reaches the PulseAudio null sink, and the same key again (pause) until the sink
// falls silent. The sink's monitor is read back by this process in 2.9 ms blocks, so the
// figures include that read (they are upper bounds). Goal: median under 50 ms for both.
// Run with the test services:
//   scripts/with-test-services.sh build/bench/kallomir_key_latency_bench
#include "catalogue/RecordingTrailer.h"
#include "catalogue/SqliteCatalogue.h"
#include "controls/PortAudioLibrary.h"
#include "controls/playback/PortAudioPlaybackDevice.h"
#include "player/TranscriptionKeys.h"
#include "player/ui/FrmPlayer.h"
#include "player/ui/PlayerDialogs.h"
#include "player/ui/TranscriptionEditor.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QTextEdit>
#include <QThread>
#include <QtEndian>

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace kallomir;
using Steady = std::chrono::steady_clock;

namespace {

class NoDialogs : public PlayerDialogs {
public:
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QFont> font(QWidget*, const QFont&) override { return std::nullopt; }
    std::optional<QColor> color(QWidget*, const QColor&) override { return std::nullopt; }
    bool print(QWidget*, QTextDocument&) override { return false; }
    bool transcriptionTools(QWidget*, MessageBoxService&, TranscriptionSettings&,
                            const std::vector<PedalInfo>&, const QString&) override {
        return false;
    }
};

// A minute of a 440 Hz tone at telephone quality, with its trailer.
QByteArray Recording() {
    const int rate = 8000, frames = rate * 60;
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
    QByteArray wav = "RIFF" + le32(36 + frames * 2) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                     le32(rate) + le32(rate * 2) + le16(2) + le16(16) + "data" + le32(frames * 2);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<qint16>(16000 * std::sin(2 * M_PI * 440 * i / rate));
        wav += le16(static_cast<quint16>(v));
    }
    const QDateTime start(QDate(2024, 3, 1), QTime(9, 0, 0));
    return wav +
           RecordingTrailer::Make(QStringLiteral("BENCH"), start, start.addSecs(60)).toBytes();
}

// What the sink's monitor carries: the last moment it turned loud and turned silent.
struct Monitor {
    std::atomic<std::int64_t> loudSince{0};  // ns on the steady clock; 0: silent
    std::atomic<std::int64_t> silentSince{0};
    int quietRun = 0;
    static constexpr int kQuietFrames = 441;  // 10 ms of nothing counts as silence

    static int Callback(const void* input, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        auto* m = static_cast<Monitor*>(self);
        const auto* in = static_cast<const float*>(input);
        const std::int64_t now = Steady::now().time_since_epoch().count();
        for (unsigned long i = 0; i < frames; ++i) {
            // The moment of this frame: the block ends now.
            const std::int64_t at = now - static_cast<std::int64_t>((frames - i) * 1e9 / 44100);
            if (std::abs(in[i]) > 0.05f) {
                m->quietRun = 0;
                if (m->loudSince.load() == 0) {
                    m->loudSince.store(at);
                    m->silentSince.store(0);
                }
            } else if (++m->quietRun == kQuietFrames && m->loudSince.load() != 0) {
                m->silentSince.store(at - static_cast<std::int64_t>(kQuietFrames * 1e9 / 44100));
                m->loudSince.store(0);
            }
        }
        return paContinue;
    }
};

double Median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void PressPlayKey(QWidget* editor) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
    QApplication::sendEvent(editor, &down);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier);
    QApplication::sendEvent(editor, &up);
}

template <typename Condition>
bool WaitFor(Condition done, int ms) {
    const auto limit = Steady::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Steady::now() > limit)
            return false;
        QThread::usleep(200);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("PULSE_SERVER")) {
        std::printf("needs the PulseAudio null sink: run under scripts/with-test-services.sh\n");
        return 1;
    }
    test::TempHome home;
    home.initConfiguration();
    SqliteCatalogue::InFolder(home.home())->create();
    const QString folder = QDir::cleanPath(home.config.recordingsFolder());
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(QStringLiteral("20240301_090000.Ems")));
    file.open(QIODevice::WriteOnly);
    file.write(Recording());
    file.close();

    PortAudioLibrary portAudio;
    NoDialogs dialogs;
    home.context->dialogs = &dialogs;
    home.context->playbackDevices = [&portAudio] {
        return std::unique_ptr<PlaybackDevice>(
            std::make_unique<PortAudioPlaybackDevice>(portAudio));
    };
    FrmPlayer player(*home.context);
    player.Form_Load();
    player.refreshFileList();
    player.FOpener->setCurrentRow(0);
    QTextEdit* editor = player.Frame2->rtfTesto();

    Monitor monitor;
    PaStreamParameters in{};
    in.device = Pa_GetDefaultInputDevice();
    if (in.device == paNoDevice) {
        std::printf("no input device to read the sink's monitor\n");
        return 1;
    }
    in.channelCount = 1;
    in.sampleFormat = paFloat32;
    in.suggestedLatency = Pa_GetDeviceInfo(in.device)->defaultLowInputLatency;
    PaStream* capture = nullptr;
    if (Pa_OpenStream(&capture, &in, nullptr, 44100, 128, paNoFlag, &Monitor::Callback, &monitor) !=
            paNoError ||
        Pa_StartStream(capture) != paNoError) {
        std::printf("cannot read the sink's monitor\n");
        return 1;
    }
    QThread::msleep(2000);  // the null sink hands out small blocks once a reader is attached

    std::vector<double> toSound, toSilence;
    for (int round = 0; round < 25; ++round) {
        const std::int64_t pressed = Steady::now().time_since_epoch().count();
        PressPlayKey(editor);
        if (WaitFor([&] { return monitor.loudSince.load() != 0; }, 1000))
            toSound.push_back(static_cast<double>(monitor.loudSince.load() - pressed) / 1e6);
        app.processEvents();
        QThread::msleep(300);
        const std::int64_t paused = Steady::now().time_since_epoch().count();
        PressPlayKey(editor);
        if (WaitFor([&] { return monitor.silentSince.load() != 0; }, 1000))
            toSilence.push_back(static_cast<double>(monitor.silentSince.load() - paused) / 1e6);
        app.processEvents();
        QThread::msleep(200);
    }
    Pa_StopStream(capture);
    Pa_CloseStream(capture);

    std::printf(
        "play key to first sound: median %.1f ms, max %.1f ms (%zu of 25 heard; goal < 50)\n",
        Median(toSound), toSound.empty() ? -1 : *std::max_element(toSound.begin(), toSound.end()),
        toSound.size());
    std::printf("pause key to silence: median %.1f ms, max %.1f ms (%zu of 25; goal < 50)\n",
                Median(toSilence),
                toSilence.empty() ? -1 : *std::max_element(toSilence.begin(), toSilence.end()),
                toSilence.size());
    return 0;
}
