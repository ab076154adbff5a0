#pragma once

#include <QDateTime>

namespace kallomir {

// "Now" for every rule that names a moment; tests set and advance it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

}  // namespace kallomir
