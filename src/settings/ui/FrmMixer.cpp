#include "settings/ui/FrmMixer.h"

#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "recorder/RecorderSession.h"
#include "settings/SettingsRules.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

namespace kallomir {

namespace {

const QString kSettingsSection = QStringLiteral("settings");
const QString kVoxDisabled = QStringLiteral("Vox Disabilitato");

QSlider* MakeSlider(int minimum, int maximum, int small, int large) {
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(small);
    slider->setPageStep(large);
    slider->setMinimumWidth(220);
    return slider;
}

QLineEdit* MakePercentBox() {
    auto* box = new QLineEdit;
    box->setReadOnly(true);
    box->setMaximumWidth(48);
    return box;
}

}  // namespace

FrmMixer::FrmMixer(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    buildWindow();
}

FrmMixer::~FrmMixer() {
    Form_Unload();
}

void FrmMixer::buildWindow() {
    setWindowTitle(QStringLiteral("Mixer Audio"));
    sMaster_ = MakeSlider(0, 65535, 100, 10000);
    tMaster_ = MakePercentBox();
    sBassi_ = MakeSlider(0, 65535, 100, 10000);
    tBassi_ = MakePercentBox();
    sAlti_ = MakeSlider(0, 65535, 100, 10000);
    tAlti_ = MakePercentBox();
    sliderLevel_ = MakeSlider(-100, 100, 1, 5);
    sliderVox_ = MakeSlider(0, 100, 1, 5);
    sliderTimeVox_ = MakeSlider(5, 15, 1, 1);

    auto* layout = new QGridLayout(this);
    int row = 0;
    const auto addRow = [&](const QString& label, QSlider* slider, QLineEdit* box) {
        layout->addWidget(new QLabel(label), row, 0);
        layout->addWidget(slider, row, 1);
        if (box != nullptr)
            layout->addWidget(box, row, 2);
        ++row;
    };
    addRow(QStringLiteral("Volume "), sMaster_, tMaster_);
    addRow(QStringLiteral("BASSI"), sBassi_, tBassi_);
    addRow(QStringLiteral("ALTI"), sAlti_, tAlti_);
    addRow(QStringLiteral("Sensibilità rec"), sliderLevel_, nullptr);
    addRow(QStringLiteral("Sensibilità Vox"), sliderVox_, nullptr);
    addRow(QStringLiteral("Tempo Vox"), sliderTimeVox_, nullptr);
    setFocusPolicy(Qt::StrongFocus);

    // The card's controls follow the operator's moves only; the recording values follow
    // every change.
    connect(sMaster_, &QSlider::valueChanged, this, [this] {
        if (!loading_)
            SMaster_Scroll();
    });
    connect(sBassi_, &QSlider::valueChanged, this, [this] {
        if (!loading_)
            SBassi_Scroll();
    });
    connect(sAlti_, &QSlider::valueChanged, this, [this] {
        if (!loading_)
            SAlti_Scroll();
    });
    connect(sliderLevel_, &QSlider::valueChanged, this, [this] { SliderLevel_Change(); });
    connect(sliderVox_, &QSlider::valueChanged, this, [this] { Slidervox_Change(); });
    connect(sliderTimeVox_, &QSlider::valueChanged, this, [this] { SliderTimeVox_Change(); });
}

bool FrmMixer::loadControl(MixerControlType type, MixerControl& control, QSlider* slider,
                           QLineEdit* box, const QString& missingText) {
    if (!mio_->GetMixerControl(MixerComponent::Speakers, type, control)) {
        box->setText(missingText);
        slider->setEnabled(false);
        return false;
    }
    const std::int32_t value = mio_->GetControlValue(control);
    box->setText(MixerPercentText(value));
    slider->setValue(value);
    return true;
}

void FrmMixer::setQuietly(QSlider* slider, int value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
}

void FrmMixer::Form_Load() {
    loading_ = true;
    const int opened = ctx_.mixer != nullptr ? ctx_.mixer->open(0) : -1;
    mixerOpened_ = opened == 0;
    if (!mixerOpened_) {
        ctx_.boxes.show(QStringLiteral("Non è possibile aprire il mixer "));
        // Without a card mixer only its three sliders are out of use.
        for (QSlider* slider : {sMaster_, sBassi_, sAlti_}) slider->setEnabled(false);
    } else {
        mio_ = std::make_unique<MioMixer>(*ctx_.mixer);
        loadControl(MixerControlType::Treble, treble_, sAlti_, tAlti_, QStringLiteral("N.D."));
        loadControl(MixerControlType::Bass, bass_, sBassi_, tBassi_, QStringLiteral("N.D."));
        loadControl(MixerControlType::Volume, master_, sMaster_, tMaster_, QStringLiteral("N.D"));
        if (mio_->GetMixerControl(MixerComponent::WaveOut, MixerControlType::Volume, waveOut_))
            mio_->SetControlValueStereo(waveOut_, MioMixer::kFullScale, MioMixer::kFullScale);
    }
    loading_ = false;

    // The stored recording values reach the wave control even when they equal the
    // sliders' starting positions.
    const auto stored = [this](const char* key, const char* fallback) {
        return ToInt32(
            Val(ctx_.settings.get(QString::fromLatin1(key), QString::fromLatin1(fallback))));
    };
    setQuietly(sliderTimeVox_, stored("TimeVox", "5"));
    SliderTimeVox_Change();
    setQuietly(sliderLevel_, stored("RecordLevel", "0"));
    SliderLevel_Change();
    setQuietly(sliderVox_, stored("SilenceLevel", "10"));
    Slidervox_Change();

    kallomir::TransferSettings(ctx_);
}

void FrmMixer::Form_Unload() {
    if (mio_ != nullptr)
        mio_->backend().close();
    mio_.reset();
    mixerOpened_ = false;
}

void FrmMixer::setTimeVoxSlider(int seconds) {
    sliderTimeVox_->setValue(seconds);
}

void FrmMixer::SMaster_Scroll() {
    if (mio_ == nullptr)
        return;
    const int value = sMaster_->value();
    mio_->SetControlValueStereo(master_, value, value);
    tMaster_->setText(MixerPercentText(value));
}

void FrmMixer::SBassi_Scroll() {
    if (mio_ == nullptr)
        return;
    mio_->SetControlValue(bass_, sBassi_->value());
    tBassi_->setText(MixerPercentText(sBassi_->value()));
}

void FrmMixer::SAlti_Scroll() {
    if (mio_ == nullptr)
        return;
    mio_->SetControlValue(treble_, sAlti_->value());
    tAlti_->setText(MixerPercentText(sAlti_->value()));
}

void FrmMixer::SliderLevel_Change() {
    try {
        const int value = sliderLevel_->value();
        ctx_.forms->recorder().session().setRecordLevel(static_cast<qint16>(value));
        ctx_.settings.save(QStringLiteral("RecordLevel"), QString::number(value), kSettingsSection);
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("SliderRecordVolume_Change"));
    }
}

void FrmMixer::SliderTimeVox_Change() {
    const int value = sliderTimeVox_->value();
    ctx_.forms->recorder().session().setVoxHoldMs(static_cast<qint16>(value * 1000));
    ctx_.settings.save(QStringLiteral("TimeVox"), QString::number(value), kSettingsSection);
}

void FrmMixer::Slidervox_Change() {
    const int value = sliderVox_->value();
    RecorderLink& recorder = ctx_.forms->recorder();
    recorder.session().setVoxThreshold(static_cast<qint16>(value));
    recorder.setLevelBar(value);
    recorder.setVoxThresholdBar(value, value != 0);
    ctx_.settings.save(QStringLiteral("SilenceLevel"), QString::number(value), kSettingsSection);
    recorder.setVoxLabel(value == 0 ? kVoxDisabled : QString());
}

void FrmMixer::Form_KeyDown(int keyCode) {
    const bool digit = (keyCode >= 49 && keyCode <= 57) || (keyCode >= 97 && keyCode <= 105);
    if (!digit)
        return;
    PlayerLink& player = ctx_.forms->player();
    if (player.playbackActive())
        player.rewindByDigitKey(keyCode);
}

void FrmMixer::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
        Form_KeyDown((keypad ? 97 : 49) + (key - Qt::Key_1));
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace kallomir
