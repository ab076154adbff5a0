#include "PacketCapture.h"

#include <QFile>
#include <QStandardPaths>
#include <QtEndian>

#include <cmath>

namespace kallomir::test {

namespace {

constexpr quint32 kLinkEthernet = 1;
constexpr quint32 kLinkLinuxCooked = 113;

// The transport payload of one captured frame, if it is IPv4 or IPv6 UDP or TCP.
bool payloadOf(const QByteArray& frame, quint32 link, CapturedPayload& out) {
    int at = link == kLinkLinuxCooked ? 16 : 14;
    if (frame.size() < at)
        return false;
    const quint16 etherType =
        qFromBigEndian<quint16>(reinterpret_cast<const uchar*>(frame.constData()) + at - 2);
    const auto* p = reinterpret_cast<const uchar*>(frame.constData());
    int protocol = 0;
    int ipEnd = 0;
    if (etherType == 0x0800) {
        if (frame.size() < at + 20)
            return false;
        protocol = p[at + 9];
        ipEnd = at + qFromBigEndian<quint16>(p + at + 2);
        at += (p[at] & 0x0f) * 4;
    } else if (etherType == 0x86dd) {
        if (frame.size() < at + 40)
            return false;
        protocol = p[at + 6];
        ipEnd = at + 40 + qFromBigEndian<quint16>(p + at + 4);
        at += 40;
    } else {
        return false;
    }
    ipEnd = std::min<int>(ipEnd, int(frame.size()));
    if (protocol == 17 && ipEnd >= at + 8) {
        out.udp = true;
        out.sourcePort = qFromBigEndian<quint16>(p + at);
        out.destinationPort = qFromBigEndian<quint16>(p + at + 2);
        out.bytes = frame.mid(at + 8, ipEnd - at - 8);
        return true;
    }
    if (protocol == 6 && ipEnd >= at + 20) {
        out.udp = false;
        out.sourcePort = qFromBigEndian<quint16>(p + at);
        out.destinationPort = qFromBigEndian<quint16>(p + at + 2);
        const int header = (p[at + 12] >> 4) * 4;
        out.bytes = frame.mid(at + header, ipEnd - at - header);
        return true;
    }
    return false;
}

}  // namespace

bool PacketCapture::available() {
    return !QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty();
}

PacketCapture::~PacketCapture() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

bool PacketCapture::start() {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStandardPaths::findExecutable(QStringLiteral("tcpdump")),
        {"-i", "lo", "-U", "-n", "-Z", "root", "-w", dir_.filePath("cap.pcap"), "udp or tcp"});
    if (!process_.waitForStarted(5000))
        return false;
    QByteArray said;
    while (!said.contains("listening on")) {
        if (!process_.waitForReadyRead(5000))
            return false;
        said += process_.readAll();
    }
    return true;
}

std::vector<CapturedPayload> PacketCapture::stop() {
    process_.terminate();
    process_.waitForFinished(5000);
    std::vector<CapturedPayload> out;
    QFile f(dir_.filePath("cap.pcap"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray all = f.readAll();
    if (all.size() < 24)
        return out;
    const auto* p = reinterpret_cast<const uchar*>(all.constData());
    const quint32 magic = qFromLittleEndian<quint32>(p);
    const bool little = magic == 0xa1b2c3d4u || magic == 0xa1b23c4du;
    const auto u32 = [&](int at) {
        return little ? qFromLittleEndian<quint32>(p + at) : qFromBigEndian<quint32>(p + at);
    };
    const quint32 link = u32(20);
    for (int at = 24; at + 16 <= all.size();) {
        const int captured = int(u32(at + 8));
        at += 16;
        if (at + captured > all.size())
            break;
        CapturedPayload payload;
        if (payloadOf(all.mid(at, captured), link, payload) && !payload.bytes.isEmpty())
            out.push_back(payload);
        at += captured;
    }
    return out;
}

double entropyBitsPerByte(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return 0;
    double counts[256] = {};
    for (char c : bytes) counts[uchar(c)] += 1;
    double h = 0;
    for (double n : counts) {
        if (n > 0) {
            const double q = n / double(bytes.size());
            h -= q * std::log2(q);
        }
    }
    return h;
}

}  // namespace kallomir::test
