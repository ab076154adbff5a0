#include "player/HeardCoverage.h"

#include <QStringList>

#include <algorithm>

namespace kallomir {

void HeardCoverage::add(std::int64_t from, std::int64_t to) {
    if (to <= from)
        return;
    // The first stretch that ends at or after `from` is where the new one goes in.
    auto first = std::lower_bound(stretches_.begin(), stretches_.end(), from,
                                  [](const Stretch& s, std::int64_t at) { return s.to < at; });
    auto last = first;
    while (last != stretches_.end() && last->from <= to) {
        from = std::min(from, last->from);
        to = std::max(to, last->to);
        ++last;
    }
    first = stretches_.erase(first, last);
    stretches_.insert(first, Stretch{from, to});
}

std::int64_t HeardCoverage::total() const {
    std::int64_t sum = 0;
    for (const Stretch& s : stretches_) sum += s.to - s.from;
    return sum;
}

int HeardCoverage::percentOf(std::int64_t durationMs) const {
    if (durationMs <= 0)
        return 0;
    std::int64_t heard = 0;
    for (const Stretch& s : stretches_) {
        heard += std::max<std::int64_t>(
            0, std::min(s.to, durationMs) - std::max<std::int64_t>(s.from, 0));
    }
    return static_cast<int>(std::min<std::int64_t>(heard * 100 / durationMs, 100));
}

QString HeardCoverage::toText() const {
    QStringList parts;
    for (const Stretch& s : stretches_)
        parts << QString::number(s.from) + u'-' + QString::number(s.to);
    return parts.join(u';');
}

HeardCoverage HeardCoverage::fromText(const QString& text) {
    HeardCoverage coverage;
    for (const QString& part : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(u'-');
        bool okFrom = false, okTo = false;
        if (ends.size() != 2)
            continue;
        const std::int64_t from = ends[0].trimmed().toLongLong(&okFrom);
        const std::int64_t to = ends[1].trimmed().toLongLong(&okTo);
        if (okFrom && okTo && from >= 0)
            coverage.add(from, to);
    }
    return coverage;
}

void HeardTracker::observe(std::int64_t positionMs, bool countable) {
    if (!countable) {
        anchor_.reset();
        return;
    }
    if (anchor_ && positionMs > *anchor_ && positionMs - *anchor_ <= kMaxStepMs) {
        coverage_.add(*anchor_, positionMs);
        changed_ = true;
    }
    anchor_ = positionMs;
}

void HeardTracker::reachedEnd(std::int64_t durationMs) {
    if (anchor_ && durationMs > *anchor_ && durationMs - *anchor_ <= kMaxStepMs) {
        coverage_.add(*anchor_, durationMs);
        changed_ = true;
    }
    anchor_.reset();
}

bool HeardTracker::takeChanged() {
    const bool was = changed_;
    changed_ = false;
    return was;
}

}  // namespace kallomir
