#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QUdpSocket>

#include <optional>

namespace kallomir::test {

// A SIP message as text, with the few parts a test looks at.
struct SipText {
    QByteArray startLine;
    QMap<QByteArray, QByteArray> headers;  // lower-case names, first value only
    QByteArray body;

    int status() const;  // 0 for a request
    QByteArray method() const;
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    QByteArray toTag() const;
};
std::optional<SipText> parseSipText(const QByteArray& datagram);

// A far end written by hand on 127.0.0.1: sends exactly the requests a test wants (including
// broken ones) and reads what the line answers. Blocking; no event loop needed.
class RawSipPeer {
public:
    RawSipPeer();
    int port() const { return socket_.localPort(); }
    int rtpPort() const { return rtp_.localPort(); }

    void send(const QByteArray& datagram, int toPort);
    // The next message within timeoutMs (ignoring 100 Trying and retransmissions of
    // responses already read); nullopt on timeout.
    std::optional<SipText> receive(int timeoutMs = 5000);
    // Reads until a response with the status (or a request with the method) arrives.
    std::optional<SipText> waitFor(int status, int timeoutMs = 5000);
    std::optional<SipText> waitForRequest(const QByteArray& method, int timeoutMs = 5000);

    // Requests of one dialog we start.
    QByteArray invite(int toPort, const QByteArray& sdp, const QByteArray& fromUser = "0123456",
                      const QByteArray& displayName = "Mario Rossi");
    QByteArray ack(int toPort, const QByteArray& toTag);
    QByteArray bye(int toPort, const QByteArray& toTag);
    QByteArray cancel(int toPort);
    // A new offer inside the dialog (hold, resume, address change).
    QByteArray reinvite(int toPort, const QByteArray& toTag, const QByteArray& sdp);
    // An ACK carrying our answer (to a new offer of the line's).
    QByteArray ackWithAnswer(int toPort, const QByteArray& toTag, const QByteArray& sdp);
    // A response to a request the line sent us.
    void reply(const SipText& request, int status, const QByteArray& reason, int toPort,
               const QByteArray& sdp = {}, const QByteArray& extraHeaders = {});

    // An offer naming our RTP socket.
    QByteArray offer(const QByteArray& payloadTypes = "0 8", const QByteArray& maps = {},
                     const QByteArray& direction = "sendrecv") const;

    // RTP to the line; `from` another socket tests the unexpected-source rule.
    void sendRtp(int toPort, int payloadType, uint16_t seq, uint32_t ts, const QByteArray& payload,
                 QUdpSocket* from = nullptr, uint32_t ssrc = 0x1234abcdu);
    // A ready-made datagram (SRTP, RTCP) from the RTP socket.
    void sendRtpDatagram(int toPort, const QByteArray& datagram);
    // RTP datagrams the line sent us since the last call.
    QList<QByteArray> drainRtp();

    QByteArray callId;

private:
    QByteArray request(const QByteArray& method, int toPort, int cseq, const QByteArray& toTag,
                       const QByteArray& extra, const QByteArray& body, const QByteArray& branch);

    QUdpSocket socket_;
    QUdpSocket rtp_;
    QByteArray fromTag_;
    QByteArray inviteBranch_;
    QByteArray fromUser_ = "0123456";
    QByteArray displayName_;
    int cseq_ = 1;
};

// A free UDP port on 127.0.0.1 at the moment of asking.
int freeUdpPort();

}  // namespace kallomir::test
