#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kallomir {

// The voice codecs a SIP line takes: G.711 (narrowband, 8 kHz) and the wideband G.722 and
// Opus, which the line decodes to 16 kHz.
enum class CodecKind { Pcmu, Pcma, G722, Opus };

struct CodecInfo {
    CodecKind kind;
    const char* name;       // as in lines.ini and SDP ("PCMU", "G722", "opus")
    int clockRate;          // RTP timestamp rate (G.722 says 8000 for historic reasons)
    int sdpChannels;        // channel count written in the rtpmap line, 0 for none
    int audioRate;          // rate of the decoded audio
    int staticPayloadType;  // -1 when the codec takes a dynamic number
};

const CodecInfo& codecInfo(CodecKind kind);
// "PCMU", "pcma", "G722", "opus": the codec; nullopt for any other name.
std::optional<CodecKind> codecByName(const QString& name);
inline bool isWideband(CodecKind kind) {
    return codecInfo(kind).audioRate > 8000;
}

// Turns one RTP payload into audio at a fixed output rate (8 or 16 kHz, the rate the call's
// recording was started at; a call that moves between narrow- and wideband is converted).
class AudioDecoder {
public:
    virtual ~AudioDecoder() = default;
    // Appends the payload's audio to out; false (nothing appended) for an unusable payload.
    virtual bool decode(std::span<const uint8_t> payload, std::vector<int16_t>& out) = 0;
};

// nullptr when the codec's library cannot start a decoder.
std::unique_ptr<AudioDecoder> makeDecoder(CodecKind kind, int outputRate);

// One 20 ms frame of silence in a codec, for a line that keeps far ends busy with audio.
struct SilenceFrame {
    std::vector<uint8_t> payload;
    uint32_t timestampStep = 0;  // RTP timestamp units per frame
};
SilenceFrame makeSilenceFrame(CodecKind kind);

}  // namespace kallomir
