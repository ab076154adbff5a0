#include "SettingsTestRig.h"

#include "settings/ui/CfrmSettingsWp.h"
#include "settings/ui/FrmMixer.h"

#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;
using namespace Qt::StringLiterals;

namespace {

constexpr auto kSpeakers = MixerComponent::Speakers;
constexpr auto kVolume = MixerControlType::Volume;

class MixerWindow : public ::testing::Test {
protected:
    std::unique_ptr<FrmMixer> load() {
        auto mixer = std::make_unique<FrmMixer>(rig.ctx());
        mixer->Form_Load();
        return mixer;
    }
    SettingsRig rig;
};

}  // namespace

TEST_F(MixerWindow, CardWithMasterOnly) {
    rig.card.addControl(kSpeakers, kVolume, 0, 65535, 32768);
    rig.card.addControl(MixerComponent::WaveOut, kVolume, 0, 255, 10);
    auto mixer = load();
    EXPECT_EQ(mixer->TMaster()->text(), u"50"_s);
    EXPECT_EQ(mixer->SMaster()->value(), 32768);
    EXPECT_EQ(mixer->TBassi()->text(), u"N.D."_s);
    EXPECT_FALSE(mixer->SBassi()->isEnabled());
    EXPECT_EQ(mixer->TAlti()->text(), u"N.D."_s);
    EXPECT_FALSE(mixer->SAlti()->isEnabled());
    // Wave output goes to full on both channels, whatever the card's range.
    EXPECT_EQ(rig.card.value(MixerComponent::WaveOut, kVolume, 0), 255);
    EXPECT_EQ(rig.card.value(MixerComponent::WaveOut, kVolume, 1), 255);
    EXPECT_EQ(rig.card.writes().size(), 2) << "loading writes nothing else";

    mixer->SMaster()->setValue(0);
    EXPECT_EQ(rig.card.value(kSpeakers, kVolume, 0), 0);
    EXPECT_EQ(rig.card.value(kSpeakers, kVolume, 1), 0);
    EXPECT_EQ(mixer->TMaster()->text(), u"0"_s);
}

TEST_F(MixerWindow, ToneControlsWithoutMaster) {
    rig.card.addControl(kSpeakers, MixerControlType::Bass, 0, 100, 25, 1);
    rig.card.addControl(kSpeakers, MixerControlType::Treble, 0, 100, 100, 1);
    auto mixer = load();
    EXPECT_EQ(mixer->TMaster()->text(), u"N.D"_s) << "no final dot for the master";
    EXPECT_FALSE(mixer->SMaster()->isEnabled());
    EXPECT_EQ(mixer->TBassi()->text(), u"25"_s);
    EXPECT_EQ(mixer->TAlti()->text(), u"100"_s);
    mixer->SBassi()->setValue(65535 / 2);
    EXPECT_EQ(rig.card.value(kSpeakers, MixerControlType::Bass), 50);
    EXPECT_EQ(mixer->TBassi()->text(), u"49"_s);
    mixer->SAlti()->setValue(0);
    EXPECT_EQ(rig.card.value(kSpeakers, MixerControlType::Treble), 0);
}

TEST_F(MixerWindow, RecordingValuesReachTheWaveControlAndTheStore) {
    rig.store(u"TimeVox"_s, u"5"_s);
    rig.store(u"RecordLevel"_s, u"-20"_s);
    auto mixer = load();
    // Stored values equal to the sliders' starting positions are applied too.
    EXPECT_EQ(rig.wave->voxHoldMs(), 5000);
    EXPECT_EQ(rig.wave->recordLevel(), -20);
    EXPECT_EQ(mixer->Slidervox()->value(), 10) << "absent SilenceLevel starts at 10";
    EXPECT_EQ(rig.wave->voxThreshold(), 10);
    EXPECT_EQ(rig.setting(u"SilenceLevel"_s), u"10"_s);

    mixer->SliderTimeVox()->setValue(15);
    EXPECT_EQ(rig.wave->voxHoldMs(), 15000);
    EXPECT_EQ(rig.setting(u"TimeVox"_s), u"15"_s);
    mixer->SliderLevel()->setValue(100);
    EXPECT_EQ(rig.wave->recordLevel(), 100);
    EXPECT_EQ(rig.setting(u"RecordLevel"_s), u"100"_s);

    mixer->Slidervox()->setValue(0);
    EXPECT_EQ(rig.wave->voxThreshold(), 0);
    EXPECT_EQ(rig.recorder->voxLabel, u"Vox Disabilitato"_s);
    EXPECT_FALSE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.recorder->levelBar, 0);
    mixer->Slidervox()->setValue(1);
    EXPECT_EQ(rig.recorder->voxLabel, QString());
    EXPECT_TRUE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.recorder->thresholdBar, 1);
}

TEST_F(MixerWindow, StoredVoxOffShowsOnTheRecorder) {
    rig.store(u"SilenceLevel"_s, u"0"_s);
    rig.store(u"TimeVox"_s, u"99"_s);  // held within 5..15
    load();
    EXPECT_EQ(rig.recorder->voxLabel, u"Vox Disabilitato"_s);
    EXPECT_FALSE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.wave->voxHoldMs(), 15000);
}

TEST_F(MixerWindow, WithoutAMixerOnlyTheCardSlidersAreOff) {
    rig.card.setOpenResult(-19);
    rig.store(u"Line Device"_s, u"Line B"_s);
    rig.store(u"TimeVox"_s, u"8"_s);
    auto mixer = load();
    EXPECT_EQ(rig.boxes().texts(), QStringList{u"Non è possibile aprire il mixer "_s});
    EXPECT_EQ(rig.boxes().last().buttons, MsgButtons::Ok);
    EXPECT_FALSE(mixer->SMaster()->isEnabled());
    EXPECT_FALSE(mixer->SBassi()->isEnabled());
    EXPECT_FALSE(mixer->SAlti()->isEnabled());
    EXPECT_EQ(rig.wave->voxHoldMs(), 8000);
    EXPECT_EQ(rig.setting(u"SilenceLevel"_s), u"10"_s);
    mixer->SliderLevel()->setValue(-5);
    EXPECT_EQ(rig.wave->recordLevel(), -5);
    // The load still ends by reopening the line with the stored device.
    EXPECT_TRUE(rig.tapi->lineOpen());
    EXPECT_EQ(rig.tapi->lineName(), u"Line B"_s);
}

TEST_F(MixerWindow, DigitKeysRewindOnlyWhilePlaying) {
    auto mixer = load();
    QTest::keyClick(mixer.get(), Qt::Key_3);
    EXPECT_TRUE(rig.player.rewinds.isEmpty());
    rig.player.playing = true;
    QTest::keyClick(mixer.get(), Qt::Key_3);
    QTest::keyClick(mixer.get(), Qt::Key_9, Qt::KeypadModifier);
    QTest::keyClick(mixer.get(), Qt::Key_0);
    QTest::keyClick(mixer.get(), Qt::Key_A);
    QTest::keyClick(mixer->Slidervox(), Qt::Key_1);  // a focused slider passes digits on
    EXPECT_EQ(rig.player.rewinds, (QList<int>{51, 105, 49}));
}

TEST_F(MixerWindow, SettingsDialogPlacesTheVoxHoldTime) {
    auto mixer = load();
    rig.forms.mixerWindow = mixer.get();
    rig.wave->setVoxHoldMs(11400);
    CfrmSettingsWp dialog(rig.ctx());
    dialog.SetTapiControl(*rig.tapi);
    dialog.SetWaveControl(*rig.wave);
    dialog.Form_Load();
    EXPECT_EQ(mixer->SliderTimeVox()->value(), 11);
    EXPECT_EQ(rig.wave->voxHoldMs(), 11000);
    EXPECT_EQ(rig.setting(u"TimeVox"_s), u"11"_s);
}

// Pictures of both windows for a person to look at: set KALLOMIR_SCREENSHOTS to a folder and
// run on a real display (for example Xvfb with QT_QPA_PLATFORM=xcb).
TEST_F(MixerWindow, Screenshots) {
    const QString folder = qEnvironmentVariable("KALLOMIR_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "set KALLOMIR_SCREENSHOTS to a folder";
    rig.card.addControl(kSpeakers, kVolume, 0, 65535, 32768);
    auto mixer = load();
    mixer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mixer.get()));
    EXPECT_TRUE(mixer->grab().save(folder + u"/mixer.png"_s));
    rig.store(u"Line Device"_s, u"Line A"_s);
    rig.store(u"Sound Card Input"_s, u"1"_s);
    rig.store(u"Record Format"_s, u"8"_s);
    CfrmSettingsWp dialog(rig.ctx());
    dialog.SetTapiControl(*rig.tapi);
    dialog.SetWaveControl(*rig.wave);
    dialog.Form_Load();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.grab().save(folder + u"/settings.png"_s));
}
