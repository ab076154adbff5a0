#include "controls/sip/Srtp.h"

#include "controls/sip/Rtcp.h"
#include "controls/sip/Rtp.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

const QString kSuite80 = QStringLiteral("AES_CM_128_HMAC_SHA1_80");
// 30 bytes 0..29, base64.
const QString kKey30 = QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd");

SdpCrypto line(const QString& suite, const QString& keyParams, const QString& session = {}) {
    return SdpCrypto{1, suite, keyParams, session};
}

TEST(Srtp, TakesOnlyKeysLibreCanUse) {
    const struct {
        SdpCrypto crypto;
        bool usable;
    } cases[] = {
        {line(kSuite80, "inline:" + kKey30), true},
        {line(kSuite80, "inline:" + kKey30 + "|2^20"), true},       // a lifetime is fine
        {line(kSuite80, "inline:" + kKey30 + "|2^20|1:4"), false},  // MKI: not in libre
        {line(kSuite80, "inline:" + kKey30, "UNENCRYPTED_SRTCP"), true},
        {line(kSuite80, "inline:" + kKey30, "UNENCRYPTED_SRTP"), false},
        {line(kSuite80, "inline:" + kKey30, "KDR=10"), false},
        {line(kSuite80, "inline:AAEC"), false},             // too short
        {line(kSuite80, "inline:" + kKey30 + "!"), false},  // not base64
        {line(QStringLiteral("AES_CM_128_HMAC_SHA1_32"), "inline:" + kKey30), true},
        {line(QStringLiteral("AES_256_CM_HMAC_SHA1_80"), "inline:" + kKey30), false},  // 46 bytes
        {line(QStringLiteral("F8_128_HMAC_SHA1_80"), "inline:" + kKey30), false},
        {line(kSuite80, "uri:https://keys.example/1"), false},
    };
    for (const auto& c : cases) {
        const auto key = keyOfCrypto(c.crypto);
        EXPECT_EQ(key.has_value(), c.usable)
            << c.crypto.suite.toStdString() << " " << c.crypto.keyParams.toStdString() << " "
            << c.crypto.sessionParams.toStdString();
        if (key) {
            EXPECT_EQ(key->keySalt.size(), 30);
            EXPECT_EQ(uint8_t(key->keySalt[29]), 29);
        }
    }
    EXPECT_TRUE(
        keyOfCrypto(line(kSuite80, "inline:" + kKey30, "UNENCRYPTED_SRTCP"))->unencryptedSrtcp);
    // The first usable line of an offer wins.
    const auto chosen = chooseCrypto(
        {SdpCrypto{1, QStringLiteral("F8_128_HMAC_SHA1_80"), "inline:" + kKey30, {}},
         SdpCrypto{2, kSuite80, "inline:" + kKey30, {}},
         SdpCrypto{3, QStringLiteral("AES_CM_128_HMAC_SHA1_32"), "inline:" + kKey30, {}}});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->line.tag, 2);
}

TEST(Srtp, OurKeyTravelsInItsLineAndProtectsAStreamTheFarEndCanRead) {
    const SrtpKey ours = makeSrtpKey(kSuite80);
    EXPECT_EQ(ours.keySalt.size(), 30);
    EXPECT_NE(ours.keySalt, makeSrtpKey(kSuite80).keySalt);
    const SdpCrypto sent = cryptoLine(5, ours);
    EXPECT_EQ(sent.tag, 5);
    const auto theirView = keyOfCrypto(sent);
    ASSERT_TRUE(theirView);
    EXPECT_EQ(theirView->keySalt, ours.keySalt);

    auto sender = SrtpContext::make(ours);
    auto receiver = SrtpContext::make(*theirView);
    ASSERT_TRUE(sender && receiver);
    const auto header = rtpHeader(0, 1000, 160000, 0x1234);
    std::vector<uint8_t> packet(header.begin(), header.end());
    for (int i = 0; i < 160; ++i) packet.push_back(uint8_t(i));
    const std::vector<uint8_t> plain = packet;
    ASSERT_EQ(sender->protectRtp(packet), 0);
    EXPECT_EQ(packet.size(), plain.size() + 10);
    EXPECT_NE(std::vector<uint8_t>(packet.begin() + 12, packet.begin() + 172),
              std::vector<uint8_t>(plain.begin() + 12, plain.end()));
    std::vector<uint8_t> copy = packet;
    std::span<uint8_t> view(copy);
    ASSERT_EQ(receiver->unprotectRtp(view), 0);
    EXPECT_EQ(std::vector<uint8_t>(view.begin(), view.end()), plain);
    // The same packet again is a replay; a changed one is forged.
    copy = packet;
    view = std::span<uint8_t>(copy);
    EXPECT_NE(receiver->unprotectRtp(view), 0);
    std::vector<uint8_t> forged = packet;
    forged[2] ^= 1;
    forged[30] ^= 0x40;
    view = std::span<uint8_t>(forged);
    EXPECT_NE(receiver->unprotectRtp(view), 0);

    // RTCP too.
    std::vector<uint8_t> report = buildRtcp(0x1234, std::nullopt, std::nullopt, "rec@x", true);
    const std::vector<uint8_t> plainReport = report;
    ASSERT_EQ(sender->protectRtcp(report), 0);
    EXPECT_EQ(report.size(), plainReport.size() + 4 + 10);  // index and tag
    view = std::span<uint8_t>(report);
    ASSERT_EQ(receiver->unprotectRtcp(view), 0);
    EXPECT_EQ(std::vector<uint8_t>(view.begin(), view.end()), plainReport);
}

TEST(Srtp, AContextStartedAgainTakesStreamsItHadNoRoomFor) {
    const SrtpKey key = makeSrtpKey(kSuite80);
    auto sender = SrtpContext::make(key);
    auto receiver = SrtpContext::make(key);
    // libre tracks a few streams per context; forged SSRCs can use them all up.
    for (uint32_t ssrc = 1; ssrc <= 12; ++ssrc) {
        const auto h = rtpHeader(0, 1, 0, ssrc);
        std::vector<uint8_t> junk(h.begin(), h.end());
        junk.resize(40, 0x55);
        std::span<uint8_t> view(junk);
        EXPECT_NE(receiver->unprotectRtp(view), 0);
    }
    const auto h = rtpHeader(0, 7, 0, 0xbeef);
    std::vector<uint8_t> packet(h.begin(), h.end());
    packet.resize(172, 1);
    ASSERT_EQ(sender->protectRtp(packet), 0);
    std::vector<uint8_t> copy = packet;
    std::span<uint8_t> view(copy);
    EXPECT_NE(receiver->unprotectRtp(view), 0);
    receiver->restart();
    copy = packet;
    view = std::span<uint8_t>(copy);
    EXPECT_EQ(receiver->unprotectRtp(view), 0);
}

}  // namespace
}  // namespace kallomir
