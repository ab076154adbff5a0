#pragma once

#include "controls/sip/G711.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kallomir {

// Direction of a media stream as the author of a description states it (a=sendrecv, ...).
enum class MediaDirection { SendRecv, SendOnly, RecvOnly, Inactive };

// The part of a session description a telephone line needs: where the far end wants its
// audio and which payload formats it offers, in its order of preference.
struct SdpAudio {
    struct Format {
        int payloadType = -1;
        QString encoding;  // upper case, e.g. "PCMU"
        int clockRate = 0;
    };
    QString address;  // connection address (media level wins over session level)
    int port = 0;     // 0: the stream is refused
    std::vector<Format> formats;
    MediaDirection direction = MediaDirection::SendRecv;
};

// Reads the first audio stream of a description; nullopt when the text is not a usable
// description (no audio stream, no connection address, bad numbers).
std::optional<SdpAudio> parseSdp(const QByteArray& text, QString* problem = nullptr);

struct NegotiatedCodec {
    int payloadType = 0;
    G711Law law = G711Law::MuLaw;
};

// The codec to use: the far end's first offered format that is one of ours (names from
// "PCMU"/"PCMA"). nullopt means no common codec: the call is refused with 488.
std::optional<NegotiatedCodec> negotiateAudio(const SdpAudio& remote, const QStringList& ours);

// A description of our audio stream listing the given codecs in order (an offer), or the
// one chosen (an answer, with the far end's payload number).
QByteArray buildSdp(const QString& address, int rtpPort, const std::vector<NegotiatedCodec>& codecs,
                    MediaDirection direction, uint64_t sessionId, uint64_t version = 1);

// Our direction in the answer to an offer: we record and have nothing to say, so we receive
// what the far end sends (recvonly) and take no part in a stream it does not send (inactive).
MediaDirection answerDirection(MediaDirection offered);

// Our codec names ("PCMU", "PCMA") as an offer list; unknown names are left out.
std::vector<NegotiatedCodec> offerCodecs(const QStringList& names);

// Payload type and law of "PCMU" / "PCMA"; nullopt for any other name.
std::optional<NegotiatedCodec> g711Codec(const QString& name);

}  // namespace kallomir
