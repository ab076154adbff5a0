#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kallomir {

struct AppContext;
class RetryBudget;
class TelephonyControl;
class WaveControl;

// "Parametri": chooses the telephony line, the sound cards, the record format, the answering
// and recall rules and the recordings folder. Device and format choices are stored as soon
// as they are made; the rest on OK. The telephony line stays closed while the dialog is open.
class CfrmSettingsWp : public QDialog {
    Q_OBJECT
public:
    explicit CfrmSettingsWp(AppContext& ctx, QWidget* parent = nullptr);
    ~CfrmSettingsWp() override;

    void SetTapiControl(TelephonyControl& control) { tapi_ = &control; }
    void SetWaveControl(WaveControl& control) { wave_ = &control; }
    // Reopens the recorder's line with the stored device; needs nothing of this window.
    void TransferSettings();

    // Runs the load (once) and shows the dialog modally.
    int exec() override;
    // Every way out (OK, Annulla, Esc, closing the window) ends in the unload.
    void done(int result) override;
    // Accepting the dialog by any means (OK, its shortcut, Enter) is OK's click, with its checks.
    void accept() override;

    // Window events and control handlers.
    void Form_Load();
    void Form_Unload();
    void ComboLineName_Click();
    void ComboSoundCardOut_Click();
    void ComboSoundCardIn_Click();
    void ComboRecordFormat_Click();
    void CheckAutoAnswer_Click();
    void Slider1_Scroll();
    void TextRingsBeforeAnswer_LostFocus();
    // False when the key is discarded.
    bool txtParm_KeyPress(int index, QChar key);
    void txtParm_LostFocus(int index);
    void ComboFolder_LostFocus();
    void CommandOk_Click();
    void cmdCancel_Click();
    void Command1_Click();
    void CommandCaps_Click();
    void CommandWaveOutCaps_Click();
    void CommandWaveInCaps_Click();

    bool isLoaded() const { return loaded_; }
    bool isUnloaded() const { return unloaded_; }

    QComboBox* ComboLineName() const { return comboLineName_; }
    QPushButton* CommandCaps() const { return commandCaps_; }
    QLabel* LabelTAPIVer() const { return labelTapiVer_; }
    QComboBox* ComboSoundCardIn() const { return comboSoundCardIn_; }
    QComboBox* ComboSoundCardOut() const { return comboSoundCardOut_; }
    QComboBox* ComboRecordFormat() const { return comboRecordFormat_; }
    QRadioButton* OptionWaveDevice(int index) const { return optionWaveDevice_.at(index); }
    QPushButton* CommandWaveInCaps() const { return commandWaveInCaps_; }
    QPushButton* CommandWaveOutCaps() const { return commandWaveOutCaps_; }
    QCheckBox* CheckAutoAnswer() const { return checkAutoAnswer_; }
    QLineEdit* TextRingsBeforeAnswer() const { return textRings_; }
    QCheckBox* CheckRecall() const { return checkRecall_; }
    QSlider* Slider1() const { return slider1_; }
    QLineEdit* Txtrecall() const { return txtRecall_; }
    QLineEdit* TextTelephoneNumber() const { return textTelephoneNumber_; }
    QLineEdit* txtParm(int index) const { return txtParm_.at(index); }
    QComboBox* ComboFolder() const { return comboFolder_; }
    QPushButton* CommandOk() const { return commandOk_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }
    QPushButton* Command1() const { return command1_; }
    QComboBox* Combo1(int index) const { return combo1_.at(index); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    TelephonyControl& tapi() const;
    WaveControl& wave() const;
    void fillSoundCards(QComboBox* combo, bool output, const QString& key, RetryBudget& budget);
    bool askRetry(const QString& text);
    bool refuseInvalidInput();
    bool refuseFolderBoxes();
    void leaveAfterFocusOut(QWidget* widget);
    void setFolderBox(int index, const QString& text);
    void focusWithoutChecks(QWidget* widget);

    AppContext& ctx_;
    TelephonyControl* tapi_ = nullptr;
    WaveControl* wave_ = nullptr;
    bool loaded_ = false;
    bool unloaded_ = false;
    bool loadingSlider_ = false;
    bool checking_ = false;    // a leave check is showing its message
    bool refocusing_ = false;  // a check is putting the focus back

    QComboBox* comboLineName_;
    QPushButton* commandCaps_;
    QLabel* labelTapiVer_;
    QComboBox* comboSoundCardIn_;
    QComboBox* comboSoundCardOut_;
    QComboBox* comboRecordFormat_;
    std::array<QRadioButton*, 2> optionWaveDevice_;
    QPushButton* commandWaveInCaps_;
    QPushButton* commandWaveOutCaps_;
    QCheckBox* checkAutoAnswer_;
    QLineEdit* textRings_;
    QCheckBox* checkRecall_;
    QSlider* slider1_;
    QLineEdit* txtRecall_;
    QLineEdit* textTelephoneNumber_;
    std::array<QLineEdit*, 2> txtParm_;
    QComboBox* comboFolder_;
    QPushButton* commandOk_;
    QPushButton* cmdCancel_;
    QPushButton* command1_;
    std::array<QComboBox*, 3> combo1_;
};

// Opens the settings dialog modally over `owner` with the recorder window's controls;
// throws RuntimeError when the dialog cannot be opened.
void OpenSettingsDialog(AppContext& ctx, QWidget* owner);

}  // namespace kallomir
