#pragma once

#include "controls/playback/PedalDevices.h"
#include "player/TranscriptionKeys.h"

#include <QDialog>

#include <array>
#include <vector>

class QComboBox;
class QKeySequenceEdit;
class QLabel;
class QSpinBox;

namespace kallomir {

class MessageBoxService;

// "Tasti e pedale": the keys of the transcription tools, the jump and auto-rewind times, and
// the foot pedal with what each of its buttons does. OK refuses keys that collide with typing
// or with each other, with the reason.
class TranscriptionToolsDialog : public QDialog {
    Q_OBJECT
public:
    TranscriptionToolsDialog(MessageBoxService& boxes, const TranscriptionSettings& settings,
                             const std::vector<PedalInfo>& pedals, const QString& pedalState,
                             QWidget* parent = nullptr);

    TranscriptionSettings settings() const;
    void accept() override;

    // The controls, for the tests.
    std::array<QKeySequenceEdit*, kTranscriptionActionCount> keyEdits{};
    QSpinBox* jump = nullptr;
    QSpinBox* autoRewind = nullptr;
    QComboBox* pedalDevice = nullptr;
    std::array<QComboBox*, kPedalButtons> pedalButtons{};
    QLabel* pedalStatus = nullptr;

private:
    MessageBoxService& boxes_;
    int tempoTenths_;
};

}  // namespace kallomir
