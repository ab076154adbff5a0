#include "SettingsTestRig.h"

#include "settings/ui/CfrmSettingsWp.h"
#include "settings/ui/FrmMixer.h"

#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

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
    EXPECT_EQ(mixer->windowTitle(), QStringLiteral("Mixer Audio"));
    EXPECT_EQ(mixer->TMaster()->text(), QStringLiteral("50"));
    EXPECT_EQ(mixer->SMaster()->value(), 32768);
    EXPECT_TRUE(mixer->SMaster()->isEnabled());
    EXPECT_EQ(mixer->TBassi()->text(), QStringLiteral("N.D."));
    EXPECT_FALSE(mixer->SBassi()->isEnabled());
    EXPECT_EQ(mixer->TAlti()->text(), QStringLiteral("N.D."));
    EXPECT_FALSE(mixer->SAlti()->isEnabled());
    // Wave output goes to full on both channels, whatever the card's range.
    EXPECT_EQ(rig.card.value(MixerComponent::WaveOut, kVolume, 0), 255);
    EXPECT_EQ(rig.card.value(MixerComponent::WaveOut, kVolume, 1), 255);
    EXPECT_EQ(rig.card.value(kSpeakers, kVolume, 0), 32768) << "loading does not write the master";

    mixer->SMaster()->setValue(0);
    EXPECT_EQ(rig.card.value(kSpeakers, kVolume, 0), 0);
    EXPECT_EQ(rig.card.value(kSpeakers, kVolume, 1), 0);
    EXPECT_EQ(mixer->TMaster()->text(), QStringLiteral("0"));
    mixer->SMaster()->setValue(65535);
    EXPECT_EQ(mixer->TMaster()->text(), QStringLiteral("100"));
}

TEST_F(MixerWindow, ToneControlsWithoutMaster) {
    rig.card.addControl(kSpeakers, MixerControlType::Bass, 0, 100, 25, 1);
    rig.card.addControl(kSpeakers, MixerControlType::Treble, 0, 100, 100, 1);
    auto mixer = load();
    EXPECT_EQ(mixer->TMaster()->text(), QStringLiteral("N.D")) << "no final dot for the master";
    EXPECT_FALSE(mixer->SMaster()->isEnabled());
    EXPECT_EQ(mixer->TBassi()->text(), QStringLiteral("25"));
    EXPECT_EQ(mixer->TAlti()->text(), QStringLiteral("100"));
    mixer->SBassi()->setValue(65535 / 2);
    EXPECT_EQ(rig.card.value(kSpeakers, MixerControlType::Bass), 50);
    EXPECT_EQ(mixer->TBassi()->text(), QStringLiteral("49"));
    mixer->SAlti()->setValue(0);
    EXPECT_EQ(rig.card.value(kSpeakers, MixerControlType::Treble), 0);
    EXPECT_EQ(mixer->TAlti()->text(), QStringLiteral("0"));
}

TEST_F(MixerWindow, RecordingValuesReachTheWaveControlAndTheStore) {
    rig.store(QStringLiteral("TimeVox"), QStringLiteral("5"));
    rig.store(QStringLiteral("RecordLevel"), QStringLiteral("-20"));
    auto mixer = load();
    // Stored values equal to the sliders' starting positions are applied too.
    EXPECT_EQ(rig.wave->voxHoldMs(), 5000);
    EXPECT_EQ(rig.wave->recordLevel(), -20);
    EXPECT_EQ(mixer->Slidervox()->value(), 10) << "absent SilenceLevel starts at 10";
    EXPECT_EQ(rig.wave->voxThreshold(), 10);
    EXPECT_EQ(rig.setting(QStringLiteral("SilenceLevel")), QStringLiteral("10"));
    EXPECT_EQ(rig.recorder->voxLabel, QString());
    EXPECT_TRUE(rig.recorder->thresholdBarVisible);

    mixer->SliderTimeVox()->setValue(15);
    EXPECT_EQ(rig.wave->voxHoldMs(), 15000);
    EXPECT_EQ(rig.setting(QStringLiteral("TimeVox")), QStringLiteral("15"));
    mixer->SliderLevel()->setValue(100);
    EXPECT_EQ(rig.wave->recordLevel(), 100);
    EXPECT_EQ(rig.setting(QStringLiteral("RecordLevel")), QStringLiteral("100"));

    mixer->Slidervox()->setValue(0);
    EXPECT_EQ(rig.wave->voxThreshold(), 0);
    EXPECT_EQ(rig.recorder->voxLabel, QStringLiteral("Vox Disabilitato"));
    EXPECT_FALSE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.recorder->levelBar, 0);
    mixer->Slidervox()->setValue(1);
    EXPECT_EQ(rig.recorder->voxLabel, QString());
    EXPECT_TRUE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.recorder->thresholdBar, 1);
    EXPECT_EQ(rig.setting(QStringLiteral("SilenceLevel")), QStringLiteral("1"));
}

TEST_F(MixerWindow, StoredVoxOffShowsItOnTheRecorder) {
    rig.store(QStringLiteral("SilenceLevel"), QStringLiteral("0"));
    rig.store(QStringLiteral("TimeVox"), QStringLiteral("99"));  // held within 5..15
    load();
    EXPECT_EQ(rig.recorder->voxLabel, QStringLiteral("Vox Disabilitato"));
    EXPECT_FALSE(rig.recorder->thresholdBarVisible);
    EXPECT_EQ(rig.wave->voxHoldMs(), 15000);
}

TEST_F(MixerWindow, WithoutAMixerOnlyTheCardSlidersAreOff) {
    rig.card.setOpenResult(-19);
    rig.store(QStringLiteral("Line Device"), QStringLiteral("Line A"));
    rig.store(QStringLiteral("TimeVox"), QStringLiteral("8"));
    auto mixer = load();
    ASSERT_EQ(rig.home.boxes.shown().size(), 1);
    EXPECT_EQ(rig.home.boxes.last().text, QStringLiteral("Non è possibile aprire il mixer "));
    EXPECT_EQ(rig.home.boxes.last().buttons, MsgButtons::Ok);
    EXPECT_FALSE(mixer->SMaster()->isEnabled());
    EXPECT_FALSE(mixer->SBassi()->isEnabled());
    EXPECT_FALSE(mixer->SAlti()->isEnabled());
    EXPECT_TRUE(mixer->SliderTimeVox()->isEnabled());
    EXPECT_EQ(rig.wave->voxHoldMs(), 8000);
    EXPECT_EQ(rig.setting(QStringLiteral("SilenceLevel")), QStringLiteral("10"));
    mixer->SliderLevel()->setValue(-5);
    EXPECT_EQ(rig.wave->recordLevel(), -5);
    EXPECT_TRUE(rig.tapi->lineOpen()) << "the line settings are applied all the same";
}

TEST_F(MixerWindow, LoadReappliesTheLineSettings) {
    rig.store(QStringLiteral("Line Device"), QStringLiteral("Line B"));
    load();
    EXPECT_TRUE(rig.tapi->lineOpen());
    EXPECT_EQ(rig.tapi->lineName(), QStringLiteral("Line B"));
    EXPECT_EQ(rig.tapi->callPrivilege(), 4);
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
    // A slider with the focus passes the digits on to the window.
    QTest::keyClick(mixer->Slidervox(), Qt::Key_1);
    EXPECT_EQ(rig.player.rewinds, (QList<int>{51, 105, 49}));
}

TEST_F(MixerWindow, SettingsDialogPlacesTheVoxHoldTime) {
    auto mixer = load();
    rig.forms->setMixer(*mixer);
    rig.wave->setVoxHoldMs(11400);
    CfrmSettingsWp dialog(rig.ctx());
    dialog.SetTapiControl(*rig.tapi);
    dialog.SetWaveControl(*rig.wave);
    dialog.Form_Load();
    EXPECT_EQ(mixer->SliderTimeVox()->value(), 11);
    EXPECT_EQ(rig.wave->voxHoldMs(), 11000);
    EXPECT_EQ(rig.setting(QStringLiteral("TimeVox")), QStringLiteral("11"));
}
