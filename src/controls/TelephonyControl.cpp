#include "controls/TelephonyControl.h"

#include "controls/AudioSystem.h"
#include "core/RuntimeError.h"

namespace kallomir {

namespace {

RuntimeError LineError(const QString& why) {
    return RuntimeError(kLineDeviceError, why);
}

}  // namespace

TelephonyControl::TelephonyControl(LineBackend& line, const AudioSystem* audio, QObject* parent)
    : QObject(parent), line_(line), audio_(audio) {
    line_.setEventReceiver(this);
}

TelephonyControl::~TelephonyControl() {
    line_.setEventReceiver(nullptr);
    if (open_ >= 0) {
        try {
            line_.close(open_);
        } catch (const RuntimeError&) {
            // Closing on the way out: nothing left to report to.
        }
    }
}

qint32 TelephonyControl::lineDeviceCount() const {
    note(QStringLiteral("1?"));
    return static_cast<qint32>(line_.devices().size());
}

LineDeviceInfo TelephonyControl::currentInfo() const {
    const QList<LineDeviceInfo> devices = line_.devices();
    if (current_ < 0 || current_ >= devices.size())
        return {};
    return devices.at(current_);
}

qint32 TelephonyControl::capabilities() const {
    note(QStringLiteral("2?"));
    return currentInfo().capabilities;
}

qint32 TelephonyControl::apiVersion() const {
    note(QStringLiteral("23?"));
    return currentInfo().apiVersion;
}

QString TelephonyControl::lineDeviceName(qint32 index) {
    note(QStringLiteral("3(%1)?").arg(index));
    const QList<LineDeviceInfo> devices = line_.devices();
    if (index < 0 || index >= devices.size()) {
        throw LineError(QStringLiteral("Line device %1 does not exist").arg(index));
    }
    current_ = index;
    return devices.at(index).name;
}

QString TelephonyControl::lineName() const {
    note(QStringLiteral("5?"));
    return currentInfo().name;
}

void TelephonyControl::setLineName(const QString& name) {
    note(QStringLiteral("5=") + name);
    const QList<LineDeviceInfo> devices = line_.devices();
    for (int i = 0; i < devices.size(); ++i) {
        if (devices.at(i).name == name) {
            current_ = i;
            return;
        }
    }
    throw LineError(QStringLiteral("No line device is named \"%1\"").arg(name));
}

void TelephonyControl::requireOpen(const char* what) const {
    if (open_ < 0)
        throw LineError(QStringLiteral("The line is not open (%1)").arg(what));
}

void TelephonyControl::drop() {
    note(QStringLiteral("7"));
    // Stopping always drops, with or without a call: that must never be an error. A call
    // offered after the one being handled here is not ours to drop.
    if (open_ >= 0 && offeredCalls_.load() == handledCalls_)
        line_.drop(open_);
}

void TelephonyControl::dial(const QString& number) {
    note(QStringLiteral("8(%1)").arg(number));
    requireOpen("dial");
    line_.dial(open_, number);
    handledCalls_ = ++offeredCalls_;
}

void TelephonyControl::answer() {
    note(QStringLiteral("10"));
    requireOpen("answer");
    line_.answer(open_);
}

void TelephonyControl::setMember13(qint32 value) {
    note(QStringLiteral("13=%1").arg(value));
    member13_ = value;
}

void TelephonyControl::setCallPrivilege(qint32 privilege) {
    note(QStringLiteral("14=%1").arg(privilege));
    callPrivilege_ = privilege;
}

qint32 TelephonyControl::waveInDevice() const {
    note(QStringLiteral("16?"));
    if (open_ < 0 || !line_.isConnected(open_))
        return -1;
    const qint32 cards = audio_ ? static_cast<qint32>(audio_->inputDeviceNames().size()) : 0;
    return cards + open_;
}

qint32 TelephonyControl::waveOutDevice() const {
    note(QStringLiteral("17?"));
    // The lines carry no playback path of their own.
    return -1;
}

bool TelephonyControl::lineOpen() const {
    note(QStringLiteral("22?"));
    return open_ >= 0;
}

void TelephonyControl::closeOpenDevice() {
    if (closingGuard_)
        closingGuard_();
    if (open_ < 0)
        return;
    const int device = open_;
    open_ = -1;
    line_.close(device);
    // Whatever the closed line still had to report is gone with it.
    handledCalls_ = offeredCalls_.load();
}

void TelephonyControl::setLineOpen(bool open) {
    note(open ? QStringLiteral("22=true") : QStringLiteral("22=false"));
    if (!open) {
        if (open_ >= 0)
            closeOpenDevice();
        return;
    }
    if (open_ >= 0 && open_ == current_)
        return;
    if (current_ < 0)
        throw LineError(QStringLiteral("No line device is chosen"));
    if (open_ >= 0)
        closeOpenDevice();
    line_.open(current_);
    open_ = current_;
}

LineRegistration TelephonyControl::registration() const {
    // A SIP line goes on registering while the settings dialog has it closed.
    const int device = open_ >= 0 ? open_ : current_;
    return device >= 0 ? line_.registration(device) : LineRegistration{};
}

qint32 TelephonyControl::readMember35() const {
    note(QStringLiteral("35?"));
    return 0;
}

void TelephonyControl::setMember46(bool value) {
    note(value ? QStringLiteral("46=true") : QStringLiteral("46=false"));
    member46_ = value;
}

void TelephonyControl::setMember51(qint32 value) {
    note(QStringLiteral("51=%1").arg(value));
    member51_ = value;
}

void TelephonyControl::setMember61(qint32 value) {
    note(QStringLiteral("61=%1").arg(value));
    member61_ = value;
}

qint32 TelephonyControl::readMember72() const {
    note(QStringLiteral("72?"));
    return 0;
}

// Line reports may come from any thread and must not run a handler inside a member call:
// each is queued to this object's thread and dropped there if the device is no longer open.
void TelephonyControl::lineRing(int device, int rings) {
    // Counted here, on the line's thread, the moment the line offers the call.
    const quint64 call = rings <= 1 ? ++offeredCalls_ : offeredCalls_.load();
    QMetaObject::invokeMethod(
        this,
        [this, device, rings, call] {
            if (call > handledCalls_)
                handledCalls_ = call;
            if (device == open_)
                emit IncomingCall(rings);
        },
        Qt::QueuedConnection);
}

void TelephonyControl::lineConnected(int device) {
    QMetaObject::invokeMethod(
        this,
        [this, device] {
            if (device != open_)
                return;
            emit Connected();
        },
        Qt::QueuedConnection);
}

void TelephonyControl::lineDisconnected(int device) {
    QMetaObject::invokeMethod(
        this,
        [this, device] {
            if (device != open_)
                return;
            emit Disconnected();
        },
        Qt::QueuedConnection);
}

void TelephonyControl::lineIdle(int device) {
    QMetaObject::invokeMethod(
        this,
        [this, device] {
            if (device == open_)
                emit Idle();
        },
        Qt::QueuedConnection);
}

void TelephonyControl::lineNotify(int device, const QString& text) {
    QMetaObject::invokeMethod(
        this,
        [this, device, text] {
            if (device == open_)
                emit Notify(text);
        },
        Qt::QueuedConnection);
}

void TelephonyControl::lineRegistration(int device) {
    QMetaObject::invokeMethod(
        this,
        [this, device] {
            if (device == open_)
                emit RegistrationChanged();
        },
        Qt::QueuedConnection);
}

}  // namespace kallomir
