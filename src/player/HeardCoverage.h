#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kallomir {

// The parts of a recording that have been listened to, as disjoint stretches of milliseconds
// in order; overlapping or touching stretches merge.
class HeardCoverage {
public:
    struct Stretch {
        std::int64_t from = 0;  // ms, inclusive
        std::int64_t to = 0;    // ms, exclusive
        bool operator==(const Stretch&) const = default;
    };

    void add(std::int64_t from, std::int64_t to);
    const std::vector<Stretch>& stretches() const { return stretches_; }
    std::int64_t total() const;
    // The share of a recording of that length heard, in whole per cent, rounded down (so a
    // recording heard 94.9 % never reads 95); 0 for an unknown length.
    int percentOf(std::int64_t durationMs) const;
    bool empty() const { return stretches_.empty(); }

    // "from-to" pairs in milliseconds, separated by ';'. Unreadable parts are skipped.
    QString toText() const;
    static HeardCoverage fromText(const QString& text);
    bool operator==(const HeardCoverage&) const = default;

private:
    std::vector<Stretch> stretches_;
};

// Turns the transport's position, read ten times a second, into heard stretches. Only audio
// played without a jump, at normal speed or slower, counts; anything else starts afresh.
class HeardTracker {
public:
    // The longest step between two readings taken as continuous listening.
    static constexpr std::int64_t kMaxStepMs = 2000;

    // The position now, and whether the audio since the last reading played at a speed that
    // counts as listening.
    void observe(std::int64_t positionMs, bool countable);
    // A jump, pause, stop or change of speed: the next reading starts a new stretch.
    void interrupt() { anchor_.reset(); }
    // Playback ran out by itself: the stretch goes on to the end.
    void reachedEnd(std::int64_t durationMs);

    HeardCoverage& coverage() { return coverage_; }
    const HeardCoverage& coverage() const { return coverage_; }
    // Whether anything was added since the last call.
    bool takeChanged();

private:
    HeardCoverage coverage_;
    std::optional<std::int64_t> anchor_;
    bool changed_ = false;
};

}  // namespace kallomir
