#include "controls/sip/JitterBuffer.h"

#include <algorithm>

namespace kallomir {

namespace {
// Signed distance from a to b on the 32-bit timestamp circle.
int32_t distance(uint32_t a, uint32_t b) {
    return int32_t(b - a);
}

uint32_t ringSizeFor(int capacity) {
    uint32_t size = 1;
    while (size < uint32_t(capacity)) size <<= 1;
    return size;
}
}  // namespace

JitterBuffer::JitterBuffer(int preBufferSamples, int capacitySamples)
    : preBuffer_(std::max(0, preBufferSamples)),
      capacity_(std::clamp(capacitySamples, preBuffer_ + 1, 1 << 24)),
      ringMask_(ringSizeFor(capacity_) - 1),
      samples_(size_t(ringMask_) + 1, 0),
      held_(size_t(ringMask_) + 1, 0) {}

void JitterBuffer::reset() {
    std::fill(held_.begin(), held_.end(), uint8_t(0));
    primed_ = false;
    started_ = false;
}

void JitterBuffer::restartAt(uint32_t timestamp) {
    reset();
    primed_ = true;
    readTs_ = timestamp;
    end_ = timestamp;
}

void JitterBuffer::push(uint32_t timestamp, std::span<const int16_t> samples) {
    if (samples.empty())
        return;
    const int len = int(std::min<size_t>(samples.size(), size_t(capacity_)));
    if (!primed_)
        restartAt(timestamp);

    const int32_t offset = distance(readTs_, timestamp);
    if (offset >= 2 * capacity_ || offset < -capacity_) {
        // The sender jumped (new talk spurt after a long pause, or a restarted stream going
        // back in time): follow it rather than wait for the old position to catch up.
        ++stats_.resyncs;
        restartAt(timestamp);
        push(timestamp, samples);
        return;
    }
    if (offset + len <= 0) {
        ++stats_.late;
        return;
    }
    if (offset + len > capacity_) {
        // The sender runs ahead of our clock: give up the oldest audio to make room.
        const int excess = offset + len - capacity_;
        if (excess >= capacity_) {
            std::fill(held_.begin(), held_.end(), uint8_t(0));
        } else {
            for (int i = 0; i < excess; ++i) held_[size_t(slot(readTs_ + uint32_t(i)))] = 0;
        }
        stats_.droppedSamples += uint64_t(excess);
        readTs_ += uint32_t(excess);
        if (distance(end_, readTs_) > 0)
            end_ = readTs_;
        push(timestamp, samples);
        return;
    }

    // In runs that end at the ring's end; a run none of whose samples is held yet (the
    // usual case) is copied whole.
    bool anyNew = false;
    const int ringSize = int(ringMask_) + 1;
    for (int i = std::max(0, -offset); i < len;) {
        const int s = slot(timestamp + uint32_t(i));
        const int run = std::min(len - i, ringSize - s);
        uint8_t* held = held_.data() + s;
        int16_t* dst = samples_.data() + s;
        const int16_t* src = samples.data() + i;
        const auto alreadyHeld = std::count(held, held + run, uint8_t(1));
        if (alreadyHeld == 0) {
            std::copy(src, src + run, dst);
            std::fill(held, held + run, uint8_t(1));
            anyNew = true;
        } else if (alreadyHeld < run) {
            for (int k = 0; k < run; ++k) {
                if (!held[k]) {
                    held[k] = 1;
                    dst[k] = src[k];
                }
            }
            anyNew = true;
        }
        i += run;
    }
    if (!anyNew) {
        ++stats_.duplicates;
        return;
    }
    ++stats_.packets;
    const uint32_t packetEnd = timestamp + uint32_t(len);
    if (distance(end_, packetEnd) > 0)
        end_ = packetEnd;
    if (!started_ && distance(readTs_, end_) >= preBuffer_)
        started_ = true;
}

void JitterBuffer::pull(int count, std::vector<int16_t>& out) {
    if (count <= 0)
        return;
    const size_t base = out.size();
    out.resize(base + size_t(count), int16_t(0));
    if (!started_)
        return;
    const int ringSize = int(ringMask_) + 1;
    for (int done = 0; done < count;) {
        const int available = distance(readTs_, end_);
        if (available <= 0) {
            // Ran dry: hold the position and fill the pre-buffer again, so that audio
            // arriving a little late still finds its place instead of being dropped.
            started_ = false;
            return;
        }
        const int s = slot(readTs_);
        const int run = std::min({count - done, available, ringSize - s});
        uint8_t* held = held_.data() + s;
        const int16_t* src = samples_.data() + s;
        int16_t* dst = out.data() + base + size_t(done);
        for (int i = 0; i < run; ++i) dst[i] = held[i] ? src[i] : int16_t(0);
        stats_.concealedSamples += uint64_t(run - std::count(held, held + run, uint8_t(1)));
        std::fill(held, held + run, uint8_t(0));
        readTs_ += uint32_t(run);
        done += run;
    }
}

void JitterBuffer::drain(std::vector<int16_t>& out) {
    if (primed_) {
        started_ = true;
        pull(distance(readTs_, end_), out);
    }
    reset();
}

}  // namespace kallomir
