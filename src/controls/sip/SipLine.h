#pragma once

#include "controls/LineBackend.h"
#include "controls/sip/CallMedia.h"
#include "controls/sip/JitterBuffer.h"
#include "controls/sip/SipLineConfig.h"

#include <memory>
#include <vector>

namespace kallomir {

class ReLoop;

// Telephone lines reached over SIP (a trunk or a PBX extension pointed at the recorder),
// one line device per configured line. libre runs on a thread of its own; commands wait for
// it, events and audio go out through LineBackend's reporting functions from that thread.
//
// Only allowed peers get in, at a bounded rate, and only with requests a user agent server
// can answer properly; the rest is refused (403, 400, 420, ...) or dropped without ever
// occupying the line. An offered call gets 180 Ringing and one ring event per ring period;
// answer() sends 200 OK, and the call is connected (and recorded) from that moment, the ACK
// or not. A second call while one is up gets 486, an offer without a codec of ours 488, a
// call to a closed line 480. We only record: our descriptions say recvonly (or sendrecv with
// silence sent, for far ends that insist on audio), and every call carries RTCP. The
// connected call's audio is the far end's stream placed by RTP timestamp, at 8 kHz, or at
// 16 kHz when a wideband codec (G.722, Opus) was agreed. A line that registers reports how
// that goes; quitting removes the registration.
class SipLine final : public LineBackend {
public:
    static constexpr qint32 kApiVersion = 0x00020000;  // 2.0
    static constexpr qint32 kCapabilities = LineCapability::kInteractiveVoice |
                                            LineCapability::kAutomatedVoice |
                                            LineCapability::kCallerId;
    // The longest the destructor waits for the registrars to answer our un-REGISTER.
    static constexpr int kUnregisterWaitMs = 2000;

    // The configuration file of the lines in the home folder.
    static QString configPath(const QString& homeFolder);

    // Starts the SIP thread; each line's SIP port is bound when the line is first opened.
    // Throws RuntimeError when the SIP stack cannot start.
    explicit SipLine(std::vector<SipLineConfig> lines);
    // Removes the registrations (waiting at most kUnregisterWaitMs), then stops.
    ~SipLine() override;

    QList<LineDeviceInfo> devices() const override;
    void open(int device) override;
    void close(int device) override;
    void answer(int device) override;
    void drop(int device) override;
    void dial(int device, const QString& number) override;
    bool isConnected(int device) const override;
    int audioSampleRate(int device) const override;
    void flushAudio(int device) override;
    LineRegistration registration(int device) const override;

    // What the operator should be told about the configuration of the lines (a lines file
    // readable by others while it holds a password, keys sent in clear), in Italian; each
    // was also logged.
    QStringList warnings() const;

    // What a line has seen, for diagnostics, tests and the benchmark.
    struct Diagnostics {
        bool listening = false;
        int sipPort = 0;                  // bound SIP port, 0 before the first open
        JitterBuffer::Stats audio;        // of the current or last call
        CallMedia::Counters media;        // of the current or last call
        uint64_t packetsLost = 0;         // of the far end's stream, as our RTCP reports it
        uint64_t refusedCalls = 0;        // offers answered 4xx (busy, no codec, bad SDP, closed)
        uint64_t droppedRequests = 0;     // requests that could not be answered (no Via)
        uint64_t rejectedRequests = 0;    // requests answered 400, 405, 415, 416, 420
        uint64_t forbiddenRequests = 0;   // requests from outside the allow-list (403)
        uint64_t rateLimitedInvites = 0;  // new calls over a source's rate, dropped
        qint64 lastAnswerMs = -1;         // time spent inside answer() up to 200 OK being sent
        QStringList allowedSources;       // the allow-list in force
        QStringList problems;             // the latest problems, newest last
    };
    Diagnostics diagnostics(int device) const;

private:
    struct Device;
    struct Call;
    Device& device(int index) const;

    std::vector<std::unique_ptr<Device>> devices_;
    std::unique_ptr<ReLoop> loop_;
};

}  // namespace kallomir
