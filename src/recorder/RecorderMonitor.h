#pragma once

#include <QString>

#include <cstdint>

namespace kallomir {

// "hh:mm:ss" of a number of seconds; hours go on past a day (285 125 -> "79:12:05"), so
// three days of disk left never read as a few minutes. Negative counts show as "00:00:00".
QString FormatShortDuration(std::int64_t seconds);

// Seconds of silence before a quiet recording stops: VOX hold (ms) / 1000 + 5, halves to even.
std::int16_t SilenceReload(std::int16_t holdMilliseconds);

// The byte rate a recording is assumed to use when the time left on the disk is estimated.
inline constexpr double kAssumedRecordingBytesPerSecond = 16500.0;

// Free bytes on the file system that holds path (or its nearest existing parent folder);
// -1 when it cannot be told.
std::int64_t FreeBytesAt(const QString& path);

// Whole seconds of recording that freeBytes hold at the assumed rate.
std::int64_t DiskTimeSeconds(std::int64_t freeBytes);

// True when the capture file and the folder's recordings reach limitMillions million bytes.
bool FolderLimitReached(std::int64_t captureBytes, std::int64_t folderBytes,
                        std::int64_t limitMillions);

}  // namespace kallomir
