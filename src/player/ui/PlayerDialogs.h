#pragma once

#include "controls/playback/PedalDevices.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>
#include <vector>

class QTextDocument;
class QWidget;

namespace kallomir {

class MessageBoxService;
struct TranscriptionSettings;

// The common dialogs the transcription editor opens; tests answer them without a screen.
class PlayerDialogs {
public:
    virtual ~PlayerDialogs() = default;
    // A file name, or nothing when the operator cancels.
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                                const QString& filter) = 0;
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter) = 0;
    virtual std::optional<QFont> font(QWidget* parent, const QFont& initial) = 0;
    virtual std::optional<QColor> color(QWidget* parent, const QColor& initial) = 0;
    // Shows the printer dialog and prints the document; false when cancelled.
    virtual bool print(QWidget* parent, QTextDocument& document) = 0;
    // The keys and pedal of the transcription tools; true (and the choice in settings) when
    // the operator confirms.
    virtual bool transcriptionTools(QWidget* parent, MessageBoxService& boxes,
                                    TranscriptionSettings& settings,
                                    const std::vector<PedalInfo>& pedals,
                                    const QString& pedalState) = 0;
};

// The platform's own dialogs.
class QtPlayerDialogs : public PlayerDialogs {
public:
    std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    std::optional<QFont> font(QWidget* parent, const QFont& initial) override;
    std::optional<QColor> color(QWidget* parent, const QColor& initial) override;
    bool print(QWidget* parent, QTextDocument& document) override;
    bool transcriptionTools(QWidget* parent, MessageBoxService& boxes,
                            TranscriptionSettings& settings, const std::vector<PedalInfo>& pedals,
                            const QString& pedalState) override;
};

}  // namespace kallomir
