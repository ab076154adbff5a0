#include "player/TranscriptionKeys.h"

#include "core/SettingsStore.h"

#include <QStringList>

namespace kallomir {

namespace {

struct ActionInfo {
    const char* setting;
    const char* caption;
    const char* key;
};

// Function keys by default, as the dedicated transcription players have them: both hands
// stay on the keyboard and nothing collides with typing.
constexpr ActionInfo kActions[kTranscriptionActionCount] = {
    {"KeyPlayPause", "Ascolta / Pausa", "F4"},
    {"KeyBack", "Indietro", "F7"},
    {"KeyForward", "Avanti", "F8"},
    {"KeySlower", "Più lento", "F2"},
    {"KeyFaster", "Più veloce", "F3"},
    {"KeyTimestamp", "Inserisci il tempo", "F6"},
    {"KeyGoToTimestamp", "Vai al tempo sotto il cursore", "F5"},
};

constexpr const char* kPedalSettings[kPedalButtons] = {"PedalLeft", "PedalMiddle", "PedalRight"};

constexpr const char* kPedalCaptions[kPedalActionCount] = {
    "Nessuna",   "Ascolta / Pausa", "Ascolta finché premuto", "Indietro", "Avanti",
    "Più lento", "Più veloce",      "Inserisci il tempo",
};

int IntSetting(const UserSettings& s, const char* key, int fallback, int low, int high) {
    bool ok = false;
    const int v = s.get(QString::fromLatin1(key), QString()).trimmed().toInt(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

}  // namespace

TranscriptionSettings TranscriptionSettings::Defaults() {
    TranscriptionSettings d;
    for (int i = 0; i < kTranscriptionActionCount; ++i)
        d.keys[static_cast<size_t>(i)] = QKeySequence(QString::fromLatin1(kActions[i].key));
    return d;
}

TranscriptionSettings TranscriptionSettings::Load(const UserSettings& settings) {
    TranscriptionSettings t = Defaults();
    for (int i = 0; i < kTranscriptionActionCount; ++i) {
        const QString text = settings.get(QString::fromLatin1(kActions[i].setting), QString());
        const QKeySequence key = QKeySequence::fromString(text, QKeySequence::PortableText);
        if (!text.isEmpty() && key.count() == 1 && KeyProblem(key).isEmpty())
            t.keys[static_cast<size_t>(i)] = key;
    }
    // Two actions on one key would leave one of them dead: the defaults then.
    if (!SettingsProblem(t).isEmpty())
        t.keys = Defaults().keys;
    t.jumpSeconds = IntSetting(settings, "JumpSeconds", t.jumpSeconds, 1, 30);
    t.autoRewindSeconds = IntSetting(settings, "AutoRewind", t.autoRewindSeconds, 0, 10);
    t.tempoTenths = IntSetting(settings, "Velocita", t.tempoTenths, 5, 20);
    t.pedalDevice = settings.get(QStringLiteral("PedalDevice"), QString()).trimmed();
    for (int b = 0; b < kPedalButtons; ++b) {
        t.pedal[static_cast<size_t>(b)] = static_cast<PedalAction>(IntSetting(
            settings, kPedalSettings[b], static_cast<int>(t.pedal[static_cast<size_t>(b)]), 0,
            kPedalActionCount - 1));
    }
    return t;
}

void TranscriptionSettings::save(UserSettings& settings) const {
    for (int i = 0; i < kTranscriptionActionCount; ++i) {
        settings.save(QString::fromLatin1(kActions[i].setting),
                      keys[static_cast<size_t>(i)].toString(QKeySequence::PortableText));
    }
    settings.save(QStringLiteral("JumpSeconds"), QString::number(jumpSeconds));
    settings.save(QStringLiteral("AutoRewind"), QString::number(autoRewindSeconds));
    settings.save(QStringLiteral("Velocita"), QString::number(tempoTenths));
    settings.save(QStringLiteral("PedalDevice"), pedalDevice);
    for (int b = 0; b < kPedalButtons; ++b) {
        settings.save(QString::fromLatin1(kPedalSettings[b]),
                      QString::number(static_cast<int>(pedal[static_cast<size_t>(b)])));
    }
}

QString ActionCaption(TranscriptionAction action) {
    return QString::fromUtf8(kActions[static_cast<int>(action)].caption);
}

QString PedalActionCaption(PedalAction action) {
    return QString::fromUtf8(kPedalCaptions[static_cast<int>(action)]);
}

QString PedalButtonCaption(int button) {
    static const char* const kNames[kPedalButtons] = {"Sinistro", "Centrale", "Destro"};
    return QString::fromLatin1(kNames[std::clamp(button, 0, kPedalButtons - 1)]);
}

QString KeyProblem(const QKeySequence& key) {
    if (key.isEmpty())
        return QStringLiteral("nessun tasto");
    if (key.count() != 1)
        return QStringLiteral("una sola combinazione di tasti");
    const QKeyCombination combo = key[0];
    const Qt::Key k = combo.key();
    const Qt::KeyboardModifiers mods = combo.keyboardModifiers();
    if (k >= Qt::Key_F1 && k <= Qt::Key_F35)
        return QString();
    if (!(mods & (Qt::ControlModifier | Qt::AltModifier)))
        return QStringLiteral("si usa per scrivere: usare un tasto funzione o Ctrl/Alt");
    // What the editor does itself with Ctrl: clipboard, undo, select all, moving by words.
    static const QKeySequence::StandardKey kEditorKeys[] = {
        QKeySequence::Copy,
        QKeySequence::Cut,
        QKeySequence::Paste,
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::SelectAll,
        QKeySequence::MoveToNextWord,
        QKeySequence::MoveToPreviousWord,
        QKeySequence::SelectNextWord,
        QKeySequence::SelectPreviousWord,
        QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectStartOfDocument,
        QKeySequence::SelectEndOfDocument,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
        QKeySequence::Print,
    };
    for (QKeySequence::StandardKey standard : kEditorKeys) {
        if (QKeySequence::keyBindings(standard).contains(key))
            return QStringLiteral("è già un comando dell'editor");
    }
    static const Qt::Key kEditing[] = {
        Qt::Key_Left,   Qt::Key_Right,   Qt::Key_Up,        Qt::Key_Down,
        Qt::Key_Home,   Qt::Key_End,     Qt::Key_Backspace, Qt::Key_Delete,
        Qt::Key_Insert, Qt::Key_Return,  Qt::Key_Enter,     Qt::Key_Tab,
        Qt::Key_Shift,  Qt::Key_Control, Qt::Key_Alt,       Qt::Key_Meta};
    for (Qt::Key e : kEditing) {
        if (k == e)
            return QStringLiteral("è già un comando dell'editor");
    }
    return QString();
}

QString SettingsProblem(const TranscriptionSettings& settings) {
    for (int i = 0; i < kTranscriptionActionCount; ++i) {
        const QKeySequence& key = settings.keys[static_cast<size_t>(i)];
        const QString problem = KeyProblem(key);
        const QString name = ActionCaption(static_cast<TranscriptionAction>(i));
        if (!problem.isEmpty()) {
            return QStringLiteral("Il tasto per \"%1\" non è utilizzabile (%2): %3")
                .arg(name, key.toString(QKeySequence::NativeText), problem);
        }
        for (int j = 0; j < i; ++j) {
            if (settings.keys[static_cast<size_t>(j)] == key) {
                return QStringLiteral("Lo stesso tasto (%1) è assegnato a \"%2\" e a \"%3\"")
                    .arg(key.toString(QKeySequence::NativeText),
                         ActionCaption(static_cast<TranscriptionAction>(j)), name);
            }
        }
    }
    if (settings.jumpSeconds < 1 || settings.jumpSeconds > 30)
        return QStringLiteral("Il salto indietro e avanti va da 1 a 30 secondi");
    if (settings.autoRewindSeconds < 0 || settings.autoRewindSeconds > 10)
        return QStringLiteral("Il ritorno alla ripresa va da 0 a 10 secondi");
    if (settings.tempoTenths < 5 || settings.tempoTenths > 20)
        return QStringLiteral("La velocità va da 0,5 a 2,0");
    return QString();
}

}  // namespace kallomir
