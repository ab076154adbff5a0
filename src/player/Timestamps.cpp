#include "player/Timestamps.h"

#include <QRegularExpression>

#include <algorithm>

namespace kallomir {

namespace {

const QRegularExpression& Pattern() {
    static const QRegularExpression pattern(QStringLiteral(R"(\[(\d{2,6}):([0-5]\d):([0-5]\d)\])"));
    return pattern;
}

}  // namespace

QString FormatTimestamp(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    auto two = [](std::int64_t v) { return QString::number(v).rightJustified(2, u'0'); };
    return u'[' + two(seconds / 3600) + u':' + two(seconds / 60 % 60) + u':' + two(seconds % 60) +
           u']';
}

std::vector<TimestampMark> FindTimestamps(const QString& text) {
    std::vector<TimestampMark> marks;
    auto it = Pattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        marks.push_back(
            TimestampMark{static_cast<int>(m.capturedStart()), static_cast<int>(m.capturedLength()),
                          m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60 +
                              m.captured(3).toLongLong()});
    }
    return marks;
}

std::optional<TimestampMark> TimestampAt(const QString& text, int position) {
    for (const TimestampMark& mark : FindTimestamps(text)) {
        if (position >= mark.start && position <= mark.start + mark.length)
            return mark;
    }
    return std::nullopt;
}

}  // namespace kallomir
