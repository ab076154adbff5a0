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

}  // namespace

MediaDirection answerDirection(MediaDirection offered) {
    return offered == MediaDirection::SendRecv || offered == MediaDirection::SendOnly
               ? MediaDirection::RecvOnly
               : MediaDirection::Inactive;
}

std::optional<NegotiatedCodec> g711Codec(const QString& name) {
    if (name.compare(u"PCMU", Qt::CaseInsensitive) == 0)
        return NegotiatedCodec{0, G711Law::MuLaw};
    if (name.compare(u"PCMA", Qt::CaseInsensitive) == 0)
        return NegotiatedCodec{8, G711Law::ALaw};
    return std::nullopt;
}

std::optional<SdpAudio> parseSdp(const QByteArray& text, QString* problem) {
    QString sessionAddress;
    std::optional<SdpAudio> audio;
    bool inAudio = false;
    bool seenAudio = false;
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
            if (seenAudio)
                continue;  // only the first audio stream is used
            const QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
            if (parts.size() < 3 || parts[0] != u"audio")
                continue;
            bool ok = false;
            const int port = parts[1].section(u'/', 0, 0).toInt(&ok);
            if (!ok || port < 0 || port > 65535) {
                setProblem(problem, QStringLiteral("bad audio port"));
                return std::nullopt;
            }
            if (!parts[2].startsWith(u"RTP/AVP"))
                continue;  // secure profiles are not ours
            audio.emplace();
            audio->port = port;
            for (qsizetype i = 3; i < parts.size(); ++i) {
                const int pt = parts[i].toInt(&ok);
                if (!ok || pt < 0 || pt > 127) {
                    setProblem(problem, QStringLiteral("bad payload type"));
                    return std::nullopt;
                }
                SdpAudio::Format f;
                f.payloadType = pt;
                // Static types need no rtpmap line.
                if (pt == 0)
                    f = {0, QStringLiteral("PCMU"), 8000};
                if (pt == 8)
                    f = {8, QStringLiteral("PCMA"), 8000};
                audio->formats.push_back(f);
            }
            inAudio = true;
            seenAudio = true;
        } else if (type == 'c') {
            const QString addr = connectionAddress(value);
            if (addr.isEmpty()) {
                setProblem(problem, QStringLiteral("bad connection address"));
                return std::nullopt;
            }
            if (inAudio) {
                audio->address = addr;
            } else if (!seenAudio) {
                sessionAddress = addr;
            }
        } else if (type == 'a') {
            const auto direction = directionOf(value);
            if (inAudio && direction) {
                audio->direction = *direction;
                mediaDirSet = true;
            } else if (!seenAudio && direction) {
                sessionDirection = *direction;
            } else if (inAudio && value.startsWith(u"rtpmap:")) {
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
                }
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
    return audio;
}

std::optional<NegotiatedCodec> negotiateAudio(const SdpAudio& remote, const QStringList& ours) {
    if (remote.port == 0)
        return std::nullopt;
    for (const SdpAudio::Format& f : remote.formats) {
        if (f.clockRate != 8000)
            continue;
        const auto codec = g711Codec(f.encoding);
        if (!codec || !ours.contains(f.encoding, Qt::CaseInsensitive))
            continue;
        // Dynamic numbers for G.711 are legal: keep the far end's number.
        return NegotiatedCodec{f.payloadType, codec->law};
    }
    return std::nullopt;
}

std::vector<NegotiatedCodec> offerCodecs(const QStringList& names) {
    std::vector<NegotiatedCodec> out;
    for (const QString& name : names) {
        if (const auto codec = g711Codec(name))
            out.push_back(*codec);
    }
    return out;
}

QByteArray buildSdp(const QString& address, int rtpPort, const std::vector<NegotiatedCodec>& codecs,
                    MediaDirection direction, uint64_t sessionId, uint64_t version) {
    const bool v6 = address.contains(u':');
    const QByteArray ip = (v6 ? "IP6 " : "IP4 ") + address.toLatin1();
    QByteArray pts;
    QByteArray maps;
    for (const NegotiatedCodec& codec : codecs) {
        const QByteArray pt = QByteArray::number(codec.payloadType);
        pts += ' ' + pt;
        maps += "a=rtpmap:" + pt + (codec.law == G711Law::MuLaw ? " PCMU" : " PCMA") + "/8000\r\n";
    }
    QByteArray out;
    out += "v=0\r\n";
    out += "o=- " + QByteArray::number(sessionId) + ' ' + QByteArray::number(version) + " IN " +
           ip + "\r\n";
    out += "s=-\r\n";
    out += "c=IN " + ip + "\r\n";
    out += "t=0 0\r\n";
    out += "m=audio " + QByteArray::number(rtpPort) + " RTP/AVP" + pts + "\r\n";
    out += maps;
    out += "a=ptime:20\r\n";
    out += attributeOf(direction);
    return out;
}

}  // namespace kallomir
