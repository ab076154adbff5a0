// Captures a looping speech input in real time into the file named by argv[1] and prints
// "CAPTURED <ms>" once that much audio is processed, then goes on capturing until killed.
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "support/TestAudioSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    using namespace kallomir;
    MonoSamples speech = ReadMonoSamples(QString::fromLocal8Bit(argv[2]), 44100);
    MonoSamples looped{44100, {}};
    for (int i = 0; i < 20; ++i) {
        looped.samples.insert(looped.samples.end(), speech.samples.begin(), speech.samples.end());
    }
    TestAudioSystem cards;
    cards.addInput({QStringLiteral("Speech"), looped, 0xFF});
    WaveControl wave(cards, nullptr);
    wave.setRecordFormat(128);
    wave.setFileName(QString::fromLocal8Bit(argv[1]));
    wave.startCapture(0);

    const qint64 announceMs = QByteArray(argv[3]).toLongLong();
    QElapsedTimer wall;
    wall.start();
    qint64 played = 0;
    bool announced = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 due = wall.elapsed();
        cards.advance(static_cast<int>(due - played));
        played = due;
        if (!announced && played >= announceMs) {
            wave.waitIdle();
            std::printf("CAPTURED %lld\n", static_cast<long long>(played));
            std::fflush(stdout);
            announced = true;
        }
    });
    tick.start(20);
    return QCoreApplication::exec();
}
