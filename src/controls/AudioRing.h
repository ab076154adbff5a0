#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kallomir {

// Single-producer single-consumer ring of samples, lock-free: the audio thread writes, the
// capture worker reads, neither ever waits for the other. What does not fit is dropped and
// counted.
class AudioRing {
public:
    explicit AudioRing(std::size_t capacityPowerOfTwo)
        : buffer_(capacityPowerOfTwo), mask_(capacityPowerOfTwo - 1) {}

    // Producer side. Returns the number of samples stored.
    std::size_t write(std::span<const std::int16_t> samples) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t room = buffer_.size() - (head - tail);
        const std::size_t count = samples.size() < room ? samples.size() : room;
        for (std::size_t i = 0; i < count; ++i) buffer_[(head + i) & mask_] = samples[i];
        head_.store(head + count, std::memory_order_release);
        if (count < samples.size()) {
            dropped_.fetch_add(samples.size() - count, std::memory_order_relaxed);
        }
        return count;
    }

    // Consumer side. Returns the number of samples taken.
    std::size_t read(std::span<std::int16_t> out) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t available = head - tail;
        const std::size_t count = out.size() < available ? out.size() : available;
        for (std::size_t i = 0; i < count; ++i) out[i] = buffer_[(tail + i) & mask_];
        tail_.store(tail + count, std::memory_order_release);
        return count;
    }

    std::size_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::vector<std::int16_t> buffer_;
    std::size_t mask_;
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
    std::atomic<std::size_t> dropped_{0};
};

}  // namespace kallomir
