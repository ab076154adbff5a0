#pragma once

#include "controls/sip/AudioCodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kallomir {

// Direction of a media stream as the author of a description states it (a=sendrecv, ...).
enum class MediaDirection { SendRecv, SendOnly, RecvOnly, Inactive };

// One a=crypto line (RFC 4568): SRTP keys offered for the stream.
struct SdpCrypto {
    int tag = 0;
    QString suite;          // e.g. "AES_CM_128_HMAC_SHA1_80"
    QString keyParams;      // "inline:<base64>[|lifetime][|mki:len]"; the first of them
    QString sessionParams;  // anything after the key parameters
};

// The part of a session description a telephone line needs: where the far end wants its
// audio and which payload formats it offers, in its order of preference.
struct SdpAudio {
    struct Format {
        int payloadType = -1;
        QString encoding;  // upper case, e.g. "PCMU"
        int clockRate = 0;
        int channels = 1;
        QString fmtp;
    };
    // Every m= line of the description in order (an answer repeats them, refusing the ones
    // it does not take).
    struct Stream {
        QString media;  // "audio", "video", ...
        QString proto;
        QString firstFormat;
    };
    QString address;  // connection address (media level wins over session level)
    int port = 0;     // 0: the stream is refused
    QString proto;    // "RTP/AVP", "RTP/SAVP", ...
    std::vector<Format> formats;
    MediaDirection direction = MediaDirection::SendRecv;
    std::vector<SdpCrypto> crypto;
    bool rtcpMux = false;
    int rtcpPort = 0;  // from a=rtcp; 0: the RTP port + 1
    std::vector<Stream> streams;
    int audioIndex = 0;  // which of streams is this one

    bool secureProfile() const { return proto.startsWith(u"RTP/SAVP"); }
};

// Reads the first RTP audio stream of a description; nullopt when the text is not a usable
// description (no audio stream, no connection address, bad numbers).
std::optional<SdpAudio> parseSdp(const QByteArray& text, QString* problem = nullptr);

// Why audio cannot be sent to or expected from this address on a line whose own address is
// IPv6 (or not): a multicast or unspecified address, or one of the other IP family. Empty
// when the address is usable.
QString mediaAddressProblem(const QString& address, bool lineIsIpv6);

struct NegotiatedCodec {
    int payloadType = 0;
    CodecKind kind = CodecKind::Pcmu;
    bool operator==(const NegotiatedCodec&) const = default;
};

// The codec to use among the far end's formats that are ours (names from lines.ini): a
// wideband one if it offers any, in its order of preference, otherwise its first choice.
// nullopt means no common codec: the call is refused with 488.
std::optional<NegotiatedCodec> negotiateAudio(const SdpAudio& remote, const QStringList& ours);

// What our side of a session description says.
struct LocalSdp {
    QString address;
    int port = 0;
    std::vector<NegotiatedCodec> codecs;  // an offer lists ours in order; an answer the one
    MediaDirection direction = MediaDirection::RecvOnly;
    uint64_t sessionId = 0;
    uint64_t version = 1;
    bool secureProfile = false;           // RTP/SAVP instead of RTP/AVP
    std::vector<SdpCrypto> crypto;        // our keys
    bool rtcpMux = false;                 // answer: the far end offered it
    const SdpAudio* answering = nullptr;  // the offer, whose other streams are refused
};
QByteArray buildSdp(const LocalSdp& local);

// Our direction in the answer to an offer. We record and have nothing to say, so we receive
// what the far end sends (recvonly) and take no part in a stream it does not send
// (inactive); a line that sends silence says sendrecv where the far end does.
MediaDirection answerDirection(MediaDirection offered, bool sendingSilence = false);

// Our codec names ("G722", "OPUS", "PCMU", "PCMA") as an offer list, with the payload types
// they take; unknown names are left out.
std::vector<NegotiatedCodec> offerCodecs(const QStringList& names);

}  // namespace kallomir
