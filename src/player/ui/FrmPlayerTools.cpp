// The player's transcription tools: "Velocità", keys that work while typing, auto-rewind,
// the foot pedal, time marks, the waveform and the heard coverage.
#include "player/ui/FrmPlayer.h"

#include "controls/playback/SoundBuffer.h"
#include "controls/playback/WavePeaks.h"
#include "core/AppContext.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "player/HeardCoverageStore.h"
#include "player/PedalControl.h"
#include "player/PlaybackRules.h"
#include "player/RecordingSearch.h"
#include "player/Timestamps.h"
#include "player/ui/PlayerDialogs.h"
#include "player/ui/TranscriptionEditor.h"
#include "widgets/WaveformView.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kallomir {

namespace {

constexpr int kWaveformY = 140;
constexpr int kWaveformHeight = 56;
constexpr int kPedalRepeatMs = 400;
constexpr int kHeardSaveTicks = 50;  // store the coverage every 5 s of listening
// Speeds up to this count as listening (the frequency scroll bar works in steps of 10 Hz, so
// an 11 025 Hz recording plays at 11 020 or 11 030).
constexpr double kListeningSpeed = 1.005;

// The key as the tools compare it: the keypad marker is no part of it.
QKeySequence Pressed(const QKeyEvent* key) {
    return QKeySequence(
        QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, static_cast<Qt::Key>(key->key())));
}

}  // namespace

void FrmPlayer::buildTools() {
    CmdTasti = new QPushButton(QStringLiteral("Tasti..."), this);
    CmdTasti->setObjectName(QStringLiteral("CmdTasti"));
    CmdTasti->setToolTip(QStringLiteral("Tasti, ritorno alla ripresa e pedale"));
    CmdTasti->setGeometry(924, 92, 62, 26);
    connect(CmdTasti, &QPushButton::clicked, this, &FrmPlayer::CmdTasti_Click);

    auto* caption = new QLabel(QStringLiteral("Velocità"), this);
    caption->setGeometry(728, 118, 52, 18);
    SliderVelocita = new QSlider(Qt::Horizontal, this);
    SliderVelocita->setObjectName(QStringLiteral("SliderVelocita"));
    SliderVelocita->setGeometry(780, 118, 104, 18);
    SliderVelocita->setRange(kTempoMinTenths, kTempoMaxTenths);
    SliderVelocita->setPageStep(1);
    SliderVelocita->setValue(tools_.tempoTenths);
    SliderVelocita->setToolTip(QStringLiteral("Più lento o più veloce, senza cambiare la voce"));
    lblVelocita = new QLabel(TempoLabel(tools_.tempoTenths), this);
    lblVelocita->setObjectName(QStringLiteral("lblVelocita"));
    lblVelocita->setGeometry(888, 118, 36, 18);
    connect(SliderVelocita, &QSlider::valueChanged, this, &FrmPlayer::SliderVelocita_Change);

    lblAscoltato = new QLabel(this);
    lblAscoltato->setObjectName(QStringLiteral("lblAscoltato"));
    lblAscoltato->setGeometry(416, 118, 140, 18);  // below the caller's number
    lblAscoltato->setToolTip(
        QStringLiteral("Parte della registrazione ascoltata a velocità "
                       "normale o più lenta"));

    Waveform = new WaveformView(this);
    Waveform->setGeometry(560, kWaveformY, 425, kWaveformHeight);
    connect(Waveform, &WaveformView::seekRequested, this, [this](double fraction) {
        if (BytesPerSecond > 0)
            seekToSeconds(fraction * static_cast<double>(BufferBytes) /
                          static_cast<double>(BytesPerSecond));
    });
    waveformPoll_ = new QTimer(this);
    waveformPoll_->setInterval(50);
    connect(waveformPoll_, &QTimer::timeout, this, &FrmPlayer::pollWaveform);

    pedalRepeat_ = new QTimer(this);
    pedalRepeat_->setInterval(kPedalRepeatMs);
    connect(pedalRepeat_, &QTimer::timeout, this, &FrmPlayer::pedalRepeat);

    connect(Frame2, &TranscriptionEditor::timestampActivated, this,
            [this](std::int64_t seconds) { seekToSeconds(static_cast<double>(seconds)); });
}

void FrmPlayer::layoutTools() {
    // The waveform takes the width the window has.
    Waveform->setGeometry(560, kWaveformY, std::max(200, width() - 560 - 8), kWaveformHeight);
}

bool FrmPlayer::editing() const {
    return cmdSalva->isEnabled();
}

bool FrmPlayer::openRecording(const QString& folder, const QString& nome) {
    // An unsaved transcription is never replaced from outside.
    if (editing())
        return false;
    if (QDir::cleanPath(folder) != dirPath_)
        setFolderPath(folder);
    const auto found = FOpener->findItems(nome, Qt::MatchFixedString);
    if (found.isEmpty())
        return false;
    {
        const QSignalBlocker block(FOpener);
        FOpener->setCurrentItem(found.front());
    }
    FOpener->scrollToItem(found.front());
    FOpener_Click();
    return true;
}

bool FrmPlayer::openFoundRecording(const QString& folder, const QString& nome,
                                   const QStringList& stems) {
    if (!openRecording(folder, nome))
        return false;
    // The first word the search matched, selected and scrolled into view.
    QTextEdit* text = Frame2->rtfTesto();
    if (const auto match = FirstMatch(text->toPlainText(), stems)) {
        QTextCursor cursor(text->document());
        cursor.setPosition(match->position);
        cursor.setPosition(match->position + match->length, QTextCursor::KeepAnchor);
        text->setTextCursor(cursor);
        text->ensureCursorVisible();
    }
    return true;
}

// ---- Keys ---------------------------------------------------------------------------

bool FrmPlayer::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QWidget::eventFilter(watched, event);
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || (target != this && !isAncestorOf(target)) || !isEnabled())
        return QWidget::eventFilter(watched, event);
    if (handleKey(static_cast<QKeyEvent*>(event), type == QEvent::ShortcutOverride))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool FrmPlayer::handleKey(QKeyEvent* key, bool overrideOnly) {
    const QKeySequence pressed = Pressed(key);
    for (int i = 0; i < kTranscriptionActionCount; ++i) {
        if (tools_.keys[static_cast<size_t>(i)] != pressed)
            continue;
        // Claimed before any shortcut of the main window can take it.
        key->accept();
        const auto action = static_cast<TranscriptionAction>(i);
        const bool repeats =
            action == TranscriptionAction::Back || action == TranscriptionAction::Forward ||
            action == TranscriptionAction::Slower || action == TranscriptionAction::Faster;
        if (!overrideOnly && (!key->isAutoRepeat() || repeats))
            transcriptionAction(action);
        return true;
    }
    // The digit rule: with editing off a digit moves playback back, whichever child has the
    // focus (the file list would otherwise jump to a name starting with it).
    const int k = key->key();
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (!editing() && k >= Qt::Key_1 && k <= Qt::Key_9 &&
        !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        key->accept();
        if (!overrideOnly) {
            const bool keypad = key->modifiers() & Qt::KeypadModifier;
            rewindByDigitKey(keypad ? 96 + (k - Qt::Key_0) : k);
        }
        return true;
    }
    return false;
}

void FrmPlayer::transcriptionAction(TranscriptionAction action) {
    switch (action) {
        case TranscriptionAction::PlayPause:
            playOrPause(!(buffer_ && buffer_->GetStatus() == SoundBuffer::kStatusPlaying));
            break;
        case TranscriptionAction::Back:
            moveBy(-tools_.jumpSeconds);
            break;
        case TranscriptionAction::Forward:
            moveBy(tools_.jumpSeconds);
            break;
        case TranscriptionAction::Slower:
            SliderVelocita->setValue(SliderVelocita->value() - 1);
            break;
        case TranscriptionAction::Faster:
            SliderVelocita->setValue(SliderVelocita->value() + 1);
            break;
        case TranscriptionAction::InsertTimestamp:
            insertTimestamp();
            break;
        case TranscriptionAction::GoToTimestamp:
            if (!goToTimestampAtCursor())
                QApplication::beep();
            break;
    }
}

void FrmPlayer::playOrPause(bool play) {
    if (play) {
        BtiNIReg_Click();
    } else if (buffer_ && buffer_->GetStatus() == SoundBuffer::kStatusPlaying) {
        Btpause_Click();
    }
}

// ---- Moving playback ----------------------------------------------------------------

void FrmPlayer::showPosition(std::int64_t bytes) {
    const std::int64_t s = SecondsForBytes(bytes, BytesPerSecond);
    Scroller->setValue(static_cast<int>(std::min<std::int64_t>(s, Scroller->maximum())));
    showTimeAt(s);
    if (BufferBytes > 0)
        Waveform->setPosition(static_cast<double>(bytes) / static_cast<double>(BufferBytes));
}

void FrmPlayer::moveTo(std::int64_t bytes) {
    if (!buffer_)
        return;
    buffer_->SetCurrentPosition(bytes);
    const std::int64_t at = buffer_->GetCurrentPosition();
    const bool playing = buffer_->GetStatus() == SoundBuffer::kStatusPlaying;
    if (!playing && !Paused) {
        // Stopped: the next play starts from the start point, so that is what moves.
        HS_Cursor->setValue(static_cast<int>(SecondsForBytes(at, BytesPerSecond)));
    }
    // A place chosen by the operator is where listening goes on: no auto-rewind from it.
    rewindOnResume_ = false;
    heard_.interrupt();
    showPosition(at);
}

void FrmPlayer::moveBy(double seconds) {
    if (!RecordingLoaded || !buffer_) {
        QApplication::beep();
        return;
    }
    moveTo(MovedPosition(buffer_->GetCurrentPosition(), seconds, BytesPerSecond, BufferBytes,
                         buffer_->format().blockAlign));
}

void FrmPlayer::seekToSeconds(double seconds) {
    if (!RecordingLoaded || !buffer_ || BytesPerSecond <= 0)
        return;
    moveTo(MovedPosition(0, seconds, BytesPerSecond, BufferBytes, buffer_->format().blockAlign));
}

// ---- Velocità -----------------------------------------------------------------------

void FrmPlayer::SliderVelocita_Change() {
    const int tenths = ClampTempoTenths(SliderVelocita->value());
    lblVelocita->setText(TempoLabel(tenths));
    // Audio played too fast since the last reading must not count once slower again.
    if (!listeningSpeed())
        heard_.interrupt();
    if (buffer_)
        buffer_->SetTempo(tenths / 10.0);
    if (tenths != tools_.tempoTenths) {
        tools_.tempoTenths = tenths;
        ctx_.settings.save(QStringLiteral("Velocita"), QString::number(tenths));
    }
}

// ---- Time marks ---------------------------------------------------------------------

void FrmPlayer::insertTimestamp() {
    if (!editing() || !RecordingLoaded || !buffer_ || BytesPerSecond <= 0) {
        QApplication::beep();  // nothing to mark, or the text is not open for writing
        return;
    }
    const std::int64_t seconds = buffer_->GetCurrentPosition() / BytesPerSecond;
    Frame2->insertAtCursor(FormatTimestamp(seconds) + u' ');
}

bool FrmPlayer::goToTimestampAtCursor() {
    const auto seconds = Frame2->timestampAtCursor();
    if (!seconds || !RecordingLoaded)
        return false;
    seekToSeconds(static_cast<double>(*seconds));
    return true;
}

// ---- Pedal --------------------------------------------------------------------------

void FrmPlayer::setPedalDevices(PedalDevices* devices) {
    pedal_.reset();
    pedalDevices_ = devices;
    if (!devices)
        return;
    pedal_ = std::make_unique<PedalControl>(*devices);
    connect(pedal_.get(), &PedalControl::button, this, &FrmPlayer::pedalButton);
    connect(pedal_.get(), &PedalControl::connectionChanged, this, [this](bool connected) {
        if (connected)
            pedalReported_ = false;  // a later failure is news again
    });
    pedal_->setDevice(tools_.pedalDevice);
    if (!tools_.pedalDevice.isEmpty() && !pedal_->connected() && !pedalReported_) {
        // Told once; the pedal is looked for again every second and works when it comes.
        pedalReported_ = true;
        ctx_.boxes.show(QStringLiteral("Il pedale %1 non è disponibile (%2). Verrà usato appena "
                                       "sarà collegato.")
                            .arg(tools_.pedalDevice, pedal_->problem()),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
    }
}

void FrmPlayer::pedalButton(int index, bool pressed) {
    if (index < 0 || index >= kPedalButtons)
        return;
    const PedalAction action = tools_.pedal[static_cast<size_t>(index)];
    if (!pressed) {
        if (action == PedalAction::HoldToPlay)
            playOrPause(false);  // the next play steps back by the auto-rewind
        if (action == repeating_) {
            pedalRepeat_->stop();
            repeating_ = PedalAction::None;
        }
        return;
    }
    switch (action) {
        case PedalAction::None:
            break;
        case PedalAction::PlayPause:
            transcriptionAction(TranscriptionAction::PlayPause);
            break;
        case PedalAction::HoldToPlay:
            playOrPause(true);
            break;
        case PedalAction::Back:
        case PedalAction::Forward:
            repeating_ = action;
            pedalRepeat();
            pedalRepeat_->start();
            break;
        case PedalAction::Slower:
            transcriptionAction(TranscriptionAction::Slower);
            break;
        case PedalAction::Faster:
            transcriptionAction(TranscriptionAction::Faster);
            break;
        case PedalAction::InsertTimestamp:
            insertTimestamp();
            break;
    }
}

void FrmPlayer::pedalRepeat() {
    if (repeating_ == PedalAction::Back)
        moveBy(-tools_.jumpSeconds);
    else if (repeating_ == PedalAction::Forward)
        moveBy(tools_.jumpSeconds);
    else
        pedalRepeat_->stop();
}

// ---- The keys and pedal dialog ------------------------------------------------------

void FrmPlayer::CmdTasti_Click() {
    std::vector<PedalInfo> pedals;
    QString state = QStringLiteral("Nessun pedale scelto.");
    if (pedal_) {
        pedals = pedalDevices_->list();
        if (!tools_.pedalDevice.isEmpty()) {
            state = pedal_->connected()
                        ? QStringLiteral("Pedale collegato.")
                        : QStringLiteral("Pedale non collegato: %1").arg(pedal_->problem());
        }
    } else {
        state = QStringLiteral("Pedali non disponibili su questo sistema.");
    }
    TranscriptionSettings chosen = tools_;
    if (ctx_.dialogs->transcriptionTools(this, ctx_.boxes, chosen, pedals, state))
        applyTranscriptionSettings(chosen);
}

void FrmPlayer::applyTranscriptionSettings(const TranscriptionSettings& settings) {
    const bool pedalChanged = settings.pedalDevice != tools_.pedalDevice;
    tools_ = settings;
    tools_.save(ctx_.settings);
    SliderVelocita->setValue(tools_.tempoTenths);
    if (pedal_ && pedalChanged) {
        pedalReported_ = false;
        pedal_->setDevice(tools_.pedalDevice);
    }
}

// ---- Heard coverage and waveform ----------------------------------------------------

std::int64_t FrmPlayer::durationMs() const {
    if (BytesPerSecond <= 0)
        return 0;
    return BufferBytes * 1000 / BytesPerSecond;
}

bool FrmPlayer::listeningSpeed() const {
    if (!buffer_)
        return false;
    return EffectiveSpeed(buffer_->GetFrequency(), buffer_->nativeFrequency(),
                          static_cast<int>(std::lround(buffer_->GetTempo() * 10))) <=
           kListeningSpeed;
}

int FrmPlayer::heardPercent() const {
    return heard_.coverage().percentOf(durationMs());
}

void FrmPlayer::trackHeard(bool playing, std::int64_t position) {
    if (!buffer_ || BytesPerSecond <= 0)
        return;
    if (playing) {
        heard_.observe(position * 1000 / BytesPerSecond, listeningSpeed());
    } else if (PlaybackActive && !Paused) {
        heard_.reachedEnd(durationMs());  // ran out by itself
    } else {
        heard_.interrupt();
    }
    if (heard_.takeChanged()) {
        showHeard();
        ++heardTicks_;
    }
    // While the store fails, only pauses, stops and openings try it again.
    if (!heardReported_ && (heardTicks_ >= kHeardSaveTicks || (!playing && heardTicks_ > 0)))
        saveHeard();
}

void FrmPlayer::showHeard() {
    const std::int64_t duration = durationMs();
    if (heardPath_.isEmpty() || duration <= 0) {
        lblAscoltato->clear();
        Waveform->setHeard({});
        return;
    }
    lblAscoltato->setText(QStringLiteral("Ascoltato: %1%").arg(heardPercent()));
    std::vector<std::pair<double, double>> shaded;
    for (const HeardCoverage::Stretch& s : heard_.coverage().stretches()) {
        shaded.emplace_back(static_cast<double>(s.from) / static_cast<double>(duration),
                            static_cast<double>(s.to) / static_cast<double>(duration));
    }
    Waveform->setHeard(std::move(shaded));
}

void FrmPlayer::openHeard(const QString& path) {
    heard_ = HeardTracker();
    heardTicks_ = 0;
    heardPath_ = QDir::cleanPath(QDir(path).absolutePath());
    try {
        heard_.coverage() = HeardCoverageStore::InFolder(ctx_.homeFolder).load(heardPath_);
    } catch (const RuntimeError& e) {
        // Listening still works; what is heard now is kept in memory and stored when the
        // store answers again.
        if (!heardReported_) {
            heardReported_ = true;
            ReportError(ctx_.boxes, e, QStringLiteral("Ascoltato"));
        }
    }
    showHeard();
}

void FrmPlayer::saveHeard() {
    if (heardPath_.isEmpty() || heardTicks_ == 0)
        return;
    try {
        HeardCoverageStore::InFolder(ctx_.homeFolder).save(heardPath_, heard_.coverage());
        heardTicks_ = 0;
        heardReported_ = false;
    } catch (const RuntimeError& e) {
        if (!heardReported_) {
            heardReported_ = true;  // once, not at every attempt
            ReportError(ctx_.boxes, e, QStringLiteral("Ascoltato"));
        }
        heardTicks_ = 1;  // still to be stored: tried again at the next pause or stop
    }
}

void FrmPlayer::pollWaveform() {
    Waveform->refresh();
    if (peaks_ && !Waveform->complete()) {
        if (!waveformPoll_->isActive())
            waveformPoll_->start();
    } else {
        waveformPoll_->stop();
    }
}

}  // namespace kallomir
