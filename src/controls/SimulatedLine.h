#pragma once

#include "controls/LineBackend.h"
#include "controls/WavSamples.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

namespace kallomir {

// A call that arrives on the simulated line.
struct SimulatedIncomingCall {
    qint64 atMs = 0;            // when it arrives, counted from the line's first opening
    int ringPeriodMs = 3000;    // one ring event per period, the first on arrival
    int giveUpAfterRings = 0;   // the caller hangs up unanswered after so many rings; 0 never
    QString callerId;           // reported as Notify "CALLERID <number>" with the first ring
    QString audioPath;          // the caller's voice once answered; empty: line noise only
    qint64 hangUpAfterMs = -1;  // far end hangs up this long after the answer; -1: when the
                                // audio ends (never without audio)
    int device = 0;
};

// How the far end treats a number we dial.
struct SimulatedDialAnswer {
    qint64 answerAfterMs = 4000;  // -1: never answers
    QString audioPath;
    qint64 hangUpAfterMs = -1;  // as for incoming calls
};

// A telephone line with no telephone: calls arrive, ring, connect and hang up by a scenario
// (given through this API or a script file, see docs/line-script.md), with the caller's audio
// taken from a sound file and line noise around it. Time moves by advance() (tests) or by
// the wall clock after startRealTime() (demo). Audio is handed over at 8000 Hz.
class SimulatedLine : public QObject, public LineBackend {
    Q_OBJECT
public:
    static constexpr int kAudioRate = 8000;
    static LineDeviceInfo DefaultDevice();

    explicit SimulatedLine(QList<LineDeviceInfo> devices = {DefaultDevice()},
                           QObject* parent = nullptr);
    ~SimulatedLine() override;

    // Scenario: incoming calls (queued until the line is first opened, then timed from that
    // moment) and the far end of the numbers we dial.
    void addIncomingCall(const SimulatedIncomingCall& call);
    void setDialAnswer(const SimulatedDialAnswer& answer) { dialAnswer_ = answer; }
    // The far end hangs up now.
    void hangUpFarEnd();

    void advance(qint64 ms);
    void startRealTime();

    enum class CallState { Idle, Offering, Dialling, Connected };
    CallState callState() const { return state_; }
    QString lastDialled() const { return lastDialled_; }
    bool isOpen(int device) const;
    qint64 elapsedMs() const { return now_; }

    QList<LineDeviceInfo> devices() const override { return devices_; }
    void open(int device) override;
    void close(int device) override;
    void answer(int device) override;
    void drop(int device) override;
    void dial(int device, const QString& number) override;
    bool isConnected(int device) const override;
    int audioSampleRate(int) const override { return kAudioRate; }

private:
    void checkDevice(int device) const;
    void step(qint64 ms);
    void connectCall(const QString& audioPath, qint64 hangUpAfterMs);
    void endCall(bool farEnd);
    void pushAudio(qint64 ms);

    QList<LineDeviceInfo> devices_;
    QList<bool> open_;
    bool everOpened_ = false;
    qint64 now_ = 0;
    QList<SimulatedIncomingCall> pending_;    // arrival time still relative to first opening
    QList<SimulatedIncomingCall> scheduled_;  // arrival time on the line's clock
    SimulatedDialAnswer dialAnswer_;

    CallState state_ = CallState::Idle;
    int callDevice_ = -1;
    SimulatedIncomingCall offered_;
    int rings_ = 0;
    qint64 nextRingAt_ = 0;
    qint64 answerAt_ = -1;  // dialled call: when the far end answers
    QString dialAudio_;
    qint64 dialHangUp_ = -1;
    qint64 hangUpAt_ = -1;  // connected call: when the far end hangs up
    MonoSamples voice_;
    std::size_t voicePosition_ = 0;
    qint64 audioCarry_ = 0;
    quint32 noiseSeed_ = 12345;
    QString lastDialled_;

    QTimer ticker_;
    QElapsedTimer wallClock_;
    qint64 wallConsumed_ = 0;
};

}  // namespace kallomir
