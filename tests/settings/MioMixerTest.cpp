#include "settings/AlsaMixerBackend.h"
#include "settings/MioMixer.h"
#include "settings/TestMixerBackend.h"

#include <gtest/gtest.h>

using namespace kallomir;

namespace {
constexpr auto kSpeakers = MixerComponent::Speakers;
constexpr auto kVolume = MixerControlType::Volume;
}  // namespace

TEST(MixerPercentText, IntegerDivisionOfTheFullScale) {
    EXPECT_EQ(MixerPercentText(32768), QStringLiteral("50"));
    EXPECT_EQ(MixerPercentText(65535), QStringLiteral("100"));
    EXPECT_EQ(MixerPercentText(65534), QStringLiteral("99"));
    EXPECT_EQ(MixerPercentText(0), QStringLiteral("0"));
    EXPECT_EQ(MixerPercentText(-1), QStringLiteral("0"));
}

TEST(MioMixer, ScalesBetweenTheProgramRangeAndTheCardRange) {
    MixerControl pulse;  // PulseAudio's Master runs 0..65536
    pulse.maximum = 65536;
    EXPECT_EQ(MioMixer::ToNative(pulse, 65535), 65536);
    EXPECT_EQ(MioMixer::FromNative(pulse, 65536), 65535);
    EXPECT_EQ(MixerPercentText(MioMixer::FromNative(pulse, MioMixer::ToNative(pulse, 32768))),
              QStringLiteral("50"));

    MixerControl db;  // a card in steps of its own, with a negative floor
    db.minimum = -40;
    db.maximum = 23;
    EXPECT_EQ(MioMixer::ToNative(db, 0), -40);
    EXPECT_EQ(MioMixer::ToNative(db, 65535), 23);
    EXPECT_EQ(MioMixer::ToNative(db, 99999), 23);  // clamped, never out of the card's range
    EXPECT_EQ(MioMixer::FromNative(db, -100), 0);

    MixerControl empty;  // a degenerate range never divides by zero
    EXPECT_EQ(MioMixer::ToNative(empty, 1234), 0);
    EXPECT_EQ(MioMixer::FromNative(empty, 5), 0);
}

TEST(MioMixer, FindsReadsAndWritesControls) {
    TestMixerBackend card;
    card.addControl(kSpeakers, kVolume, 0, 65535, 32768);
    MioMixer mio(card);
    MixerControl master;
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, kVolume, master)) << "not open yet";
    ASSERT_EQ(card.open(0), 0);
    ASSERT_TRUE(mio.GetMixerControl(kSpeakers, kVolume, master));
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, MixerControlType::Treble, master));
    EXPECT_EQ(master.type, kVolume) << "a failed lookup leaves the record alone";

    EXPECT_EQ(mio.GetControlValue(master), 32768);
    EXPECT_TRUE(mio.SetControlValueStereo(master, 0, 65535));
    EXPECT_EQ(card.value(kSpeakers, kVolume, 0), 0);
    EXPECT_EQ(card.value(kSpeakers, kVolume, 1), 65535);
    EXPECT_TRUE(mio.SetControlValue(master, 100));
    EXPECT_EQ(card.value(kSpeakers, kVolume, 0), 100);
    EXPECT_EQ(card.value(kSpeakers, kVolume, 1), 65535) << "one channel only";
    EXPECT_EQ(mio.lastResult(), 0);

    card.setFailReads(true);
    EXPECT_EQ(mio.GetControlValue(master), -1);
    EXPECT_NE(mio.lastResult(), 0);
    card.setFailWrites(true);
    EXPECT_FALSE(mio.SetControlValue(master, 5));
    EXPECT_FALSE(mio.SetControlValueStereo(master, 5, 5));
}

TEST(AlsaMixerBackend, NamesTheDevicesItOpens) {
    EXPECT_EQ(AlsaMixerBackend().deviceFor(0), QStringLiteral("default"));
    EXPECT_EQ(AlsaMixerBackend().deviceFor(2), QStringLiteral("hw:1"));
    EXPECT_EQ(AlsaMixerBackend(QStringLiteral("pulse")).deviceFor(0), QStringLiteral("pulse"));
    AlsaMixerBackend missing(QStringLiteral("hw:97"));
    EXPECT_NE(missing.open(0), 0);
    EXPECT_FALSE(missing.isOpen());
    MixerControl control;
    EXPECT_FALSE(missing.findControl(kSpeakers, kVolume, control));
}

// Against the real PulseAudio server's ALSA mixer; the test script starts the server.
TEST(AlsaMixerBackend, PulseAudioServerMixer) {
    if (qEnvironmentVariable("KALLOMIR_PULSE") != QStringLiteral("1"))
        GTEST_SKIP() << "set KALLOMIR_PULSE=1 with a PulseAudio server running";
    AlsaMixerBackend card;
    ASSERT_EQ(card.open(0), 0);
    MioMixer mio(card);
    MixerControl master;
    ASSERT_TRUE(mio.GetMixerControl(kSpeakers, kVolume, master));
    EXPECT_EQ(master.name, QStringLiteral("Master"));
    MixerControl tone;
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, MixerControlType::Bass, tone));
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, MixerControlType::Treble, tone));

    const std::int32_t before = mio.GetControlValue(master);
    ASSERT_GE(before, 0);
    ASSERT_TRUE(mio.SetControlValueStereo(master, 32768, 32768));
    EXPECT_EQ(MixerPercentText(mio.GetControlValue(master)), QStringLiteral("50"));
    ASSERT_TRUE(mio.SetControlValueStereo(master, 0, 0));
    EXPECT_EQ(mio.GetControlValue(master), 0);
    mio.SetControlValueStereo(master, before, before);
}
