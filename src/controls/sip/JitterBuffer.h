#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kallomir {

// Places received audio by its RTP timestamp and hands it out as one gap-free stream:
// reordered packets land where they belong, duplicates and packets that come too late are
// dropped, lost audio becomes silence. Output starts once a pre-buffer has filled, which
// absorbs the arrival jitter of a loaded machine. Not thread-safe: one owner thread.
class JitterBuffer {
public:
    struct Stats {
        uint64_t packets = 0;           // accepted packets
        uint64_t duplicates = 0;        // packets whose audio was already held
        uint64_t late = 0;              // packets whose place had already been played out
        uint64_t resyncs = 0;           // timestamp jumps beyond the buffer: restarted
        uint64_t concealedSamples = 0;  // silence put in place of missing audio
        uint64_t droppedSamples = 0;    // audio discarded because the buffer ran too full
    };

    // preBufferSamples: held back before output starts (40 ms at 8 kHz = 320).
    // capacitySamples: the furthest ahead of the play position a packet may land.
    explicit JitterBuffer(int preBufferSamples = 320, int capacitySamples = 16000);

    // Stores one packet's samples at its timestamp.
    void push(uint32_t timestamp, std::span<const int16_t> samples);

    // Appends exactly count samples to out: held audio, or silence where none is held.
    void pull(int count, std::vector<int16_t>& out);

    // Appends everything held from the play position on (silence in its holes), whether or
    // not the pre-buffer has filled, then starts afresh: the end of a call.
    void drain(std::vector<int16_t>& out);

    // Forgets everything (a new sender or stream); the next packet starts afresh.
    void reset();

    // Samples held from the play position to the furthest received sample.
    int buffered() const { return primed_ ? int(end_ - readTs_) : 0; }
    bool playing() const { return started_; }
    const Stats& stats() const { return stats_; }

private:
    // The ring size is a power of two so that slots stay contiguous across the 32-bit wrap.
    int slot(uint32_t ts) const { return int(ts & ringMask_); }
    void restartAt(uint32_t timestamp);

    int preBuffer_;
    int capacity_;
    uint32_t ringMask_;
    std::vector<int16_t> samples_;
    std::vector<uint8_t> held_;
    bool primed_ = false;   // a first packet fixed the play position
    bool started_ = false;  // pre-buffer filled, output running
    uint32_t readTs_ = 0;   // timestamp of the next sample handed out
    uint32_t end_ = 0;      // one past the furthest sample received
    Stats stats_;
};

}  // namespace kallomir
