#include "RawSipPeer.h"

#include <QRandomGenerator>

#include <QtEndian>

namespace kallomir::test {

namespace {
QByteArray token() {
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16);
}
}  // namespace

int SipText::status() const {
    if (!startLine.startsWith("SIP/2.0 "))
        return 0;
    return startLine.mid(8, 3).toInt();
}

QByteArray SipText::method() const {
    return status() ? QByteArray() : startLine.left(startLine.indexOf(' '));
}

QByteArray SipText::toTag() const {
    const QByteArray to = header("to");
    const int at = to.indexOf(";tag=");
    if (at < 0)
        return {};
    QByteArray tag = to.mid(at + 5);
    const int semi = tag.indexOf(';');
    return semi < 0 ? tag.trimmed() : tag.left(semi).trimmed();
}

std::optional<SipText> parseSipText(const QByteArray& datagram) {
    const int split = datagram.indexOf("\r\n\r\n");
    if (split < 0)
        return std::nullopt;
    SipText t;
    const QList<QByteArray> lines = datagram.left(split).split('\n');
    t.startLine = lines.value(0).trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        if (!t.headers.contains(name))
            t.headers.insert(name, lines[i].mid(colon + 1).trimmed());
    }
    t.body = datagram.mid(split + 4);
    return t;
}

int freeUdpPort() {
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

RawSipPeer::RawSipPeer() : fromTag_(token()) {
    socket_.bind(QHostAddress::LocalHost, 0);
    rtp_.bind(QHostAddress::LocalHost, 0);
    callId = token() + "@127.0.0.1";
}

void RawSipPeer::send(const QByteArray& datagram, int toPort) {
    socket_.writeDatagram(datagram, QHostAddress::LocalHost, quint16(toPort));
}

std::optional<SipText> RawSipPeer::receive(int timeoutMs) {
    while (socket_.hasPendingDatagrams() || socket_.waitForReadyRead(timeoutMs)) {
        QByteArray data(int(socket_.pendingDatagramSize()), '\0');
        socket_.readDatagram(data.data(), data.size());
        auto msg = parseSipText(data);
        if (msg && msg->status() != 100)
            return msg;
    }
    return std::nullopt;
}

std::optional<SipText> RawSipPeer::waitFor(int status, int timeoutMs) {
    while (auto msg = receive(timeoutMs)) {
        if (msg->status() == status)
            return msg;
    }
    return std::nullopt;
}

std::optional<SipText> RawSipPeer::waitForRequest(const QByteArray& method, int timeoutMs) {
    while (auto msg = receive(timeoutMs)) {
        if (msg->method() == method)
            return msg;
    }
    return std::nullopt;
}

QByteArray RawSipPeer::request(const QByteArray& method, int toPort, int cseq,
                               const QByteArray& toTag, const QByteArray& extra,
                               const QByteArray& body, const QByteArray& branch) {
    const QByteArray ruri = "sip:rec@127.0.0.1:" + QByteArray::number(toPort);
    QByteArray m = method + ' ' + ruri + " SIP/2.0\r\n";
    m += "Via: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(port()) + ";branch=" + branch +
         ";rport\r\n";
    m += "Max-Forwards: 70\r\n";
    m += "From: ";
    if (!displayName_.isEmpty())
        m += '"' + displayName_ + "\" ";
    m += "<sip:" + fromUser_ + "@127.0.0.1:" + QByteArray::number(port()) + ">;tag=" + fromTag_ +
         "\r\n";
    m += "To: <" + ruri + '>' + (toTag.isEmpty() ? QByteArray() : ";tag=" + toTag) + "\r\n";
    m += "Call-ID: " + callId + "\r\n";
    m += "CSeq: " + QByteArray::number(cseq) + ' ' + method + "\r\n";
    m += "Contact: <sip:" + fromUser_ + "@127.0.0.1:" + QByteArray::number(port()) + ">\r\n";
    m += extra;
    if (!body.isEmpty())
        m += "Content-Type: application/sdp\r\n";
    m += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    send(m, toPort);
    return m;
}

QByteArray RawSipPeer::invite(int toPort, const QByteArray& sdp, const QByteArray& fromUser,
                              const QByteArray& displayName) {
    fromUser_ = fromUser;
    displayName_ = displayName;
    inviteBranch_ = "z9hG4bK" + token();
    return request("INVITE", toPort, cseq_, {}, {}, sdp, inviteBranch_);
}

QByteArray RawSipPeer::ack(int toPort, const QByteArray& toTag) {
    return request("ACK", toPort, cseq_, toTag, {}, {}, "z9hG4bK" + token());
}

QByteArray RawSipPeer::ackWithAnswer(int toPort, const QByteArray& toTag, const QByteArray& sdp) {
    return request("ACK", toPort, cseq_, toTag, {}, sdp, "z9hG4bK" + token());
}

QByteArray RawSipPeer::bye(int toPort, const QByteArray& toTag) {
    return request("BYE", toPort, ++cseq_, toTag, {}, {}, "z9hG4bK" + token());
}

QByteArray RawSipPeer::reinvite(int toPort, const QByteArray& toTag, const QByteArray& sdp) {
    return request("INVITE", toPort, ++cseq_, toTag, {}, sdp, "z9hG4bK" + token());
}

QByteArray RawSipPeer::cancel(int toPort) {
    return request("CANCEL", toPort, cseq_, {}, {}, {}, inviteBranch_);
}

void RawSipPeer::reply(const SipText& req, int status, const QByteArray& reason, int toPort,
                       const QByteArray& sdp, const QByteArray& extraHeaders) {
    QByteArray m = "SIP/2.0 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    m += "Via: " + req.header("via") + "\r\n";
    m += "From: " + req.header("from") + "\r\n";
    QByteArray to = req.header("to");
    if (!to.contains(";tag=") && status > 100)
        to += ";tag=" + fromTag_;
    m += "To: " + to + "\r\n";
    m += "Call-ID: " + req.header("call-id") + "\r\n";
    m += "CSeq: " + req.header("cseq") + "\r\n";
    if (req.method() != "REGISTER") {
        m += "Contact: <sip:peer@127.0.0.1:" + QByteArray::number(port()) + ">\r\n";
    }
    m += extraHeaders;
    if (!sdp.isEmpty())
        m += "Content-Type: application/sdp\r\n";
    m += "Content-Length: " + QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
    send(m, toPort);
}

QByteArray RawSipPeer::offer(const QByteArray& payloadTypes, const QByteArray& maps,
                             const QByteArray& direction) const {
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
           "m=audio " +
           QByteArray::number(rtpPort()) + " RTP/AVP " + payloadTypes + "\r\n" + maps +
           "a=" + direction + "\r\n";
}

void RawSipPeer::sendRtpDatagram(int toPort, const QByteArray& datagram) {
    rtp_.writeDatagram(datagram, QHostAddress::LocalHost, quint16(toPort));
}

void RawSipPeer::sendRtp(int toPort, int payloadType, uint16_t seq, uint32_t ts,
                         const QByteArray& payload, QUdpSocket* from, uint32_t ssrc) {
    QByteArray p(12, '\0');
    p[0] = char(0x80);
    p[1] = char(payloadType & 0x7f);
    qToBigEndian<quint16>(seq, p.data() + 2);
    qToBigEndian<quint32>(ts, p.data() + 4);
    qToBigEndian<quint32>(ssrc, p.data() + 8);
    p += payload;
    (from ? from : &rtp_)->writeDatagram(p, QHostAddress::LocalHost, quint16(toPort));
}

QList<QByteArray> RawSipPeer::drainRtp() {
    QList<QByteArray> out;
    while (rtp_.hasPendingDatagrams() || rtp_.waitForReadyRead(0)) {
        QByteArray d(int(rtp_.pendingDatagramSize()), '\0');
        rtp_.readDatagram(d.data(), d.size());
        out.append(d);
    }
    return out;
}

}  // namespace kallomir::test
