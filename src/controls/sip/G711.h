#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kallomir {

// The two companding laws a telephone line speaks; RTP static payload types 0 and 8.
enum class G711Law { MuLaw, ALaw };

constexpr int kG711SampleRate = 8000;

// Appends one 16-bit sample per coded byte to out.
void decodeG711(G711Law law, std::span<const uint8_t> coded, std::vector<int16_t>& out);
// Appends one coded byte per 16-bit sample to out.
void encodeG711(G711Law law, std::span<const int16_t> pcm, std::vector<uint8_t>& out);

// The coded byte for digital silence (what an idle sender transmits).
uint8_t g711Silence(G711Law law);

}  // namespace kallomir
