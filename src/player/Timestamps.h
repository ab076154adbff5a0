#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kallomir {

// Time marks in a transcription: "[hh:mm:ss]", plain text, so they survive any rich-text
// reader and writer and read the same in the catalogue field.

// "[hh:mm:ss]" for a playing position; hours grow past two digits when needed.
QString FormatTimestamp(std::int64_t seconds);

struct TimestampMark {
    int start = 0;   // index of '['
    int length = 0;  // up to and with ']'
    std::int64_t seconds = 0;
};

// Every time mark in the text, in order.
std::vector<TimestampMark> FindTimestamps(const QString& text);

// The time mark under a text position: inside it, or just before its '[' or after its ']'.
std::optional<TimestampMark> TimestampAt(const QString& text, int position);

}  // namespace kallomir
