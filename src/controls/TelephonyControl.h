#pragma once

#include "controls/LineBackend.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

namespace kallomir {

class AudioSystem;

// Error number of a line device that cannot be used (unknown name, not open, open failed).
inline constexpr int kLineDeviceError = -2147213296;

// The telephony control amTapiPro1: numbered members as named methods, events as signals.
//
//  No. | method                          | use
//  ----+---------------------------------+-------------------------------------------------
//   1  | lineDeviceCount()               | number of line devices
//   2  | capabilities()                  | capability mask of the current device
//   3  | lineDeviceName(index)           | name of device index; makes it current
//   5  | lineName() / setLineName(name)  | name of the current device / choose it by name
//   7  | drop()                          | drop the call
//   8  | dial(number)                    | dial a number on the open line
//  10  | answer()                        | answer the offered call
//  13  | setMember13(value)              | stored, no effect
//  14  | setCallPrivilege(value)         | privilege for the next open
//  16  | waveInDevice()                  | wave input number of the line's audio; -1 no call
//  17  | waveOutDevice()                 | wave output number of the line; -1 none
//  22  | lineOpen() / setLineOpen(open)  | open or close the current device
//  23  | apiVersion()                    | API version of the current device
//  35  | readMember35()                  | read on connect, unused
//  46  | setMember46(value)              | stored, no effect
//  51  | setMember51(value)              | stored, no effect
//  61  | setMember61(value)              | stored, no effect
//  72  | readMember72()                  | read on connect, unused
//
// Events (signals): 15 IncomingCall(rings), 14 Connected(), 13 Disconnected(), 17 Idle(),
// 10 Notify(text). They are always delivered through the event loop of the control's thread,
// never from inside a member call, whichever thread the line reports from.
//
// The wave device numbers of the line (16, 17) count after the sound-card devices: the line
// audio of device d is wave input (number of sound-card inputs + d), as the wave control lists
// it.
class TelephonyControl : public QObject, private LineEvents {
    Q_OBJECT
public:
    // `audio` may be null (no sound cards: line audio numbers start at 0).
    TelephonyControl(LineBackend& line, const AudioSystem* audio, QObject* parent = nullptr);
    ~TelephonyControl() override;

    qint32 lineDeviceCount() const;           // 1
    qint32 capabilities() const;              // 2
    QString lineDeviceName(qint32 index);     // 3
    QString lineName() const;                 // 5
    void setLineName(const QString& name);    // 5
    void drop();                              // 7
    void dial(const QString& number);         // 8
    void answer();                            // 10
    void setMember13(qint32 value);           // 13
    void setCallPrivilege(qint32 privilege);  // 14
    qint32 waveInDevice() const;              // 16
    qint32 waveOutDevice() const;             // 17
    bool lineOpen() const;                    // 22
    void setLineOpen(bool open);              // 22
    qint32 apiVersion() const;                // 23
    qint32 readMember35() const;              // 35
    void setMember46(bool value);             // 46
    void setMember51(qint32 value);           // 51
    void setMember61(qint32 value);           // 61
    qint32 readMember72() const;              // 72

    // Not members of the control: for tests and diagnostics.
    // Receives one entry per member use, in order: "22=true" (set), "16?" (read), "3(0)?"
    // (read with an argument), "8(0612345678)" / "7" (calls).
    void setMemberTrace(std::function<void(const QString&)> trace) { trace_ = std::move(trace); }
    qint32 member13() const { return member13_; }
    qint32 callPrivilege() const { return callPrivilege_; }
    bool member46() const { return member46_; }
    qint32 member51() const { return member51_; }
    qint32 member61() const { return member61_; }
    int currentDevice() const { return current_; }
    int openDevice() const { return open_; }
    // The registration with its registrar of the open line, or of the chosen one while it is
    // closed (NotUsed without either).
    LineRegistration registration() const;
    // Runs just before the open line is closed (member 22 set false, or another line
    // opened), while the call on it can still be stopped in order: closing a line ends its
    // call without a Disconnected event.
    void setLineClosingGuard(std::function<void()> guard) { closingGuard_ = std::move(guard); }

signals:
    void IncomingCall(int rings);      // 15
    void Connected();                  // 14
    void Disconnected();               // 13
    void Idle();                       // 17
    void Notify(const QString& text);  // 10
    // Not an event of the control: the open line's registration changed.
    void RegistrationChanged();

private:
    void lineRing(int device, int rings) override;
    void lineConnected(int device) override;
    void lineDisconnected(int device) override;
    void lineIdle(int device) override;
    void lineNotify(int device, const QString& text) override;
    void lineRegistration(int device) override;
    LineDeviceInfo currentInfo() const;
    void requireOpen(const char* what) const;

    void note(const QString& entry) const {
        if (trace_)
            trace_(entry);
    }
    void closeOpenDevice();

    LineBackend& line_;
    const AudioSystem* audio_;
    std::function<void(const QString&)> trace_;
    std::function<void()> closingGuard_;
    // Calls the line has offered (counted where the line reports them) against calls whose
    // first event this thread has handled. They differ when a new caller rang in after the
    // previous call ended but before that end was handled here: member 7 for the old call
    // must then leave the new caller alone.
    std::atomic<quint64> offeredCalls_{0};
    quint64 handledCalls_ = 0;
    int current_ = -1;  // device chosen by member 3 or 5
    int open_ = -1;     // device opened by member 22
    qint32 member13_ = 0;
    qint32 callPrivilege_ = 0;
    bool member46_ = false;
    qint32 member51_ = 0;
    qint32 member61_ = 0;
};

}  // namespace kallomir
