#include "controls/sip/AudioCodec.h"

#include "AudioChecks.h"
#include "controls/sip/G711.h"

#include <gtest/gtest.h>

#include <opus.h>

extern "C" {
#include <spandsp/telephony.h>

#include <spandsp/g722.h>
}

#include <algorithm>
#include <cstdlib>

namespace kallomir {
namespace {

using test::bestCorrelation;
using test::chirp;

// Encodes 16 kHz audio as G.722 packets of 20 ms, as a far end sends them.
std::vector<std::vector<uint8_t>> g722Packets(const std::vector<int16_t>& pcm16k) {
    g722_encode_state_t* enc = g722_encode_init(nullptr, 64000, 0);
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; at + 320 <= pcm16k.size(); at += 320) {
        std::vector<uint8_t> packet(160);
        g722_encode(enc, packet.data(), pcm16k.data() + at, 320);
        out.push_back(packet);
    }
    g722_encode_free(enc);
    return out;
}

std::vector<std::vector<uint8_t>> opusPackets(const std::vector<int16_t>& pcm16k) {
    int err = 0;
    OpusEncoder* enc = opus_encoder_create(16000, 1, OPUS_APPLICATION_VOIP, &err);
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(32000));
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; at + 320 <= pcm16k.size(); at += 320) {
        std::vector<uint8_t> packet(400);
        const int n = opus_encode(enc, pcm16k.data() + at, 320, packet.data(), 400);
        packet.resize(size_t(std::max(n, 0)));
        out.push_back(packet);
    }
    opus_encoder_destroy(enc);
    return out;
}

std::vector<int16_t> decodeAll(CodecKind kind, int rate,
                               const std::vector<std::vector<uint8_t>>& packets) {
    auto decoder = makeDecoder(kind, rate);
    EXPECT_TRUE(decoder);
    std::vector<int16_t> out;
    for (const auto& p : packets) EXPECT_TRUE(decoder->decode(p, out));
    return out;
}

TEST(AudioCodec, NamesRatesAndPayloadTypesAreTheRtpOnes) {
    const struct {
        const char* name;
        CodecKind kind;
        int clock, audio, pt;
    } cases[] = {
        {"pcmu", CodecKind::Pcmu, 8000, 8000, 0},
        {"PCMA", CodecKind::Pcma, 8000, 8000, 8},
        {"g722", CodecKind::G722, 8000, 16000, 9},  // RFC 3551's historic 8 kHz clock
        {"OPUS", CodecKind::Opus, 48000, 16000, -1},
    };
    for (const auto& c : cases) {
        const auto kind = codecByName(QString::fromLatin1(c.name));
        ASSERT_TRUE(kind) << c.name;
        EXPECT_EQ(*kind, c.kind);
        EXPECT_EQ(codecInfo(c.kind).clockRate, c.clock) << c.name;
        EXPECT_EQ(codecInfo(c.kind).audioRate, c.audio) << c.name;
        EXPECT_EQ(codecInfo(c.kind).staticPayloadType, c.pt) << c.name;
    }
    EXPECT_FALSE(codecByName(QStringLiteral("G729")));
}

TEST(AudioCodec, G722DecodesToWidebandAudioOrHalvesItForANarrowbandCall) {
    const auto sent = chirp(16000, 16000, 200, 7000);
    const auto packets = g722Packets(sent);
    const auto wide = decodeAll(CodecKind::G722, 16000, packets);
    ASSERT_EQ(wide.size(), sent.size());
    EXPECT_GT(bestCorrelation(sent, wide, 40), 0.95);
    // Energy up to 7 kHz survives: this is what a wideband recording is for.
    EXPECT_GT(test::energyAbove(wide, 16000, 4000), 0.3);

    const auto narrow = decodeAll(CodecKind::G722, 8000, packets);
    ASSERT_EQ(narrow.size(), sent.size() / 2);
    std::vector<int16_t> halved;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        halved.push_back(int16_t((wide[i] + wide[i + 1]) / 2));
    EXPECT_EQ(narrow, halved);
}

TEST(AudioCodec, G711InAWidebandCallKeepsEverySampleAndInterpolatesBetween) {
    const auto pcm = chirp(8000, 800, 200, 3000);
    std::vector<uint8_t> coded;
    encodeG711(G711Law::ALaw, pcm, coded);
    std::vector<int16_t> plain;
    decodeG711(G711Law::ALaw, coded, plain);
    auto decoder = makeDecoder(CodecKind::Pcma, 16000);
    std::vector<int16_t> wide;
    ASSERT_TRUE(decoder->decode(coded, wide));
    ASSERT_EQ(wide.size(), 2 * plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        ASSERT_EQ(wide[2 * i + 1], plain[i]) << i;
        const int before = i ? plain[i - 1] : 0;
        ASSERT_EQ(wide[2 * i], (before + plain[i]) / 2) << i;
    }
}

TEST(AudioCodec, OpusDecodesAt16kHz) {
    const auto sent = chirp(16000, 32000, 200, 6000);
    const auto received = decodeAll(CodecKind::Opus, 16000, opusPackets(sent));
    ASSERT_EQ(received.size(), sent.size());
    // A perceptual codec: its shape follows, sample values do not (and it looks ahead).
    EXPECT_GT(bestCorrelation(sent, received, 400), 0.9);
    EXPECT_GT(test::energyAbove(received, 16000, 4000), 0.2);
}

TEST(AudioCodec, UnusablePayloadsAreRefusedWithoutOutput) {
    auto opus = makeDecoder(CodecKind::Opus, 16000);
    std::vector<int16_t> out;
    const std::vector<uint8_t> none;
    EXPECT_FALSE(opus->decode(none, out));
    // Code 3 with a frame count of 0 is not a valid Opus packet.
    const std::vector<uint8_t> broken{0x03, 0x00};
    EXPECT_FALSE(opus->decode(broken, out));
    EXPECT_FALSE(makeDecoder(CodecKind::G722, 16000)->decode(none, out));
    EXPECT_TRUE(out.empty());
}

TEST(AudioCodec, SilenceFramesAre20msOfNearSilenceInEachCodec) {
    const struct {
        CodecKind kind;
        uint32_t step;
        size_t samples;  // at the codec's audio rate
    } cases[] = {
        {CodecKind::Pcmu, 160, 160},
        {CodecKind::Pcma, 160, 160},
        {CodecKind::G722, 160, 320},
        {CodecKind::Opus, 960, 320},
    };
    for (const auto& c : cases) {
        const SilenceFrame frame = makeSilenceFrame(c.kind);
        ASSERT_FALSE(frame.payload.empty()) << codecInfo(c.kind).name;
        EXPECT_EQ(frame.timestampStep, c.step) << codecInfo(c.kind).name;
        auto decoder = makeDecoder(c.kind, codecInfo(c.kind).audioRate);
        std::vector<int16_t> out;
        for (int i = 0; i < 5; ++i) {
            out.clear();
            ASSERT_TRUE(decoder->decode(frame.payload, out));
        }
        EXPECT_EQ(out.size(), c.samples) << codecInfo(c.kind).name;
        const int peak =
            std::abs(*std::max_element(out.begin(), out.end(), [](int16_t a, int16_t b) {
                return std::abs(a) < std::abs(b);
            }));
        EXPECT_LT(peak, 64) << codecInfo(c.kind).name;
    }
}

}  // namespace
}  // namespace kallomir
