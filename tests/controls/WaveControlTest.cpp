#include "SoundFixture.h"
#include "controls/CapturePipeline.h"
#include "controls/CaptureSession.h"
#include "controls/RecordFormat.h"
#include "controls/SimulatedLine.h"
#include "controls/TelephonyControl.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "support/TestAudioSystem.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <algorithm>
#include <csignal>
#include <mutex>

namespace kallomir {
namespace {

using test::DataFile;
using test::DeliverEvents;
using test::ReadWav;
using test::Rms;
using test::WriteWav;

std::vector<std::int16_t> Tone(double dbfs, int rate, int ms) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(rate) * ms / 1000);
    const double amplitude = 32768.0 * std::pow(10.0, dbfs / 20.0) * std::sqrt(2.0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * 440.0 * i / rate)));
    }
    return samples;
}

// What the wave control reported, in order: "L<level>" and "S1"/"S0".
struct WaveLog : QObject {
    explicit WaveLog(WaveControl& wave) {
        connect(&wave, &WaveControl::Level, this, [this](qint16 a, qint16 b) {
            events << QStringLiteral("L%1").arg(a);
            levels.push_back(a);
            secondLevels += b;
        });
        connect(&wave, &WaveControl::Silence, this,
                [this](bool silent) { events << (silent ? "S1" : "S0"); });
        connect(&wave, &WaveControl::captureFailed, this,
                [this](const QString& text) { failures << text; });
    }
    QStringList events;
    std::vector<int> levels;
    int secondLevels = 0;
    QStringList failures;
};

class WaveControlTest : public ::testing::Test {
protected:
    WaveControlTest() {
        speech = ReadMonoSamples(DataFile("speech.wav"));
        MonoSamples padded = speech;
        padded.samples.resize(speech.samples.size() + 4 * speech.sampleRate, 0);  // 4 s quiet
        padded.samples.insert(padded.samples.end(), speech.samples.begin(), speech.samples.end());
        cards.addInput({QStringLiteral("Speech card"), padded, 0x3F});
        cards.addInput({QStringLiteral("Quiet card"), {}, 0xFF});
        MonoSamples tone{22050, Tone(-40.0, 22050, 5000)};
        cards.addInput({QStringLiteral("Tone card"), tone, 0xFF});
        cards.addOutput({QStringLiteral("Speaker"), 0x0F});
    }
    QString file(const QString& name) const { return dir.path() + u'/' + name; }
    // A call on the simulated line, answered, whose caller holds a -20 dBFS tone.
    void answerToneCall(SimulatedLine& on, TelephonyControl& control) {
        const QString voice = file("caller.wav");
        WriteWav(voice, Tone(-20.0, 8000, 3000), 8000);
        SimulatedIncomingCall call;
        call.audioPath = voice;
        on.addIncomingCall(call);
        control.setLineName(SimulatedLine::DefaultDevice().name);
        control.setLineOpen(true);
        on.advance(20);
        control.answer();
        DeliverEvents();
    }
    void play(int ms) {
        cards.advance(ms);
        wave.waitIdle();
        DeliverEvents();
    }
    void start(qint32 code, const QString& path, qint32 device) {
        wave.setRecordFormat(code);
        wave.setFileName(path);
        wave.startCapture(device);
    }

    QTemporaryDir dir;
    MonoSamples speech;
    TestAudioSystem cards;
    SimulatedLine line;
    TelephonyControl tapi{line, &cards};
    WaveControl wave{cards, &line};
    WaveLog log{wave};
};

TEST_F(WaveControlTest, InputListIsCardsThenLineAudio) {
    EXPECT_EQ(wave.inputDeviceCount(), 4);
    EXPECT_EQ(wave.inputDeviceName(0), "Speech card");
    EXPECT_EQ(wave.inputDeviceName(3), "Line audio - Kallomir Simulated Line");
    EXPECT_EQ(wave.inputFormats(0), 0x3F);
    EXPECT_EQ(wave.inputFormats(3), 0xFF);
    EXPECT_EQ(wave.inputFormats(4), 0);
    EXPECT_EQ(wave.outputDeviceCount(), 1);
    EXPECT_EQ(wave.outputDeviceName(0), "Speaker");
    EXPECT_EQ(wave.outputFormats(0), 0x0F);
    EXPECT_THROW(wave.inputDeviceName(4), RuntimeError);
    EXPECT_THROW(wave.outputDeviceName(-1), RuntimeError);
}

TEST_F(WaveControlTest, EveryFormatCodeWritesItsHeader) {
    for (const RecordFormat& format : kRecordFormats) {
        const QString path = file(QStringLiteral("f%1.wav").arg(format.code));
        start(format.code, path, 1);
        play(500);
        wave.stopCapture();
        wave.closeCapture();
        const auto wav = ReadWav(path);
        ASSERT_TRUE(wav.ok) << format.code;
        EXPECT_EQ(wav.info.samplerate, format.sampleRate) << format.code;
        EXPECT_EQ(wav.info.channels, 1);
        EXPECT_EQ(wav.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
        EXPECT_EQ(wav.info.format & SF_FORMAT_SUBMASK,
                  format.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16)
            << format.code;
        EXPECT_EQ(wav.info.frames, format.sampleRate / 2) << format.code;
    }
}

TEST_F(WaveControlTest, RecNullWritesNoFileButReportsLevels) {
    start(32, QString(), 0);
    play(1000);
    wave.stopCapture();
    wave.closeCapture();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(log.levels.size(), 10u);
    EXPECT_EQ(log.secondLevels, 0) << "mono: the second level is 0";
}

TEST_F(WaveControlTest, BadStartsFailAndMinusOneIsIgnored) {
    wave.setFileName(file("Record.wav"));
    wave.setRecordFormat(-1);
    try {
        wave.startCapture(0);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 380);
    }
    wave.setRecordFormat(3);  // two bits: not a format
    EXPECT_THROW(wave.startCapture(0), RuntimeError);
    wave.setRecordFormat(2);
    EXPECT_THROW(wave.startCapture(4), RuntimeError);
    wave.startCapture(-1);
    EXPECT_FALSE(wave.isCapturing());
    EXPECT_FALSE(QFile::exists(file("Record.wav")));

    wave.setFileName(file("gone/Record.wav"));
    EXPECT_THROW(wave.startCapture(0), RuntimeError);
    EXPECT_FALSE(wave.isCapturing());
    EXPECT_EQ(cards.openInputStreams(), 0);
}

// A card that refuses to open until told otherwise.
struct UnpluggedCards : TestAudioSystem {
    std::unique_ptr<AudioStream> openInput(int device, int rate, AudioInputCallback cb) override {
        if (unplugged)
            throw RuntimeError(57, QStringLiteral("device gone"));
        return TestAudioSystem::openInput(device, rate, std::move(cb));
    }
    bool unplugged = true;
};

TEST_F(WaveControlTest, ACardThatFailsToOpenLeavesNoCaptureBehind) {
    UnpluggedCards unplugged;
    unplugged.addInput({QStringLiteral("Card"), {}, 0xFF});
    WaveControl other(unplugged, nullptr);
    other.setRecordFormat(2);
    other.setFileName(file("first.wav"));
    EXPECT_THROW(other.startCapture(0), RuntimeError);
    EXPECT_FALSE(other.isCapturing());

    unplugged.unplugged = false;
    other.setFileName(file("second.wav"));
    other.startCapture(0);
    unplugged.advance(500);
    other.closeCapture();
    EXPECT_EQ(ReadWav(file("second.wav")).info.frames, 4000);
}

TEST_F(WaveControlTest, SpeechLevelsExceedDefaultThresholdLineNoiseStaysBelow) {
    start(32, QString(), 0);
    play(static_cast<int>(speech.samples.size() * 1000 / speech.sampleRate));
    wave.closeCapture();
    const auto loud =
        std::count_if(log.levels.begin(), log.levels.end(), [](int l) { return l > 10; });
    EXPECT_GT(loud, static_cast<long>(log.levels.size() * 6 / 10));
    EXPECT_GT(*std::max_element(log.levels.begin(), log.levels.end()), 50);

    // A connected call with nothing said: only the line's noise.
    log.levels.clear();
    SimulatedIncomingCall call;
    line.addIncomingCall(call);
    tapi.setLineName(SimulatedLine::DefaultDevice().name);
    tapi.setLineOpen(true);
    line.advance(20);
    tapi.answer();
    DeliverEvents();
    ASSERT_EQ(tapi.waveInDevice(), 3);
    start(2, QString(), tapi.waveInDevice());
    line.advance(3000);
    wave.waitIdle();
    DeliverEvents();
    wave.closeCapture();
    ASSERT_GE(log.levels.size(), 29u);
    EXPECT_LT(*std::max_element(log.levels.begin(), log.levels.end()), 10);
}

TEST_F(WaveControlTest, RecordLevelIsADocumentedGain) {
    const std::pair<qint16, int> cases[] = {{0, 33}, {100, 67}, {-100, 0}, {50, 50}};
    for (const auto& [recordLevel, expected] : cases) {
        log.levels.clear();
        wave.setRecordLevel(recordLevel);
        const QString path = file(QStringLiteral("gain%1.wav").arg(recordLevel));
        start(32, path, 2);
        play(1000);
        wave.closeCapture();
        ASSERT_EQ(log.levels.size(), 10u);
        EXPECT_NEAR(log.levels[5], expected, 1) << recordLevel;
        const double tone = 32768.0 * std::pow(10.0, (-40.0 + recordLevel / 5.0) / 20.0);
        EXPECT_NEAR(Rms(ReadWav(path).samples), tone, tone * 0.02) << recordLevel;
    }
    EXPECT_EQ(LevelFromRms(32768.0), 100);
    EXPECT_EQ(LevelFromRms(32768.0 / 1000.0), 0);  // -60 dBFS
    EXPECT_EQ(LevelFromRms(0.0), 0);
}

class SilenceTimingTest : public WaveControlTest, public ::testing::WithParamInterface<int> {};

TEST_P(SilenceTimingTest, SilenceRaisedAfterHoldTimeAndClearedByVoice) {
    const int hold = GetParam();
    wave.setVoxThreshold(10);
    wave.setVoxHoldMs(static_cast<qint16>(hold));
    start(32, QString(), 0);
    const int speechMs = static_cast<int>(speech.samples.size() * 1000 / speech.sampleRate);
    play(speechMs + 4000 + speechMs);
    wave.closeCapture();

    // Level events are 100 ms apart: the silence event follows the level event that
    // completes `hold` ms below the threshold, counted from the last loud one.
    const qsizetype s1 = log.events.indexOf("S1");
    ASSERT_GE(s1, 0);
    int quiet = 0;
    for (qsizetype i = s1 - 1; i >= 0 && log.events[i].mid(1).toInt() < 10; --i) ++quiet;
    EXPECT_EQ(quiet, hold / 100);
    EXPECT_EQ(log.events.count("S1"), 1);
    // The trailing speech clears it at its first loud level.
    const qsizetype s0 = log.events.indexOf("S0");
    ASSERT_GT(s0, s1);
    EXPECT_GE(log.events[s0 - 1].mid(1).toInt(), 10);
    for (qsizetype i = s1 + 1; i < s0 - 1; ++i) EXPECT_LT(log.events[i].mid(1).toInt(), 10);
}

INSTANTIATE_TEST_SUITE_P(HoldTimes, SilenceTimingTest, ::testing::Values(1000, 2000));

TEST_F(WaveControlTest, LaterStartSwitchesToTheLineAndKeepsTheFile) {
    answerToneCall(line, tapi);

    const QString path = file("Record.wav");
    start(8, path, 1);  // quiet card first, as the recorder does
    play(500);
    wave.startCapture(-1);
    EXPECT_EQ(wave.captureDevice(), 1);
    wave.startCapture(tapi.waveInDevice());
    EXPECT_EQ(wave.captureDevice(), 3);
    EXPECT_EQ(cards.openInputStreams(), 0);
    line.advance(1000);
    wave.stopCapture();
    line.advance(1000);  // stopped: nothing more is written
    wave.closeCapture();

    const auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.info.samplerate, 11025);
    EXPECT_NEAR(static_cast<double>(wav.info.frames), 11025 * 1.5, 11025 * 0.02);
    const std::vector<std::int16_t> first(wav.samples.begin(), wav.samples.begin() + 5000);
    const std::vector<std::int16_t> last(wav.samples.end() - 5000, wav.samples.end());
    EXPECT_EQ(Rms(first), 0.0);
    EXPECT_NEAR(Rms(last), 3276.8, 3276.8 * 0.05);
}

// A line that holds some of its audio back, as a jitter buffer does, until asked for it.
class HoldingLine : public SimulatedLine {
public:
    void flushAudio(int device) override {
        const std::vector<std::int16_t> held(800, 1234);
        deliverAudio(device, held, audioSampleRate(device));
    }
};

TEST_F(WaveControlTest, StoppingALineCaptureTakesWhatTheLineStillHolds) {
    HoldingLine holding;
    TelephonyControl lineControl{holding, &cards};
    WaveControl capture{cards, &holding};
    answerToneCall(holding, lineControl);

    const QString path = file("Record.wav");
    capture.setRecordFormat(2);
    capture.setFileName(path);
    capture.startCapture(lineControl.waveInDevice());
    holding.advance(1000);
    capture.stopCapture();
    capture.closeCapture();

    // The second of the call, then what the line still held when the capture stopped.
    const auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok);
    ASSERT_EQ(wav.info.samplerate, 8000);
    ASSERT_EQ(wav.samples.size(), 8000u + 800u);
    EXPECT_NEAR(Rms({wav.samples.begin(), wav.samples.begin() + 8000}), 3276.8, 3276.8 * 0.05);
    EXPECT_TRUE(std::all_of(wav.samples.end() - 800, wav.samples.end(),
                            [](std::int16_t s) { return s == 1234; }));
}

TEST_F(WaveControlTest, ReportsOfAClosedCaptureAreDropped) {
    start(128, QString(), 0);
    cards.advance(1000);
    wave.waitIdle();  // ten level reports are queued, not yet delivered
    wave.closeCapture();
    DeliverEvents();
    EXPECT_TRUE(log.levels.empty());
}

TEST_F(WaveControlTest, StopKeepsTheFileOpenForAnotherStart) {
    const QString path = file("Record.wav");
    start(2, path, 1);
    play(300);
    wave.stopCapture();
    EXPECT_FALSE(wave.isCapturing());
    play(300);
    wave.startCapture(1);
    play(300);
    wave.closeCapture();
    EXPECT_EQ(ReadWav(path).info.frames, 4800);
}

TEST_F(WaveControlTest, WriteFailureStopsTheCaptureAndIsReported) {
    const QString path = file("Record.wav");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;  // the disk is "full" after 64 KiB
    setrlimit(RLIMIT_FSIZE, &small);
    start(128, path, 0);
    play(2000);  // 176 KB would be needed
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(log.failures.size(), 1);
    EXPECT_FALSE(wave.isCapturing());
    EXPECT_EQ(cards.openInputStreams(), 0);
    // What was written up to the failure is a complete WAV file.
    const auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_GT(wav.info.frames, 20000);
    EXPECT_LE(wav.info.frames * 2 + 44, 64 * 1024);
    // The control is usable again.
    wave.setFileName(file("next.wav"));
    wave.startCapture(1);
    play(100);
    wave.closeCapture();
    EXPECT_EQ(ReadWav(file("next.wav")).info.frames, 4410);
}

}  // namespace
}  // namespace kallomir

namespace kallomir {
namespace {

// More audio at once than the capture's ring holds: what does not fit is lost, and the
// capture says so once, while it goes on.
TEST(CaptureSessionWarnings, DroppedSamplesAreToldOnce) {
    QTemporaryDir dir;
    CaptureSettings settings;
    QStringList warnings;
    std::mutex mutex;
    CaptureEvents events;
    events.warning = [&](const QString& text) {
        std::lock_guard lock(mutex);
        warnings << text;
    };
    CaptureSession session(*RecordFormatOf(2), dir.filePath("r.wav"), settings, events, {});
    const std::vector<std::int16_t> flood(std::size_t(1) << 19, 1000);  // twice the ring
    session.push(flood);
    session.push(flood);
    session.waitIdle();
    session.push(std::vector<std::int16_t>(800, 1000));  // the capture goes on
    session.waitIdle();
    EXPECT_TRUE(session.finish().isEmpty());
    std::lock_guard lock(mutex);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.front().startsWith("Audio perso")) << warnings.front().toStdString();
}

}  // namespace
}  // namespace kallomir
