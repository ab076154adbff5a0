#include "controls/sip/G711.h"

#include "controls/sip/ReHeaders.h"

namespace kallomir {

void decodeG711(G711Law law, std::span<const uint8_t> coded, std::vector<int16_t>& out) {
    const size_t base = out.size();
    out.resize(base + coded.size());
    int16_t* dst = out.data() + base;
    if (law == G711Law::MuLaw) {
        for (size_t i = 0; i < coded.size(); ++i) dst[i] = g711_ulaw2pcm(coded[i]);
    } else {
        for (size_t i = 0; i < coded.size(); ++i) dst[i] = g711_alaw2pcm(coded[i]);
    }
}

void encodeG711(G711Law law, std::span<const int16_t> pcm, std::vector<uint8_t>& out) {
    out.reserve(out.size() + pcm.size());
    for (int16_t s : pcm) {
        // librem negates the sample; -32768 has no positive twin in 16 bits.
        const int16_t safe = s == INT16_MIN ? int16_t(INT16_MIN + 1) : s;
        out.push_back(law == G711Law::MuLaw ? g711_pcm2ulaw(safe) : g711_pcm2alaw(safe));
    }
}

uint8_t g711Silence(G711Law law) {
    return law == G711Law::MuLaw ? g711_pcm2ulaw(0) : g711_pcm2alaw(0);
}

}  // namespace kallomir
