#pragma once

#include <QtGlobal>

#include <array>
#include <optional>

namespace kallomir {

// A record format code names one wave format with one bit; the device format masks use the
// same bits, so a mask is the OR of the codes a device handles.
struct RecordFormat {
    int code;        // 1, 2, 4 ... 128
    int sampleRate;  // Hz
    int bits;        // 8 (unsigned samples) or 16 (signed)
};

inline constexpr std::array<RecordFormat, 8> kRecordFormats{{
    {1, 8000, 8},
    {2, 8000, 16},
    {4, 11025, 8},
    {8, 11025, 16},
    {16, 22050, 8},
    {32, 22050, 16},
    {64, 44100, 8},
    {128, 44100, 16},
}};

// The format of a code; nothing for a code that is not one of the eight.
inline std::optional<RecordFormat> RecordFormatOf(qint32 code) {
    for (const RecordFormat& format : kRecordFormats) {
        if (format.code == code)
            return format;
    }
    return std::nullopt;
}

}  // namespace kallomir
