#pragma once

#include <QKeySequence>
#include <QString>

#include <array>

namespace kallomir {

class UserSettings;

// The keys and pedal of the transcription tools, kept in the per-user settings (section
// "Settings"). Keys must not be keys the operator types with: function keys, or Ctrl/Alt
// combinations the editor does not use itself.
enum class TranscriptionAction {
    PlayPause,
    Back,
    Forward,
    Slower,
    Faster,
    InsertTimestamp,
    GoToTimestamp,
};
inline constexpr int kTranscriptionActionCount = 7;

// What a pedal button does. Hold-to-play plays while the button is down.
enum class PedalAction {
    None,
    PlayPause,
    HoldToPlay,
    Back,
    Forward,
    Slower,
    Faster,
    InsertTimestamp,
};
inline constexpr int kPedalActionCount = 8;
inline constexpr int kPedalButtons = 3;  // left, middle, right

struct TranscriptionSettings {
    std::array<QKeySequence, kTranscriptionActionCount> keys;
    int jumpSeconds = 3;        // back and forward, 1..30
    int autoRewindSeconds = 2;  // on every resume after a pause, 0..10
    int tempoTenths = 10;       // "Velocità", 5..20
    QString pedalDevice;        // empty: no pedal
    std::array<PedalAction, kPedalButtons> pedal{PedalAction::Back, PedalAction::HoldToPlay,
                                                 PedalAction::Forward};

    QKeySequence key(TranscriptionAction a) const { return keys[static_cast<size_t>(a)]; }
    static TranscriptionSettings Defaults();
    // Missing, unreadable or unusable values fall back to the defaults, one by one.
    static TranscriptionSettings Load(const UserSettings& settings);
    void save(UserSettings& settings) const;
    bool operator==(const TranscriptionSettings&) const = default;
};

QString ActionCaption(TranscriptionAction action);  // as the key dialog shows it
QString PedalActionCaption(PedalAction action);
QString PedalButtonCaption(int button);  // "Sinistro", "Centrale", "Destro"

// Why a key cannot be used for a tool (empty when it can).
QString KeyProblem(const QKeySequence& key);
// The first problem of a whole set: an unusable key, a key given twice, a value out of range.
QString SettingsProblem(const TranscriptionSettings& settings);

}  // namespace kallomir
