#include "controls/WaveControl.h"

#include "controls/AudioSystem.h"
#include "controls/CaptureSession.h"
#include "controls/LineBackend.h"
#include "controls/RecordFormat.h"
#include "core/RuntimeError.h"

#include <QPointer>

#include <atomic>

namespace kallomir {

namespace {
constexpr int kInvalidValue = 380;  // a member given a value it cannot take
}

// Hands one line device's call audio to the running capture. Registered with the line only
// while the line is the capture's source.
class LineAudioTap : public LineAudioSink {
public:
    LineAudioTap(CaptureSession& session, int device) : session_(session), device_(device) {}
    int device() const { return device_; }
    void lineAudio(int device, std::span<const std::int16_t> samples, int) override {
        if (device == device_)
            session_.push(samples);
    }

private:
    CaptureSession& session_;
    int device_;
};

WaveControl::WaveControl(AudioSystem& audio, LineBackend* line, QObject* parent)
    : QObject(parent), audio_(audio), line_(line), settings_(std::make_unique<CaptureSettings>()) {}

WaveControl::~WaveControl() {
    closeSource();
    session_.reset();
}

void WaveControl::setFileName(const QString& path) {
    note(QStringLiteral("3=") + path);
    fileName_ = path;
}

void WaveControl::setRecordLevel(qint16 level) {
    note(QStringLiteral("4=%1").arg(level));
    settings_->recordLevel.store(std::clamp<int>(level, -100, 100));
}

qint16 WaveControl::recordLevel() const {
    return static_cast<qint16>(settings_->recordLevel.load());
}

qint16 WaveControl::voxThreshold() const {
    note(QStringLiteral("5?"));
    return static_cast<qint16>(settings_->voxThreshold.load());
}

void WaveControl::setVoxThreshold(qint16 threshold) {
    note(QStringLiteral("5=%1").arg(threshold));
    settings_->voxThreshold.store(threshold);
}

qint16 WaveControl::voxHoldMs() const {
    note(QStringLiteral("6?"));
    return static_cast<qint16>(settings_->voxHoldMs.load());
}

void WaveControl::setVoxHoldMs(qint16 ms) {
    note(QStringLiteral("6=%1").arg(ms));
    settings_->voxHoldMs.store(ms);
}

void WaveControl::setRecordFormat(qint32 code) {
    note(QStringLiteral("11=%1").arg(code));
    recordFormat_ = code;
}

int WaveControl::soundCardInputs() const {
    return static_cast<int>(audio_.inputDeviceNames().size());
}

int WaveControl::allInputs() const {
    const qsizetype lines = line_ ? line_->devices().size() : 0;
    return soundCardInputs() + static_cast<int>(lines);
}

qint16 WaveControl::inputDeviceCount() const {
    note(QStringLiteral("12?"));
    return static_cast<qint16>(allInputs());
}

qint16 WaveControl::outputDeviceCount() const {
    note(QStringLiteral("13?"));
    return static_cast<qint16>(audio_.outputDeviceNames().size());
}

QString WaveControl::inputDeviceName(qint16 index) const {
    note(QStringLiteral("14(%1)?").arg(index));
    const QStringList cards = audio_.inputDeviceNames();
    if (index >= 0 && index < cards.size())
        return cards.at(index);
    const int lineIndex = index - static_cast<int>(cards.size());
    if (line_ && index >= 0) {
        const QList<LineDeviceInfo> lines = line_->devices();
        if (lineIndex < lines.size()) {
            return QStringLiteral("Line audio - %1").arg(lines.at(lineIndex).name);
        }
    }
    throw RuntimeError(kInvalidValue, QStringLiteral("Input device %1 does not exist").arg(index));
}

QString WaveControl::outputDeviceName(qint16 index) const {
    note(QStringLiteral("15(%1)?").arg(index));
    const QStringList cards = audio_.outputDeviceNames();
    if (index < 0 || index >= cards.size()) {
        throw RuntimeError(kInvalidValue,
                           QStringLiteral("Output device %1 does not exist").arg(index));
    }
    return cards.at(index);
}

qint32 WaveControl::inputFormats(qint32 device) const {
    note(QStringLiteral("16(%1)?").arg(device));
    const int cards = soundCardInputs();
    if (device >= 0 && device < cards)
        return static_cast<qint32>(audio_.inputFormats(device));
    if (line_ && device >= cards && device < allInputs()) {
        // The line's audio is converted to whatever format is recorded.
        return 0xFF;
    }
    return 0;
}

qint32 WaveControl::outputFormats(qint32 device) const {
    note(QStringLiteral("17(%1)?").arg(device));
    return static_cast<qint32>(audio_.outputFormats(device));
}

bool WaveControl::isCapturing() const {
    return sourceDevice_ >= 0;
}

void WaveControl::startCapture(qint32 device) {
    note(QStringLiteral("8(%1)").arg(device));
    if (device == -1)
        return;
    if (device < 0 || device >= allInputs()) {
        throw RuntimeError(kInvalidValue,
                           QStringLiteral("Input device %1 does not exist").arg(device));
    }
    const bool fresh = !session_;
    if (fresh) {
        const std::optional<RecordFormat> format = RecordFormatOf(recordFormat_);
        if (!format) {
            throw RuntimeError(kInvalidValue,
                               QStringLiteral("Record format %1 is not valid").arg(recordFormat_));
        }
        const quint64 generation = ++generation_;
        QPointer<WaveControl> self(this);
        CaptureEvents events;
        // The worker never waits on this thread: each report is queued and dropped if it
        // belongs to a capture that has ended meanwhile.
        events.level = [self, generation](qint16 level) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, level] {
                    if (self && self->generation_ == generation)
                        emit self->Level(level, 0);
                },
                Qt::QueuedConnection);
        };
        events.silence = [self, generation](bool silent) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, silent] {
                    if (self && self->generation_ == generation)
                        emit self->Silence(silent);
                },
                Qt::QueuedConnection);
        };
        events.warning = [self, generation](const QString& text) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, text] {
                    if (self && self->generation_ == generation)
                        emit self->captureWarning(text);
                },
                Qt::QueuedConnection);
        };
        auto failed = [self, generation](const QString& text) {
            QMetaObject::invokeMethod(
                self,
                [self, generation, text] {
                    if (self)
                        self->onSessionFailed(generation, text);
                },
                Qt::QueuedConnection);
        };
        session_ = std::make_unique<CaptureSession>(*format, fileName_, *settings_,
                                                    std::move(events), std::move(failed));
    } else if (device == sourceDevice_) {
        return;
    }
    closeSource();
    try {
        openSource(device);
    } catch (const RuntimeError&) {
        // A capture that never got a source leaves nothing behind but its empty file.
        if (fresh)
            endCapture();
        throw;
    }
}

void WaveControl::openSource(qint32 device) {
    const int cards = soundCardInputs();
    if (device < cards) {
        // Samples are taken only once the session knows the rate the device delivers.
        CaptureSession* session = session_.get();
        auto ready = std::make_shared<std::atomic<bool>>(false);
        cardStream_ = audio_.openInput(device, session->sampleRate(),
                                       [session, ready](std::span<const std::int16_t> samples) {
                                           if (ready->load(std::memory_order_acquire)) {
                                               session->push(samples);
                                           }
                                       });
        session->setInputRate(cardStream_->sampleRate());
        ready->store(true, std::memory_order_release);
    } else {
        const int lineDevice = device - cards;
        session_->setInputRate(line_->audioSampleRate(lineDevice));
        lineTap_ = std::make_unique<LineAudioTap>(*session_, lineDevice);
        line_->setAudioSink(lineTap_.get());
    }
    sourceDevice_ = device;
}

void WaveControl::closeSource() {
    if (cardStream_) {
        cardStream_->stop();
        cardStream_.reset();
    }
    if (lineTap_) {
        line_->flushAudio(lineTap_->device());  // the last moments before the stop
        line_->setAudioSink(nullptr);
        lineTap_.reset();
    }
    sourceDevice_ = -1;
}

void WaveControl::stopCapture() {
    note(QStringLiteral("9"));
    closeSource();
    if (session_)
        session_->waitIdle();
}

void WaveControl::closeCapture() {
    note(QStringLiteral("10"));
    endCapture();
}

void WaveControl::endCapture() {
    closeSource();
    if (session_) {
        ++generation_;  // reports still queued belong to the closed capture
        const QString failure = session_->finish();
        session_.reset();
        if (!failure.isEmpty()) {
            QPointer<WaveControl> self(this);
            QMetaObject::invokeMethod(
                this,
                [self, failure] {
                    if (self)
                        emit self->captureFailed(failure);
                },
                Qt::QueuedConnection);
        }
    }
}

void WaveControl::waitIdle() {
    if (session_)
        session_->waitIdle();
}

void WaveControl::onSessionFailed(quint64 generation, const QString& text) {
    if (generation != generation_)
        return;
    endCapture();
    emit captureFailed(text);
}

}  // namespace kallomir
