#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <mutex>
#include <span>

namespace kallomir {

// One line device as a line backend lists it.
struct LineDeviceInfo {
    QString name;
    qint32 apiVersion = 0;    // major in the upper 16 bits, minor in the low 8 bits
    qint32 capabilities = 0;  // LineCapability bits
};

// Capability bits of a line device.
namespace LineCapability {
inline constexpr qint32 kInteractiveVoice = 4;
inline constexpr qint32 kAutomatedVoice = 8;  // needed for the line to be offered
inline constexpr qint32 kDataModem = 16;
inline constexpr qint32 kG3Fax = 32;
inline constexpr qint32 kG4Fax = 128;
inline constexpr qint32 kCallerId = 0x1000;
inline constexpr qint32 kMonitorDigits = 0x2000;
inline constexpr qint32 kGenerateDigits = 0x4000;
}  // namespace LineCapability

// Whether a line that registers with a registrar (a PBX, a trunk) can receive calls.
struct LineRegistration {
    enum class State {
        NotUsed,      // the line does not register (direct calls, simulated line)
        Registering,  // first attempt under way
        Registered,   // the registrar accepted us
        Refused,      // the registrar said no: status and reason tell why
        Unreachable,  // no answer from the registrar (or its name did not resolve)
    };
    State state = State::NotUsed;
    int status = 0;  // the SIP status code of a refusal
    QString reason;  // its reason phrase, or why the registrar was unreachable
    bool operator==(const LineRegistration&) const = default;
};

// Where a backend reports what happens on its lines. Calls may come from any thread (a SIP
// stack runs on its own); the receiver hands them on to its own thread.
class LineEvents {
public:
    virtual ~LineEvents() = default;
    virtual void lineRing(int device, int rings) = 0;  // rings so far of the offered call
    virtual void lineConnected(int device) = 0;
    virtual void lineDisconnected(int device) = 0;
    virtual void lineIdle(int device) = 0;
    virtual void lineNotify(int device, const QString& text) = 0;  // e.g. "CALLERID 0123456"
    // The device's registration changed; read it with LineBackend::registration().
    virtual void lineRegistration(int /*device*/) {}
};

// Receives the connected call's audio: mono 16-bit samples at the stated rate. Called from the
// backend's audio thread; it must return quickly and never wait on the GUI thread.
class LineAudioSink {
public:
    virtual ~LineAudioSink() = default;
    virtual void lineAudio(int device, std::span<const std::int16_t> samples, int sampleRate) = 0;
};

// The telephone line under the telephony control: a simulated line, a SIP line. Commands come
// from the GUI thread; events and audio may come from any thread.
class LineBackend {
public:
    virtual ~LineBackend() = default;

    virtual QList<LineDeviceInfo> devices() const = 0;

    // Commands on one device (an index into devices()). Failures throw RuntimeError.
    virtual void open(int device) = 0;
    virtual void close(int device) = 0;
    virtual void answer(int device) = 0;  // answers the offered call; nothing without one
    virtual void drop(int device) = 0;    // ends or refuses the call; nothing without one
    virtual void dial(int device, const QString& number) = 0;

    virtual bool isConnected(int device) const = 0;
    // Rate of the audio the device hands to the audio sink while a call is connected.
    virtual int audioSampleRate(int device) const = 0;
    // Hands the audio sink at once what the device still holds back (received, waiting in a
    // jitter buffer), so a capture that stops now keeps the call up to this moment. The call
    // goes on without a gap. From the GUI thread; nothing to do for a device that holds
    // nothing back.
    virtual void flushAudio(int /*device*/) {}
    // The device's registration as it stands; any thread.
    virtual LineRegistration registration(int /*device*/) const { return {}; }

    // Both may be called from the GUI thread at any time; once they return, the previous
    // receiver is no longer called.
    void setEventReceiver(LineEvents* receiver) {
        std::lock_guard lock(eventsMutex_);
        events_ = receiver;
    }
    void setAudioSink(LineAudioSink* sink) {
        std::lock_guard lock(audioMutex_);
        audio_ = sink;
    }

protected:
    // For implementations: report an event or hand over audio, from any thread.
    void reportRing(int device, int rings) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineRing(device, rings);
    }
    void reportConnected(int device) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineConnected(device);
    }
    void reportDisconnected(int device) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineDisconnected(device);
    }
    void reportIdle(int device) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineIdle(device);
    }
    void reportNotify(int device, const QString& text) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineNotify(device, text);
    }
    void reportRegistration(int device) {
        std::lock_guard lock(eventsMutex_);
        if (events_)
            events_->lineRegistration(device);
    }
    // The lock is held only while the sink copies the samples into its ring.
    void deliverAudio(int device, std::span<const std::int16_t> samples, int sampleRate) {
        std::lock_guard lock(audioMutex_);
        if (audio_)
            audio_->lineAudio(device, samples, sampleRate);
    }

private:
    std::mutex eventsMutex_;
    std::mutex audioMutex_;
    LineEvents* events_ = nullptr;
    LineAudioSink* audio_ = nullptr;
};

}  // namespace kallomir
