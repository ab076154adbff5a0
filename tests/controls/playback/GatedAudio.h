#pragma once

#include "controls/playback/WaveImage.h"

#include <QByteArray>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace kallomir::test {

// Audio that arrives only as far as the test lets it: a stand-in for a slow disk.
class GatedAudio {
public:
    explicit GatedAudio(QByteArray bytes, std::int64_t allowed)
        : bytes_(std::move(bytes)), allowed_(allowed) {}
    ~GatedAudio() { allow(bytes_.size()); }

    void allow(std::int64_t upTo) {
        std::lock_guard lock(mutex_);
        allowed_ = upTo;
        changed_.notify_all();
    }
    WaveImage::Reader reader() {
        return [this](char* into, std::int64_t offset, std::int64_t max) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return allowed_ > offset; });
            const std::int64_t n = std::min(
                {max, allowed_ - offset, static_cast<std::int64_t>(bytes_.size()) - offset});
            std::memcpy(into, bytes_.constData() + offset, static_cast<size_t>(n));
            return n;
        };
    }

private:
    QByteArray bytes_;
    std::int64_t allowed_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace kallomir::test
