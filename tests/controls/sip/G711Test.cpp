#include "controls/sip/G711.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kallomir {
namespace {

TEST(G711, DecodesReferenceCodes) {
    std::vector<int16_t> out;
    const uint8_t mu[] = {0xFF, 0x7F, 0x00, 0x80};
    decodeG711(G711Law::MuLaw, mu, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_LE(std::abs(out[0]), 8);  // the two zero codes sit a step either side of 0
    EXPECT_EQ(out[1], -out[0]);
    EXPECT_EQ(out[2], -32124);
    EXPECT_EQ(out[3], 32124);

    out.clear();
    const uint8_t a[] = {0xD5, 0x55, 0x2A, 0xAA};
    decodeG711(G711Law::ALaw, a, out);
    EXPECT_EQ(out, (std::vector<int16_t>{8, -8, -32256, 32256}));
}

// Companding loses precision in proportion to the amplitude, never more.
TEST(G711, RoundTripStaysWithinTheLawsStepSize) {
    for (G711Law law : {G711Law::MuLaw, G711Law::ALaw}) {
        std::vector<int16_t> pcm;
        for (int v = -32768; v <= 32767; v += 7) pcm.push_back(int16_t(v));
        pcm.push_back(INT16_MIN);
        pcm.push_back(INT16_MAX);
        std::vector<uint8_t> coded;
        encodeG711(law, pcm, coded);
        ASSERT_EQ(coded.size(), pcm.size());
        std::vector<int16_t> back;
        decodeG711(law, coded, back);
        ASSERT_EQ(back.size(), pcm.size());
        for (size_t i = 0; i < pcm.size(); ++i) {
            const int err = std::abs(int(back[i]) - int(pcm[i]));
            const int allowed = std::max(16, std::abs(int(pcm[i])) / 16 + 16);
            ASSERT_LE(err, allowed) << "law " << int(law) << " sample " << pcm[i];
            // The sign survives except around zero.
            if (std::abs(int(pcm[i])) > 64) {
                ASSERT_EQ(back[i] < 0, pcm[i] < 0) << pcm[i];
            }
        }
    }
}

TEST(G711, SilenceByteDecodesToNearZeroAndAppendsToExistingOutput) {
    for (G711Law law : {G711Law::MuLaw, G711Law::ALaw}) {
        std::vector<int16_t> out{1234};
        const uint8_t s[] = {g711Silence(law)};
        decodeG711(law, s, out);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0], 1234);
        EXPECT_LE(std::abs(out[1]), 8);
    }
}

}  // namespace
}  // namespace kallomir
