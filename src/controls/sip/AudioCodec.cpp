#include "controls/sip/AudioCodec.h"

#include "controls/sip/G711.h"

#include <opus.h>

// telephony.h defines what g722.h needs: it must come first.
extern "C" {
#include <spandsp/telephony.h>

#include <spandsp/g722.h>
}

#include <array>

namespace kallomir {

namespace {

constexpr std::array<CodecInfo, 4> kCodecs{{
    {CodecKind::Pcmu, "PCMU", 8000, 0, 8000, 0},
    {CodecKind::Pcma, "PCMA", 8000, 0, 8000, 8},
    {CodecKind::G722, "G722", 8000, 0, 16000, 9},
    // RFC 7587: always written as 48 kHz stereo, whatever is sent.
    {CodecKind::Opus, "opus", 48000, 2, 16000, -1},
}};

constexpr int kG722BitRate = 64000;
constexpr int kOpusMaxFrameMs = 120;

// Moves decoded audio from its own rate to the call's: doubling by interpolation (G.711 in a
// wideband call) or halving by averaging pairs (G.722 in a narrowband call).
void appendAtRate(std::span<const int16_t> in, int inRate, int outRate, int16_t& last,
                  std::vector<int16_t>& out) {
    if (inRate == outRate) {
        out.insert(out.end(), in.begin(), in.end());
    } else if (outRate == 2 * inRate) {
        for (int16_t s : in) {
            out.push_back(int16_t((int(last) + int(s)) / 2));
            out.push_back(s);
            last = s;
        }
    } else {
        for (size_t i = 0; i + 1 < in.size(); i += 2) {
            out.push_back(int16_t((int(in[i]) + int(in[i + 1])) / 2));
        }
    }
}

class G711Decoder final : public AudioDecoder {
public:
    G711Decoder(G711Law law, int outputRate) : law_(law), outputRate_(outputRate) {}
    bool decode(std::span<const uint8_t> payload, std::vector<int16_t>& out) override {
        if (outputRate_ == kG711SampleRate) {
            decodeG711(law_, payload, out);
            return true;
        }
        pcm_.clear();
        decodeG711(law_, payload, pcm_);
        appendAtRate(pcm_, kG711SampleRate, outputRate_, last_, out);
        return true;
    }

private:
    G711Law law_;
    int outputRate_;
    int16_t last_ = 0;
    std::vector<int16_t> pcm_;
};

class G722Decoder final : public AudioDecoder {
public:
    explicit G722Decoder(int outputRate)
        : state_(g722_decode_init(nullptr, kG722BitRate, 0)), outputRate_(outputRate) {}
    ~G722Decoder() override {
        if (state_)
            g722_decode_free(state_);
    }
    G722Decoder(const G722Decoder&) = delete;
    G722Decoder& operator=(const G722Decoder&) = delete;
    bool ok() const { return state_ != nullptr; }

    bool decode(std::span<const uint8_t> payload, std::vector<int16_t>& out) override {
        pcm_.resize(payload.size() * 2);
        const int n = g722_decode(state_, pcm_.data(), payload.data(), int(payload.size()));
        if (n <= 0)
            return false;
        appendAtRate({pcm_.data(), size_t(n)}, 16000, outputRate_, last_, out);
        return true;
    }

private:
    g722_decode_state_t* state_;
    int outputRate_;
    int16_t last_ = 0;
    std::vector<int16_t> pcm_;
};

class OpusAudioDecoder final : public AudioDecoder {
public:
    explicit OpusAudioDecoder(int outputRate) {
        int err = 0;
        state_ = opus_decoder_create(outputRate, 1, &err);
        if (err != OPUS_OK)
            state_ = nullptr;
        pcm_.resize(size_t(outputRate * kOpusMaxFrameMs / 1000));
    }
    ~OpusAudioDecoder() override {
        if (state_)
            opus_decoder_destroy(state_);
    }
    OpusAudioDecoder(const OpusAudioDecoder&) = delete;
    OpusAudioDecoder& operator=(const OpusAudioDecoder&) = delete;
    bool ok() const { return state_ != nullptr; }

    bool decode(std::span<const uint8_t> payload, std::vector<int16_t>& out) override {
        if (payload.empty())
            return false;
        const int n = opus_decode(state_, payload.data(), opus_int32(payload.size()), pcm_.data(),
                                  int(pcm_.size()), 0);
        if (n <= 0)
            return false;
        out.insert(out.end(), pcm_.begin(), pcm_.begin() + n);
        return true;
    }

private:
    ::OpusDecoder* state_ = nullptr;
    std::vector<int16_t> pcm_;
};

}  // namespace

const CodecInfo& codecInfo(CodecKind kind) {
    for (const CodecInfo& c : kCodecs) {
        if (c.kind == kind)
            return c;
    }
    return kCodecs[0];
}

std::optional<CodecKind> codecByName(const QString& name) {
    for (const CodecInfo& c : kCodecs) {
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return c.kind;
    }
    return std::nullopt;
}

std::unique_ptr<AudioDecoder> makeDecoder(CodecKind kind, int outputRate) {
    switch (kind) {
        case CodecKind::Pcmu:
            return std::make_unique<G711Decoder>(G711Law::MuLaw, outputRate);
        case CodecKind::Pcma:
            return std::make_unique<G711Decoder>(G711Law::ALaw, outputRate);
        case CodecKind::G722: {
            auto d = std::make_unique<G722Decoder>(outputRate);
            return d->ok() ? std::move(d) : nullptr;
        }
        case CodecKind::Opus: {
            auto d = std::make_unique<OpusAudioDecoder>(outputRate);
            return d->ok() ? std::move(d) : nullptr;
        }
    }
    return nullptr;
}

SilenceFrame makeSilenceFrame(CodecKind kind) {
    SilenceFrame frame;
    switch (kind) {
        case CodecKind::Pcmu:
        case CodecKind::Pcma: {
            const G711Law law = kind == CodecKind::Pcmu ? G711Law::MuLaw : G711Law::ALaw;
            frame.payload.assign(160, g711Silence(law));
            frame.timestampStep = 160;
            break;
        }
        case CodecKind::G722: {
            // Coded silence from an encoder that has settled on it.
            g722_encode_state_t* enc = g722_encode_init(nullptr, kG722BitRate, 0);
            if (!enc)
                break;
            const std::vector<int16_t> zeros(320, 0);
            frame.payload.resize(160);
            for (int i = 0; i < 5; ++i)
                g722_encode(enc, frame.payload.data(), zeros.data(), int(zeros.size()));
            g722_encode_free(enc);
            frame.timestampStep = 160;
            break;
        }
        case CodecKind::Opus: {
            int err = 0;
            OpusEncoder* enc = opus_encoder_create(16000, 1, OPUS_APPLICATION_VOIP, &err);
            if (err != OPUS_OK)
                break;
            const std::vector<int16_t> zeros(320, 0);
            std::vector<uint8_t> packet(256);
            int n = 0;
            for (int i = 0; i < 5; ++i)
                n = opus_encode(enc, zeros.data(), 320, packet.data(), opus_int32(packet.size()));
            opus_encoder_destroy(enc);
            if (n <= 0)
                break;
            packet.resize(size_t(n));
            frame.payload = std::move(packet);
            frame.timestampStep = 960;
            break;
        }
    }
    return frame;
}

}  // namespace kallomir
