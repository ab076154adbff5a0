#pragma once

#include "core/FormLinks.h"
#include "settings/MioMixer.h"

#include <QWidget>

#include <memory>

class QLineEdit;
class QSlider;

namespace kallomir {

struct AppContext;

// "Mixer Audio": the card's master volume, bass and treble, and the recording level, VOX
// threshold and VOX hold time of the recorder's wave control (stored at each change).
class FrmMixer : public QWidget, public MixerLink {
    Q_OBJECT
public:
    explicit FrmMixer(AppContext& ctx, QWidget* parent = nullptr);
    ~FrmMixer() override;

    void setTimeVoxSlider(int seconds) override;

    // Window events and slider handlers.
    void Form_Load();
    void Form_Unload();
    void SMaster_Scroll();
    void SBassi_Scroll();
    void SAlti_Scroll();
    void SliderLevel_Change();
    void SliderTimeVox_Change();
    void Slidervox_Change();
    // key: the key code, 49-57 for the digits 1-9 and 97-105 for the keypad's.
    void Form_KeyDown(int keyCode);

    QSlider* SMaster() const { return sMaster_; }
    QLineEdit* TMaster() const { return tMaster_; }
    QSlider* SBassi() const { return sBassi_; }
    QLineEdit* TBassi() const { return tBassi_; }
    QSlider* SAlti() const { return sAlti_; }
    QLineEdit* TAlti() const { return tAlti_; }
    QSlider* SliderLevel() const { return sliderLevel_; }
    QSlider* Slidervox() const { return sliderVox_; }
    QSlider* SliderTimeVox() const { return sliderTimeVox_; }
    bool mixerOpened() const { return mixerOpened_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildWindow();
    // Reads one tone or volume control into its slider and box; false when the card lacks it.
    bool loadControl(MixerControlType type, MixerControl& control, QSlider* slider, QLineEdit* box,
                     const QString& missingText);
    void setQuietly(QSlider* slider, int value);

    AppContext& ctx_;
    std::unique_ptr<MioMixer> mio_;
    bool mixerOpened_ = false;
    bool loading_ = false;
    MixerControl master_;
    MixerControl waveOut_;
    MixerControl treble_;
    MixerControl bass_;

    QSlider* sMaster_;
    QLineEdit* tMaster_;
    QSlider* sBassi_;
    QLineEdit* tBassi_;
    QSlider* sAlti_;
    QLineEdit* tAlti_;
    QSlider* sliderLevel_;
    QSlider* sliderVox_;
    QSlider* sliderTimeVox_;
};

}  // namespace kallomir
