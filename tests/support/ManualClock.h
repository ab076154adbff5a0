#pragma once

#include "core/Clock.h"

namespace kallomir {

// A clock that stands still until the test moves it.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2024, 1, 31), QTime(14, 23, 5)))
        : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    void set(const QDateTime& moment) { now_ = moment; }
    void advanceSeconds(qint64 seconds) { now_ = now_.addSecs(seconds); }
    void advanceMs(qint64 ms) { now_ = now_.addMSecs(ms); }

private:
    QDateTime now_;
};

}  // namespace kallomir
