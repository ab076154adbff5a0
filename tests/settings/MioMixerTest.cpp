#include "settings/AlsaMixerBackend.h"
#include "settings/MioMixer.h"
#include "support/TestMixerBackend.h"

#include <gtest/gtest.h>

using namespace kallomir;
using namespace Qt::StringLiterals;

namespace {
constexpr auto kSpeakers = MixerComponent::Speakers;
constexpr auto kVolume = MixerControlType::Volume;
}  // namespace

TEST(MioMixer, PercentAndScalingToTheCardsRange) {
    EXPECT_EQ(MixerPercentText(32768), u"50"_s);
    EXPECT_EQ(MixerPercentText(65534), u"99"_s);
    EXPECT_EQ(MixerPercentText(-1), u"0"_s);
    MixerControl pulse;  // PulseAudio's Master runs 0..65536
    pulse.maximum = 65536;
    EXPECT_EQ(MioMixer::ToNative(pulse, 65535), 65536);
    EXPECT_EQ(MioMixer::FromNative(pulse, 65536), 65535);
    MixerControl steps;  // a card with a range of its own and a negative floor
    steps.minimum = -40;
    steps.maximum = 23;
    EXPECT_EQ(MioMixer::ToNative(steps, 0), -40);
    EXPECT_EQ(MioMixer::ToNative(steps, 99999), 23) << "never outside the card's range";
    EXPECT_EQ(MioMixer::FromNative(steps, -100), 0);
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
    EXPECT_EQ(card.value(kSpeakers, kVolume, 1), 65535) << "one channel only";
    card.setFailReads(true);
    card.setFailWrites(true);
    EXPECT_EQ(mio.GetControlValue(master), -1);
    EXPECT_NE(mio.lastResult(), 0);
    EXPECT_FALSE(mio.SetControlValueStereo(master, 5, 5));
}

TEST(AlsaMixerBackend, MissingCardDoesNotOpen) {
    EXPECT_EQ(AlsaMixerBackend().deviceFor(0), u"default"_s);
    AlsaMixerBackend missing(u"hw:97"_s);
    EXPECT_NE(missing.open(0), 0);
    MixerControl control;
    EXPECT_FALSE(missing.findControl(kSpeakers, kVolume, control));
}

// Against the real PulseAudio server's ALSA mixer; the test script starts the server.
TEST(AlsaMixerBackend, PulseAudioServerMixer) {
    if (qEnvironmentVariable("KALLOMIR_PULSE") != u"1"_s)
        GTEST_SKIP() << "set KALLOMIR_PULSE=1 with a PulseAudio server running";
    AlsaMixerBackend card;
    ASSERT_EQ(card.open(0), 0);
    MioMixer mio(card);
    MixerControl master;
    ASSERT_TRUE(mio.GetMixerControl(kSpeakers, kVolume, master));
    EXPECT_EQ(master.name, u"Master"_s);
    MixerControl tone;
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, MixerControlType::Bass, tone));
    EXPECT_FALSE(mio.GetMixerControl(kSpeakers, MixerControlType::Treble, tone));
    const std::int32_t before = mio.GetControlValue(master);
    ASSERT_GE(before, 0);
    ASSERT_TRUE(mio.SetControlValueStereo(master, 32768, 32768));
    EXPECT_EQ(MixerPercentText(mio.GetControlValue(master)), u"50"_s);
    ASSERT_TRUE(mio.SetControlValueStereo(master, 0, 0));
    EXPECT_EQ(mio.GetControlValue(master), 0);
    mio.SetControlValueStereo(master, before, before);
}
