#pragma once

#include "controls/LineBackend.h"
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
// An offered call gets 180 Ringing and one ring event per ring period; answer() sends 200 OK
// with PCMU or PCMA. A second call while one is up gets 486, an offer without G.711 488, a
// call to a closed line 480. We only record: our descriptions say recvonly (inactive for a
// stream the far end does not send), and instead of audio we send a header-only RTP
// keepalive when the call connects and every few seconds. The connected call's audio is the
// far end placed by RTP timestamp, as 8 kHz mono.
class SipLine final : public LineBackend {
public:
    static constexpr qint32 kApiVersion = 0x00020000;  // 2.0
    static constexpr qint32 kCapabilities = LineCapability::kInteractiveVoice |
                                            LineCapability::kAutomatedVoice |
                                            LineCapability::kCallerId;

    // The configuration file of the lines in the home folder.
    static QString configPath(const QString& homeFolder);

    // Starts the SIP thread; each line's SIP port is bound when the line is first opened.
    // Throws RuntimeError when the SIP stack cannot start.
    explicit SipLine(std::vector<SipLineConfig> lines);
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

    // What a line has seen, for diagnostics, tests and the benchmark.
    struct Diagnostics {
        bool listening = false;
        bool registered = false;
        int sipPort = 0;                // bound SIP port, 0 before the first open
        JitterBuffer::Stats audio;      // of the current or last call
        uint64_t foreignPackets = 0;    // RTP from an address the call did not negotiate
        uint64_t otherPayloads = 0;     // RTP with a payload type not negotiated
        uint64_t keepalivesFailed = 0;  // RTP keepalives the system would not send
        uint64_t refusedCalls = 0;      // offers answered 4xx (busy, no codec, bad SDP, closed)
        qint64 lastAnswerMs = -1;       // time spent inside answer() up to 200 OK being sent
        QStringList problems;           // the latest problems, newest last
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
