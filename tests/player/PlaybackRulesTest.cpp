#include "player/PlaybackRules.h"

#include <gtest/gtest.h>

using namespace kallomir;

TEST(FormatDuration, FieldsAndLongDurations) {
    EXPECT_EQ(FormatDuration(0), QStringLiteral("00:00:00:00"));
    EXPECT_EQ(FormatDuration(3661), QStringLiteral("00:01:01:01"));
    EXPECT_EQ(FormatDuration(90061), QStringLiteral("01:01:01:01"));
    // 32 768 minutes and more overflowed the old 16-bit counts; they read correctly here.
    EXPECT_EQ(FormatDuration(32768LL * 60), QStringLiteral("22:18:08:00"));
    EXPECT_EQ(FormatDuration(100LL * 86400 + 59), QStringLiteral("100:00:00:59"));
    EXPECT_EQ(FormatDuration(-61), QStringLiteral("-00:00:01:01"));
}

TEST(TransportConversions, BytesAreMultiplesOfThousandRoundedHalfToEven) {
    EXPECT_EQ(BytesForSeconds(10, 22050), 220000);  // 220.5 -> 220
    EXPECT_EQ(BytesForSeconds(11, 22050), 243000);  // 242.55 -> 243
    EXPECT_EQ(BytesForSeconds(0, 22050), 0);
    EXPECT_EQ(BytesForSeconds(1, 44100), 44000);    // 44.1
    EXPECT_EQ(BytesForSeconds(-3, 22050), -66000);  // the caller decides what negative means
}

TEST(TransportConversions, SecondsTruncateToMillisecondsThenRoundHalfToEven) {
    EXPECT_EQ(SecondsForBytes(1000000, 22050), 45);  // 45.351 s
    EXPECT_EQ(SecondsForBytes(11025, 22050), 0);     // exactly 0.5 s -> 0 (even)
    EXPECT_EQ(SecondsForBytes(33075, 22050), 2);     // 1.5 s -> 2
    EXPECT_EQ(SecondsForBytes(11024, 22050), 0);
    EXPECT_EQ(SecondsForBytes(5000, 0), 0);  // unknown rate never divides by zero
}

TEST(TransportConversions, PlayStartAndDrag) {
    EXPECT_EQ(PlayStartPosition(0, 45, 22050), 0);
    EXPECT_EQ(PlayStartPosition(-2, 45, 22050), 0);
    EXPECT_EQ(PlayStartPosition(10, 45, 22050), 220000);
    // On the last second a play starts one second before it.
    EXPECT_EQ(PlayStartPosition(45, 45, 22050), BytesForSeconds(44, 22050));
    // A recording shorter than half a second has range 0 and plays from byte 0.
    EXPECT_EQ(PlayStartPosition(0, 0, 22050), 0);

    EXPECT_EQ(DragPosition(10, 22050, 1000000), 220000);
    EXPECT_EQ(DragPosition(46, 22050, 1000000), 999999);  // past the end: last byte
    EXPECT_EQ(DragPosition(46, 22050, 0), 0);
}

TEST(TransportConversions, DigitKeyRewind) {
    EXPECT_EQ(DigitKeySeconds(49), 1);
    EXPECT_EQ(DigitKeySeconds(57), 9);
    EXPECT_EQ(DigitKeySeconds(97), 1);
    EXPECT_EQ(DigitKeySeconds(105), 9);
    EXPECT_FALSE(DigitKeySeconds(48));
    EXPECT_FALSE(DigitKeySeconds(58));
    EXPECT_FALSE(DigitKeySeconds(96));

    EXPECT_EQ(DigitRewindPosition(51, 20, 22050), BytesForSeconds(17, 22050));
    EXPECT_FALSE(DigitRewindPosition(51, 3, 22050));  // would reach byte 0: nothing happens
    EXPECT_FALSE(DigitRewindPosition(65, 20, 22050));
}

TEST(SpeedControl, FastFactorsByNativeFrequency) {
    // 22 050 Hz at "Fast X 10": 88 200 and back.
    const auto f22 = FastFactorTable(2205);
    ASSERT_TRUE(f22);
    EXPECT_EQ(FastPressedFrequency(22050, f22->x10), 88200);
    EXPECT_EQ(FastReleasedFrequency(88200, f22->x10), 22050);
    EXPECT_EQ(FastPressedFrequency(22050, f22->x5), 66150);

    const auto f44 = FastFactorTable(4410);
    ASSERT_TRUE(f44);
    EXPECT_EQ(FastPressedFrequency(44100, f44->x10), 99666);
    EXPECT_EQ(FastReleasedFrequency(99666, f44->x10), 44100);
    EXPECT_EQ(FastPressedFrequency(44100, f44->x5), 88200);

    EXPECT_EQ(FastPressedFrequency(11020, FastFactorTable(1102)->x10), 88160);
    EXPECT_EQ(FastPressedFrequency(8000, FastFactorTable(800)->x10), 80000);
    EXPECT_FALSE(FastFactorTable(1600));  // 16 000 Hz has no entry
    // Every product at the recording's own rate stays within the buffer's range.
    for (int native : {4410, 2205, 1102, 800}) {
        EXPECT_LE(FastPressedFrequency(native * 10 + (native == 1102 ? 5 : 0),
                                       FastFactorTable(native)->x10),
                  kMaxFrequency);
    }
}

TEST(SpeedControl, ScrollBarWorksInTensOfHertz) {
    EXPECT_EQ(FrequencyScrollValue(11025), 1102);
    EXPECT_EQ(FrequencyScrollValue(11025) * 10, 11020);
    EXPECT_EQ(FrequencyLabel(5000), QStringLiteral("Frequenz: 5000 Hz"));
    EXPECT_EQ(FrequencyLabel(88200), QStringLiteral("Frequenz: 88200 Hz"));
}
