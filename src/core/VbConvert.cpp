#include "core/VbConvert.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace kallomir {

double Val(const QString& text) {
    // Parse by hand: a locale-aware conversion would read "2,5" differently per machine.
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    QString digits;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        digits += text[i++];
    bool any = false;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        digits += text[i++];
        any = true;
    }
    if (i < n && text[i] == u'.') {
        digits += text[i++];
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            digits += text[i++];
            any = true;
        }
    }
    if (!any)
        return 0.0;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        QString exponent = QStringLiteral("e");
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += text[j++];
        bool expDigits = false;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) {
            exponent += text[j++];
            expDigits = true;
        }
        if (expDigits)
            digits += exponent;
    }
    bool ok = false;
    const double value = digits.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return 0.0;
    return value;
}

double RoundHalfEven(double value) {
    if (!std::isfinite(value))
        return 0.0;
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    return rounded;
}

namespace {
template <typename T>
T Clamped(double value) {
    const double r = RoundHalfEven(value);
    if (r <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (r >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(r);
}
}  // namespace

std::int32_t ToInt32(double value) {
    return Clamped<std::int32_t>(value);
}
std::int16_t ToInt16(double value) {
    return Clamped<std::int16_t>(value);
}
std::int64_t ToInt64(double value) {
    return Clamped<std::int64_t>(value);
}

QString FormatDateTime(const QDateTime& moment) {
    return moment.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

std::optional<QDateTime> ParseDateTime(const QString& text) {
    const QString trimmed = text.trimmed();
    QDateTime moment = QDateTime::fromString(trimmed, QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    if (!moment.isValid()) {
        const QDate day = QDate::fromString(trimmed, QStringLiteral("dd/MM/yyyy"));
        if (day.isValid())
            moment = QDateTime(day, QTime(0, 0));
    }
    if (!moment.isValid())
        return std::nullopt;
    return moment;
}

bool IsWholeNumber(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    qsizetype i = (t[0] == u'+' || t[0] == u'-') ? 1 : 0;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (!(t[i].unicode() >= '0' && t[i].unicode() <= '9'))
            return false;
    }
    return true;
}

}  // namespace kallomir
