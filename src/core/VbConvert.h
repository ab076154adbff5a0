#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace kallomir {

// Numeric value of the leading number in a text, 0 when there is none
// ("2.5" -> 2.5, " 12abc" -> 12, "abc" -> 0, "" -> 0).
double Val(const QString& text);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double RoundHalfEven(double value);

// RoundHalfEven clamped into the range of the target type, so that a wild stored
// value can never overflow.
std::int32_t ToInt32(double value);
std::int16_t ToInt16(double value);
std::int64_t ToInt64(double value);

// The fixed date-time text form of the program: dd/mm/yyyy hh:mm:ss (19 characters).
QString FormatDateTime(const QDateTime& moment);

// Reads a date-time text of that form back; also accepts a date alone (midnight).
// Returns nothing for text that is not a valid date-time.
std::optional<QDateTime> ParseDateTime(const QString& text);

// True when the whole text, blanks around it aside, is a decimal integer.
bool IsWholeNumber(const QString& text);

}  // namespace kallomir
