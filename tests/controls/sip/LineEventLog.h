#pragma once

#include "controls/LineBackend.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace kallomir::test {

// Records a line's events and audio as they arrive from the line's own thread, and lets a
// test wait for the next one.
class LineEventLog : public LineEvents, public LineAudioSink {
public:
    void lineRing(int, int rings) override { add(QStringLiteral("ring %1").arg(rings)); }
    void lineConnected(int) override { add(QStringLiteral("connected")); }
    void lineDisconnected(int) override { add(QStringLiteral("disconnected")); }
    void lineIdle(int) override { add(QStringLiteral("idle")); }
    void lineNotify(int, const QString& text) override { add(QStringLiteral("notify ") + text); }
    void lineRegistration(int) override { add(QStringLiteral("registration")); }

    void lineAudio(int, std::span<const std::int16_t> samples, int rate) override {
        {
            std::lock_guard lock(mutex_);
            audio_.insert(audio_.end(), samples.begin(), samples.end());
            rate_ = rate;
        }
        changed_.notify_all();
    }

    // True once an event equal to `event` has arrived (within timeoutMs).
    bool waitFor(const QString& event, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return events_.contains(event); });
    }
    // True once at least `count` samples of audio have arrived.
    bool waitForAudio(size_t count, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return audio_.size() >= count; });
    }
    QStringList events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::int16_t> audio() const {
        std::lock_guard lock(mutex_);
        return audio_;
    }
    int rate() const {
        std::lock_guard lock(mutex_);
        return rate_;
    }

private:
    void add(const QString& event) {
        {
            std::lock_guard lock(mutex_);
            events_ << event;
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QStringList events_;
    std::vector<std::int16_t> audio_;
    int rate_ = 0;
};

}  // namespace kallomir::test
