#include "controls/SimulatedLine.h"

#include "controls/TelephonyControl.h"
#include "core/RuntimeError.h"

#include <algorithm>

namespace kallomir {

namespace {
constexpr qint64 kStepMs = 20;
constexpr int kNoiseAmplitude = 8;  // about -77 dBFS: a quiet line, level 0
}  // namespace

LineDeviceInfo SimulatedLine::DefaultDevice() {
    using namespace LineCapability;
    return {QStringLiteral("Kallomir Simulated Line"), 0x00020001,
            kInteractiveVoice | kAutomatedVoice | kCallerId | kMonitorDigits | kGenerateDigits};
}

SimulatedLine::SimulatedLine(QList<LineDeviceInfo> devices, QObject* parent)
    : QObject(parent), devices_(std::move(devices)), open_(devices_.size(), false) {
    ticker_.setInterval(static_cast<int>(kStepMs));
    QObject::connect(&ticker_, &QTimer::timeout, this, [this] {
        const qint64 elapsed = wallClock_.elapsed();
        advance(elapsed - wallConsumed_);
        wallConsumed_ = elapsed;
    });
}

SimulatedLine::~SimulatedLine() = default;

void SimulatedLine::checkDevice(int device) const {
    if (device < 0 || device >= devices_.size()) {
        throw RuntimeError(kLineDeviceError, QStringLiteral("No line device %1").arg(device));
    }
}

bool SimulatedLine::isOpen(int device) const {
    return device >= 0 && device < open_.size() && open_.at(device);
}

void SimulatedLine::addIncomingCall(const SimulatedIncomingCall& call) {
    if (everOpened_) {
        SimulatedIncomingCall timed = call;
        timed.atMs += now_;
        scheduled_.append(timed);
    } else {
        pending_.append(call);
    }
}

void SimulatedLine::open(int device) {
    checkDevice(device);
    open_[device] = true;
    if (!everOpened_) {
        everOpened_ = true;
        for (SimulatedIncomingCall call : std::as_const(pending_)) {
            call.atMs += now_;
            scheduled_.append(call);
        }
        pending_.clear();
    }
}

void SimulatedLine::close(int device) {
    checkDevice(device);
    open_[device] = false;
    if (state_ != CallState::Idle && callDevice_ == device)
        endCall(false);
}

void SimulatedLine::answer(int device) {
    checkDevice(device);
    if (state_ != CallState::Offering || device != callDevice_)
        return;
    connectCall(offered_.audioPath, offered_.hangUpAfterMs);
}

void SimulatedLine::drop(int device) {
    checkDevice(device);
    if (state_ != CallState::Idle && device == callDevice_)
        endCall(false);
}

void SimulatedLine::dial(int device, const QString& number) {
    checkDevice(device);
    if (!isOpen(device))
        throw RuntimeError(kLineDeviceError, QStringLiteral("The line is not open"));
    if (state_ != CallState::Idle) {
        throw RuntimeError(kLineDeviceError, QStringLiteral("The line is busy"));
    }
    lastDialled_ = number;
    state_ = CallState::Dialling;
    callDevice_ = device;
    answerAt_ = dialAnswer_.answerAfterMs >= 0 ? now_ + dialAnswer_.answerAfterMs : -1;
    dialAudio_ = dialAnswer_.audioPath;
    dialHangUp_ = dialAnswer_.hangUpAfterMs;
}

bool SimulatedLine::isConnected(int device) const {
    return state_ == CallState::Connected && device == callDevice_;
}

void SimulatedLine::hangUpFarEnd() {
    if (state_ != CallState::Idle)
        endCall(true);
}

void SimulatedLine::advance(qint64 ms) {
    while (ms > 0) {
        const qint64 piece = std::min(ms, kStepMs);
        step(piece);
        ms -= piece;
    }
}

void SimulatedLine::startRealTime() {
    wallClock_.start();
    wallConsumed_ = 0;
    ticker_.start();
}

void SimulatedLine::step(qint64 ms) {
    now_ += ms;
    if (state_ == CallState::Connected) {
        pushAudio(ms);
        if (hangUpAt_ >= 0 && now_ >= hangUpAt_)
            endCall(true);
    }
    if (state_ == CallState::Dialling && answerAt_ >= 0 && now_ >= answerAt_) {
        connectCall(dialAudio_, dialHangUp_);
    }
    if (state_ == CallState::Idle) {
        const auto due =
            std::find_if(scheduled_.begin(), scheduled_.end(),
                         [this](const SimulatedIncomingCall& c) { return c.atMs <= now_; });
        if (due != scheduled_.end()) {
            offered_ = *due;
            scheduled_.erase(due);
            state_ = CallState::Offering;
            callDevice_ = std::clamp(offered_.device, 0, static_cast<int>(devices_.size()) - 1);
            rings_ = 0;
            nextRingAt_ = now_;
        }
    }
    while (state_ == CallState::Offering && nextRingAt_ <= now_) {
        if (offered_.giveUpAfterRings > 0 && rings_ >= offered_.giveUpAfterRings) {
            endCall(false);  // unanswered: the line simply goes idle again
            reportIdle(callDevice_);
            break;
        }
        ++rings_;
        if (rings_ == 1 && !offered_.callerId.isEmpty()) {
            reportNotify(callDevice_, QStringLiteral("CALLERID ") + offered_.callerId);
        }
        reportRing(callDevice_, rings_);
        nextRingAt_ += std::max(1, offered_.ringPeriodMs);
    }
}

void SimulatedLine::connectCall(const QString& audioPath, qint64 hangUpAfterMs) {
    // A voice file that went missing leaves the caller silent rather than failing the call
    // (this also runs from the line's timer, where nobody could catch an error).
    voice_ = MonoSamples{};
    if (!audioPath.isEmpty()) {
        try {
            voice_ = ReadMonoSamples(audioPath, kAudioRate);
        } catch (const RuntimeError& e) {
            qWarning("simulated line: %s", qPrintable(e.description()));
        }
    }
    voicePosition_ = 0;
    audioCarry_ = 0;
    state_ = CallState::Connected;
    answerAt_ = -1;
    if (hangUpAfterMs >= 0) {
        hangUpAt_ = now_ + hangUpAfterMs;
    } else if (!voice_.samples.empty()) {
        hangUpAt_ = now_ + static_cast<qint64>(voice_.samples.size()) * 1000 / kAudioRate;
    } else {
        hangUpAt_ = -1;
    }
    reportConnected(callDevice_);
}

void SimulatedLine::endCall(bool farEnd) {
    const bool wasConnected = state_ == CallState::Connected;
    const int device = callDevice_;
    state_ = CallState::Idle;
    hangUpAt_ = -1;
    answerAt_ = -1;
    voice_ = MonoSamples{};
    // Our own hang-up is not reported back: the recorder already stopped what it had to.
    if (farEnd) {
        if (wasConnected)
            reportDisconnected(device);
        reportIdle(device);
    }
}

void SimulatedLine::pushAudio(qint64 ms) {
    audioCarry_ += ms * kAudioRate;
    const auto frames = static_cast<std::size_t>(audioCarry_ / 1000);
    audioCarry_ %= 1000;
    std::vector<std::int16_t> block(frames);
    for (std::int16_t& sample : block) {
        if (voicePosition_ < voice_.samples.size()) {
            sample = voice_.samples[voicePosition_++];
        } else {
            noiseSeed_ ^= noiseSeed_ << 13;
            noiseSeed_ ^= noiseSeed_ >> 17;
            noiseSeed_ ^= noiseSeed_ << 5;
            sample = static_cast<std::int16_t>(
                static_cast<int>(noiseSeed_ % (2 * kNoiseAmplitude + 1)) - kNoiseAmplitude);
        }
    }
    if (!block.empty())
        deliverAudio(callDevice_, block, kAudioRate);
}

}  // namespace kallomir
