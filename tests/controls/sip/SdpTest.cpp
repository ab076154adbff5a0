#include "controls/sip/Sdp.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

const QStringList kBoth{QStringLiteral("PCMU"), QStringLiteral("PCMA")};

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
    EXPECT_EQ(codec->law, G711Law::ALaw);
    // Limited to PCMU, we skip the far end's first choice.
    const auto onlyMu = negotiateAudio(*sdp, {QStringLiteral("PCMU")});
    ASSERT_TRUE(onlyMu);
    EXPECT_EQ(onlyMu->law, G711Law::MuLaw);
}

TEST(Sdp, HasNoCodecToOfferWhenTheFarEndSpeaksNoG711OrRefusesAudio) {
    // Unsupported codec only: the caller gets 488.
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
    EXPECT_EQ(codec->law, G711Law::MuLaw);
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

TEST(Sdp, AnswersAsAStreamThatOnlyReceives) {
    // We record: we take what the far end sends and send nothing ourselves.
    EXPECT_EQ(answerDirection(MediaDirection::SendRecv), MediaDirection::RecvOnly);
    EXPECT_EQ(answerDirection(MediaDirection::SendOnly), MediaDirection::RecvOnly);
    // A far end that only listens, or holds the stream, gets a stream with no traffic.
    EXPECT_EQ(answerDirection(MediaDirection::RecvOnly), MediaDirection::Inactive);
    EXPECT_EQ(answerDirection(MediaDirection::Inactive), MediaDirection::Inactive);
}

TEST(Sdp, BuildsADescriptionThatReadsBackAsOffered) {
    const QByteArray offer = buildSdp(QStringLiteral("192.0.2.7"), 10004, offerCodecs(kBoth),
                                      MediaDirection::RecvOnly, 42);
    EXPECT_TRUE(offer.contains("c=IN IP4 192.0.2.7\r\n"));
    const auto back = parseSdp(offer);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->address, "192.0.2.7");
    EXPECT_EQ(back->port, 10004);
    EXPECT_EQ(back->direction, MediaDirection::RecvOnly);
    EXPECT_EQ(offer.count("a=recvonly"), 1);
    EXPECT_FALSE(offer.contains("sendrecv"));
    ASSERT_EQ(back->formats.size(), 2u);
    EXPECT_EQ(back->formats[0].payloadType, 0);
    EXPECT_EQ(back->formats[1].payloadType, 8);

    // An answer names the far end's number for the chosen codec.
    const QByteArray answer =
        buildSdp(QStringLiteral("192.0.2.7"), 10004, {NegotiatedCodec{96, G711Law::ALaw}},
                 MediaDirection::Inactive, 42, 2);
    EXPECT_TRUE(answer.contains("m=audio 10004 RTP/AVP 96\r\na=rtpmap:96 PCMA/8000\r\n"));
    EXPECT_EQ(parseSdp(answer)->direction, MediaDirection::Inactive);
    EXPECT_TRUE(offerCodecs({QStringLiteral("G729")}).empty());
}

}  // namespace
}  // namespace kallomir
