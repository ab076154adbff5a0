#include "controls/sip/Sdp.h"

#include <QHostAddress>

namespace kallomir {

namespace {

bool setProblem(QString* problem, const QString& text) {
    if (problem)
        *problem = text;
    return false;
}

// "IN IP4 192.0.2.1" -> "192.0.2.1"; empty when malformed.
QString connectionAddress(const QString& value) {
    const QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() < 3 || parts[0] != u"IN")
        return {};
    QString addr = parts[2];
    const qsizetype slash = addr.indexOf(u'/');  // multicast TTL suffix
    if (slash >= 0)
        addr.truncate(slash);
    return QHostAddress(addr).isNull() ? QString() : addr;
}

std::optional<MediaDirection> directionOf(const QString& attribute) {
    if (attribute == u"sendrecv")
        return MediaDirection::SendRecv;
    if (attribute == u"sendonly")
        return MediaDirection::SendOnly;
    if (attribute == u"recvonly")
        return MediaDirection::RecvOnly;
    if (attribute == u"inactive")
        return MediaDirection::Inactive;
    return std::nullopt;
}

const char* attributeOf(MediaDirection direction) {
    switch (direction) {
        case MediaDirection::SendRecv:
            return "a=sendrecv\r\n";
        case MediaDirection::SendOnly:
            return "a=sendonly\r\n";
        case MediaDirection::RecvOnly:
            return "a=recvonly\r\n";
        case MediaDirection::Inactive:
            break;
    }
    return "a=inactive\r\n";
}

bool rtpProfile(const QString& proto) {
    return proto == u"RTP/AVP" || proto == u"RTP/AVPF" || proto == u"RTP/SAVP" ||
           proto == u"RTP/SAVPF";
}

// a=crypto:<tag> <suite> <key-params> [<session-params>]
std::optional<SdpCrypto> parseCrypto(const QString& value) {
    const QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() < 3)
        return std::nullopt;
    bool ok = false;
    SdpCrypto c;
    c.tag = parts[0].toInt(&ok);
    if (!ok || c.tag < 0 || c.tag > 999999999)
        return std::nullopt;
    c.suite = parts[1];
    c.keyParams = parts[2].section(u';', 0, 0);  // several keys: the first one
    c.sessionParams = parts.mid(3).join(u' ');
    return c;
}

SdpAudio::Format staticFormat(int pt) {
    for (CodecKind kind : {CodecKind::Pcmu, CodecKind::Pcma, CodecKind::G722}) {
        const CodecInfo& info = codecInfo(kind);
        if (info.staticPayloadType == pt)
            return {pt, QString::fromLatin1(info.name).toUpper(), info.clockRate, 1, {}};
    }
    return {pt, {}, 0, 1, {}};
}

}  // namespace

MediaDirection answerDirection(MediaDirection offered, bool sendingSilence) {
    switch (offered) {
        case MediaDirection::SendRecv:
            return sendingSilence ? MediaDirection::SendRecv : MediaDirection::RecvOnly;
        case MediaDirection::SendOnly:
            return MediaDirection::RecvOnly;
        case MediaDirection::RecvOnly:
        case MediaDirection::Inactive:
            break;
    }
    return MediaDirection::Inactive;
}

std::optional<SdpAudio> parseSdp(const QByteArray& text, QString* problem) {
    QString sessionAddress;
    std::optional<SdpAudio> audio;
    std::vector<SdpAudio::Stream> streams;
    bool inAudio = false;
    MediaDirection sessionDirection = MediaDirection::SendRecv;
    bool mediaDirSet = false;

    const QList<QByteArray> lines = text.split('\n');
    for (QByteArray raw : lines) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.isEmpty())
            continue;
        if (raw.size() < 2 || raw[1] != '=') {
            setProblem(problem, QStringLiteral("malformed line"));
            return std::nullopt;
        }
        const char type = raw[0];
        const QString value = QString::fromUtf8(raw.mid(2)).trimmed();
        if (type == 'm') {
            inAudio = false;
            const QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
            if (parts.size() < 3) {
                setProblem(problem, QStringLiteral("malformed media line"));
                return std::nullopt;
            }
            streams.push_back({parts[0], parts[2], parts.value(3, QStringLiteral("0"))});
            if (audio || parts[0] != u"audio" || !rtpProfile(parts[2]))
                continue;  // only the first RTP audio stream is used
            bool ok = false;
            const int port = parts[1].section(u'/', 0, 0).toInt(&ok);
            if (!ok || port < 0 || port > 65535) {
                setProblem(problem, QStringLiteral("bad audio port"));
                return std::nullopt;
            }
            audio.emplace();
            audio->port = port;
            audio->proto = parts[2];
            audio->audioIndex = int(streams.size()) - 1;
            for (qsizetype i = 3; i < parts.size(); ++i) {
                const int pt = parts[i].toInt(&ok);
                if (!ok || pt < 0 || pt > 127) {
                    setProblem(problem, QStringLiteral("bad payload type"));
                    return std::nullopt;
                }
                audio->formats.push_back(staticFormat(pt));  // static types need no rtpmap
            }
            inAudio = true;
        } else if (type == 'c') {
            const QString addr = connectionAddress(value);
            if (addr.isEmpty()) {
                setProblem(problem, QStringLiteral("bad connection address"));
                return std::nullopt;
            }
            if (inAudio) {
                audio->address = addr;
            } else if (streams.empty()) {
                sessionAddress = addr;
            }
        } else if (type == 'a') {
            const auto direction = directionOf(value);
            if (inAudio && direction) {
                audio->direction = *direction;
                mediaDirSet = true;
            } else if (streams.empty() && direction) {
                sessionDirection = *direction;
            } else if (!inAudio) {
                continue;
            } else if (value.startsWith(u"rtpmap:")) {
                // a=rtpmap:<pt> <name>/<rate>[/<channels>]
                const QString rest = value.mid(7);
                bool ok = false;
                const int pt = rest.section(u' ', 0, 0).toInt(&ok);
                const QString enc = rest.section(u' ', 1, 1);
                if (!ok)
                    continue;
                for (SdpAudio::Format& f : audio->formats) {
                    if (f.payloadType != pt)
                        continue;
                    f.encoding = enc.section(u'/', 0, 0).toUpper();
                    f.clockRate = enc.section(u'/', 1, 1).toInt();
                    const int channels = enc.section(u'/', 2, 2).toInt(&ok);
                    f.channels = ok ? channels : 1;
                }
            } else if (value.startsWith(u"fmtp:")) {
                bool ok = false;
                const int pt = value.mid(5).section(u' ', 0, 0).toInt(&ok);
                for (SdpAudio::Format& f : audio->formats) {
                    if (ok && f.payloadType == pt)
                        f.fmtp = value.mid(5).section(u' ', 1);
                }
            } else if (value.startsWith(u"crypto:")) {
                if (const auto c = parseCrypto(value.mid(7)))
                    audio->crypto.push_back(*c);
            } else if (value == u"rtcp-mux") {
                audio->rtcpMux = true;
            } else if (value.startsWith(u"rtcp:")) {
                bool ok = false;
                const int port = value.mid(5).section(u' ', 0, 0).toInt(&ok);
                if (ok && port > 0 && port <= 65535)
                    audio->rtcpPort = port;
            }
        }
    }
    if (!audio) {
        setProblem(problem, QStringLiteral("no audio stream"));
        return std::nullopt;
    }
    if (audio->address.isEmpty())
        audio->address = sessionAddress;
    if (audio->address.isEmpty()) {
        setProblem(problem, QStringLiteral("no connection address"));
        return std::nullopt;
    }
    if (!mediaDirSet)
        audio->direction = sessionDirection;
    audio->streams = std::move(streams);
    return audio;
}

QString mediaAddressProblem(const QString& address, bool lineIsIpv6) {
    const QHostAddress a(address);
    if (a.isNull())
        return QStringLiteral("bad media address %1").arg(address);
    if (a.isMulticast())
        return QStringLiteral("multicast media address %1").arg(address);
    if (a == QHostAddress::AnyIPv4 || a == QHostAddress::AnyIPv6)
        return QStringLiteral("unspecified media address %1").arg(address);
    const bool v6 = a.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6 != lineIsIpv6) {
        return QStringLiteral("media address %1 is IPv%2, the line IPv%3")
            .arg(address)
            .arg(v6 ? 6 : 4)
            .arg(lineIsIpv6 ? 6 : 4);
    }
    return {};
}

std::optional<NegotiatedCodec> negotiateAudio(const SdpAudio& remote, const QStringList& ours) {
    if (remote.port == 0)
        return std::nullopt;
    std::optional<NegotiatedCodec> narrow;
    for (const SdpAudio::Format& f : remote.formats) {
        const auto kind = codecByName(f.encoding);
        if (!kind || !ours.contains(f.encoding, Qt::CaseInsensitive))
            continue;
        // The numbers must be the codec's own: PCMU at 16 kHz is not G.711.
        const CodecInfo& info = codecInfo(*kind);
        if (f.clockRate != info.clockRate)
            continue;
        // Dynamic numbers for static codecs are legal: keep the far end's number.
        const NegotiatedCodec codec{f.payloadType, *kind};
        if (isWideband(*kind))
            return codec;
        if (!narrow)
            narrow = codec;
    }
    return narrow;
}

std::vector<NegotiatedCodec> offerCodecs(const QStringList& names) {
    std::vector<NegotiatedCodec> out;
    int dynamic = 96;
    for (const QString& name : names) {
        const auto kind = codecByName(name);
        if (!kind)
            continue;
        const int pt = codecInfo(*kind).staticPayloadType;
        out.push_back({pt >= 0 ? pt : dynamic++, *kind});
    }
    return out;
}

QByteArray buildSdp(const LocalSdp& local) {
    const bool v6 = local.address.contains(u':');
    const QByteArray ip = (v6 ? "IP6 " : "IP4 ") + local.address.toLatin1();
    QByteArray pts;
    QByteArray attributes;
    for (const NegotiatedCodec& codec : local.codecs) {
        const CodecInfo& info = codecInfo(codec.kind);
        const QByteArray pt = QByteArray::number(codec.payloadType);
        pts += ' ' + pt;
        attributes += "a=rtpmap:" + pt + ' ' + info.name + '/' +
                      QByteArray::number(info.clockRate) +
                      (info.sdpChannels ? '/' + QByteArray::number(info.sdpChannels) : "") + "\r\n";
        if (codec.kind == CodecKind::Opus) {
            // We record mono wideband: nothing above that is worth the far end's bits.
            attributes += "a=fmtp:" + pt + " maxplaybackrate=16000;sprop-maxcapturerate=16000;" +
                          "stereo=0;sprop-stereo=0;useinbandfec=1\r\n";
        }
    }
    const QByteArray proto = local.secureProfile ? "RTP/SAVP" : "RTP/AVP";
    QByteArray out;
    out += "v=0\r\n";
    out += "o=- " + QByteArray::number(local.sessionId) + ' ' + QByteArray::number(local.version) +
           " IN " + ip + "\r\n";
    out += "s=-\r\n";
    out += "c=IN " + ip + "\r\n";
    out += "t=0 0\r\n";
    const auto audioLine = [&] {
        QByteArray m = "m=audio " + QByteArray::number(local.port) + ' ' + proto + pts + "\r\n";
        m += attributes;
        m += "a=ptime:20\r\n";
        if (local.rtcpMux)
            m += "a=rtcp-mux\r\n";
        for (const SdpCrypto& c : local.crypto) {
            m += "a=crypto:" + QByteArray::number(c.tag) + ' ' + c.suite.toLatin1() + ' ' +
                 c.keyParams.toLatin1() + "\r\n";
        }
        m += attributeOf(local.direction);
        return m;
    };
    if (!local.answering) {
        out += audioLine();
        return out;
    }
    // An answer has one m= line per offered one, in order; those we do not take get port 0.
    const auto& streams = local.answering->streams;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (int(i) == local.answering->audioIndex) {
            out += audioLine();
        } else {
            out += "m=" + streams[i].media.toLatin1() + " 0 " + streams[i].proto.toLatin1() + ' ' +
                   streams[i].firstFormat.toLatin1() + "\r\n";
        }
    }
    return out;
}

}  // namespace kallomir
