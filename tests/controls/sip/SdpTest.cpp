#include "controls/sip/Sdp.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

const QStringList kBoth{QStringLiteral("PCMU"), QStringLiteral("PCMA")};
const QStringList kAll{QStringLiteral("G722"), QStringLiteral("OPUS"), QStringLiteral("PCMU"),
                       QStringLiteral("PCMA")};

// An offer as a softphone sends it: session-level address, dynamic telephone-event.
const QByteArray kOffer =
    "v=0\r\n"
    "o=- 1234 5678 IN IP4 127.0.0.1\r\n"
    "s=-\r\n"
    "c=IN IP4 127.0.0.1\r\n"
    "t=0 0\r\n"
    "m=audio 10010 RTP/AVP 8 0 101\r\n"
    "b=AS:80\r\n"
    "a=rtpmap:8 PCMA/8000\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=fmtp:101 0-15\r\n"
    "a=sendrecv\r\n";

TEST(Sdp, ReadsTheAudioStreamOfAnOfferAndKeepsItsPreferenceOrder) {
    const auto sdp = parseSdp(kOffer);
    ASSERT_TRUE(sdp);
    EXPECT_EQ(sdp->address, "127.0.0.1");
    EXPECT_EQ(sdp->port, 10010);
    ASSERT_EQ(sdp->formats.size(), 3u);
    EXPECT_EQ(sdp->formats[0].encoding, "PCMA");
    EXPECT_EQ(sdp->formats[2].encoding, "TELEPHONE-EVENT");
    EXPECT_EQ(sdp->direction, MediaDirection::SendRecv);

    const auto codec = negotiateAudio(*sdp, kBoth);
    ASSERT_TRUE(codec);
    EXPECT_EQ(codec->payloadType, 8);
    EXPECT_EQ(codec->kind, CodecKind::Pcma);
    // Limited to PCMU, we skip the far end's first choice.
    const auto onlyMu = negotiateAudio(*sdp, {QStringLiteral("PCMU")});
    ASSERT_TRUE(onlyMu);
    EXPECT_EQ(onlyMu->kind, CodecKind::Pcmu);
}

TEST(Sdp, HasNoCodecToOfferWhenTheFarEndSpeaksNoneOfOursOrRefusesAudio) {
    // Unsupported codec only: the caller gets 488.
    const auto g729 = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 18\r\na=rtpmap:18 G729/8000\r\n");
    ASSERT_TRUE(g729);
    EXPECT_FALSE(negotiateAudio(*g729, kAll));
    // Opus the line was not configured for.
    const auto opus = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 96\r\na=rtpmap:96 opus/48000/2\r\n");
    ASSERT_TRUE(opus);
    EXPECT_FALSE(negotiateAudio(*opus, kBoth));
    // PCMU under a dynamic number at the wrong rate is not G.711.
    const auto wideband = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 97\r\na=rtpmap:97 PCMU/16000\r\n");
    ASSERT_TRUE(wideband);
    EXPECT_FALSE(negotiateAudio(*wideband, kBoth));
    // Port 0 refuses the stream.
    const auto refused = parseSdp("v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 0 RTP/AVP 0\r\n");
    ASSERT_TRUE(refused);
    EXPECT_FALSE(negotiateAudio(*refused, kBoth));
}

TEST(Sdp, AcceptsDynamicG711AndMediaLevelAddressAndDirection) {
    const auto sdp = parseSdp(
        "v=0\nc=IN IP4 10.0.0.1\na=recvonly\nm=video 5000 RTP/AVP 31\nm=audio 4002 RTP/AVP 96\n"
        "c=IN IP4 10.0.0.2\na=rtpmap:96 pcmu/8000\na=sendonly\n");
    ASSERT_TRUE(sdp);
    EXPECT_EQ(sdp->address, "10.0.0.2");
    EXPECT_EQ(sdp->port, 4002);
    EXPECT_EQ(sdp->direction, MediaDirection::SendOnly);  // the stream's own, not the session's
    const auto codec = negotiateAudio(*sdp, kBoth);
    ASSERT_TRUE(codec);
    EXPECT_EQ(codec->payloadType, 96);
    EXPECT_EQ(codec->kind, CodecKind::Pcmu);
}

TEST(Sdp, RejectsMalformedDescriptions) {
    QString problem;
    EXPECT_FALSE(parseSdp("", &problem));
    EXPECT_EQ(problem, "no audio stream");
    EXPECT_FALSE(parseSdp("v=0\r\nm=audio 4000 RTP/AVP 0\r\n", &problem));
    EXPECT_EQ(problem, "no connection address");
    EXPECT_FALSE(parseSdp("v=0\r\nc=IN IP4 999.1.1.1\r\nm=audio 4000 RTP/AVP 0\r\n", &problem));
    EXPECT_FALSE(parseSdp("v=0\r\nc=IN IP4 1.1.1.1\r\nm=audio 70000 RTP/AVP 0\r\n", &problem));
    EXPECT_FALSE(parseSdp("v=0\r\nc=IN IP4 1.1.1.1\r\nm=audio 4000 RTP/AVP 0 x\r\n", &problem));
    EXPECT_FALSE(parseSdp("v=0\r\ngarbage\r\n", &problem));
    EXPECT_FALSE(parseSdp("v=0\r\nc=IN IP4 1.1.1.1\r\nm=audio", &problem));  // cut short
}

TEST(Sdp, ReadsEachDirectionAtSessionOrStreamLevel) {
    const QByteArray head = "v=0\r\nc=IN IP4 10.0.0.1\r\n";
    const QByteArray media = "m=audio 4000 RTP/AVP 0\r\n";
    const std::pair<QByteArray, MediaDirection> cases[] = {
        {"sendrecv", MediaDirection::SendRecv},
        {"sendonly", MediaDirection::SendOnly},
        {"recvonly", MediaDirection::RecvOnly},
        {"inactive", MediaDirection::Inactive},
    };
    for (const auto& [name, direction] : cases) {
        const auto atSession = parseSdp(head + "a=" + name + "\r\n" + media);
        ASSERT_TRUE(atSession) << name.constData();
        EXPECT_EQ(atSession->direction, direction) << name.constData();
        const auto atStream = parseSdp(head + media + "a=" + name + "\r\n");
        ASSERT_TRUE(atStream) << name.constData();
        EXPECT_EQ(atStream->direction, direction) << name.constData();
    }
}

TEST(Sdp, AnswersAsAStreamThatOnlyReceivesUnlessItSendsSilence) {
    // We record: we take what the far end sends and send nothing ourselves.
    EXPECT_EQ(answerDirection(MediaDirection::SendRecv), MediaDirection::RecvOnly);
    EXPECT_EQ(answerDirection(MediaDirection::SendOnly), MediaDirection::RecvOnly);
    // A far end that only listens, or holds the stream, gets a stream with no traffic.
    EXPECT_EQ(answerDirection(MediaDirection::RecvOnly), MediaDirection::Inactive);
    EXPECT_EQ(answerDirection(MediaDirection::Inactive), MediaDirection::Inactive);
    // Sending silence makes a two-way stream of a two-way offer, and only of that.
    EXPECT_EQ(answerDirection(MediaDirection::SendRecv, true), MediaDirection::SendRecv);
    EXPECT_EQ(answerDirection(MediaDirection::SendOnly, true), MediaDirection::RecvOnly);
    EXPECT_EQ(answerDirection(MediaDirection::RecvOnly, true), MediaDirection::Inactive);
}

TEST(Sdp, BuildsADescriptionThatReadsBackAsOffered) {
    LocalSdp local;
    local.address = QStringLiteral("192.0.2.7");
    local.port = 10004;
    local.codecs = offerCodecs(kAll);
    local.sessionId = 42;
    const QByteArray offer = buildSdp(local);
    EXPECT_TRUE(offer.contains("c=IN IP4 192.0.2.7\r\n"));
    EXPECT_TRUE(offer.contains("m=audio 10004 RTP/AVP 9 96 0 8\r\n")) << offer.constData();
    EXPECT_TRUE(offer.contains("a=rtpmap:9 G722/8000\r\n"));
    EXPECT_TRUE(offer.contains("a=rtpmap:96 opus/48000/2\r\n"));
    EXPECT_TRUE(offer.contains("a=fmtp:96 maxplaybackrate=16000"));
    const auto back = parseSdp(offer);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->address, "192.0.2.7");
    EXPECT_EQ(back->port, 10004);
    EXPECT_EQ(back->direction, MediaDirection::RecvOnly);
    EXPECT_EQ(offer.count("a=recvonly"), 1);
    EXPECT_FALSE(offer.contains("sendrecv"));
    // Read back, our own offer picks the wideband codec.
    EXPECT_EQ(negotiateAudio(*back, kAll), (NegotiatedCodec{9, CodecKind::G722}));
    EXPECT_TRUE(offerCodecs({QStringLiteral("G729")}).empty());
}

TEST(Sdp, AnAnswerRepeatsEveryOfferedStreamAndRefusesTheOnesItDoesNotTake) {
    const auto offer = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=video 5000 RTP/AVP 31\r\n"
        "m=audio 4000 RTP/SAVP 0\r\na=crypto:7 AES_CM_128_HMAC_SHA1_80 "
        "inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd\r\na=rtcp-mux\r\n"
        "m=audio 4100 RTP/AVP 0\r\n");
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->port, 4000);  // the first RTP audio stream
    EXPECT_TRUE(offer->secureProfile());
    EXPECT_TRUE(offer->rtcpMux);
    ASSERT_EQ(offer->crypto.size(), 1u);
    EXPECT_EQ(offer->crypto[0].tag, 7);
    ASSERT_EQ(offer->streams.size(), 3u);

    LocalSdp local;
    local.address = QStringLiteral("192.0.2.7");
    local.port = 10004;
    local.codecs = {NegotiatedCodec{0, CodecKind::Pcmu}};
    local.direction = MediaDirection::Inactive;
    local.secureProfile = true;
    local.rtcpMux = true;
    local.crypto = {
        SdpCrypto{7, QStringLiteral("AES_CM_128_HMAC_SHA1_80"), QStringLiteral("inline:QUJD"), {}}};
    local.answering = &*offer;
    const QByteArray answer = buildSdp(local);
    const QList<QByteArray> lines = answer.split('\n');
    QList<QByteArray> media;
    for (const QByteArray& l : lines) {
        if (l.startsWith("m="))
            media << l.trimmed();
    }
    EXPECT_EQ(media, (QList<QByteArray>{"m=video 0 RTP/AVP 31", "m=audio 10004 RTP/SAVP 0",
                                        "m=audio 0 RTP/AVP 0"}));
    EXPECT_TRUE(answer.contains("a=crypto:7 AES_CM_128_HMAC_SHA1_80 inline:QUJD\r\n"));
    EXPECT_TRUE(answer.contains("a=rtcp-mux\r\n"));
    EXPECT_EQ(parseSdp(answer)->direction, MediaDirection::Inactive);
}

TEST(Sdp, PrefersAWidebandCodecOverTheCallersNarrowbandFirstChoice) {
    const auto sdp = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 0 8 111 9\r\n"
        "a=rtpmap:111 OPUS/48000/2\r\na=fmtp:111 useinbandfec=1\r\n");
    ASSERT_TRUE(sdp);
    EXPECT_EQ(sdp->formats[2].channels, 2);
    EXPECT_EQ(sdp->formats[2].fmtp, "useinbandfec=1");
    EXPECT_EQ(sdp->formats[3].encoding, "G722");  // static: no rtpmap needed
    // The caller's first wideband codec wins over its narrowband ones...
    EXPECT_EQ(negotiateAudio(*sdp, kAll), (NegotiatedCodec{111, CodecKind::Opus}));
    EXPECT_EQ(negotiateAudio(*sdp, {QStringLiteral("PCMA"), QStringLiteral("G722")}),
              (NegotiatedCodec{9, CodecKind::G722}));
    // ...and without one its first choice decides.
    EXPECT_EQ(negotiateAudio(*sdp, kBoth), (NegotiatedCodec{0, CodecKind::Pcmu}));
    // Opus must say 48 kHz, G.722 8 kHz (its RTP clock), or it is something else.
    const auto odd = parseSdp(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 111 97\r\n"
        "a=rtpmap:111 opus/16000\r\na=rtpmap:97 G722/16000\r\n");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(negotiateAudio(*odd, kAll));
}

TEST(Sdp, TellsWhichMediaAddressesCannotBeUsed) {
    const struct {
        const char* address;
        bool lineIsIpv6;
        const char* problem;  // part of the text, empty for none
    } cases[] = {
        {"192.0.2.1", false, ""},
        {"2001:db8::1", true, ""},
        {"224.0.0.5", false, "multicast"},
        {"ff02::1", true, "multicast"},
        {"0.0.0.0", false, "unspecified"},
        {"::", true, "unspecified"},
        {"2001:db8::1", false, "IPv6, the line IPv4"},
        {"192.0.2.1", true, "IPv4, the line IPv6"},
    };
    for (const auto& c : cases) {
        const QString problem = mediaAddressProblem(QString::fromLatin1(c.address), c.lineIsIpv6);
        if (*c.problem) {
            EXPECT_TRUE(problem.contains(QLatin1String(c.problem)))
                << c.address << " " << problem.toStdString();
        } else {
            EXPECT_TRUE(problem.isEmpty()) << c.address << " " << problem.toStdString();
        }
    }
}

}  // namespace
}  // namespace kallomir
