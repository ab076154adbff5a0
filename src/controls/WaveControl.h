#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace kallomir {

class AudioSystem;
class AudioStream;
class CaptureSession;
struct CaptureSettings;
class LineBackend;
class LineAudioTap;

// The wave control amWavePro1: capture into a WAV file (or none), levels and voice activation.
//
//  No. | method                           | use
//  ----+----------------------------------+----------------------------------------------
//   3  | setFileName(path)                | file of the next capture; empty: no file
//   4  | setRecordLevel(level)            | gain, -100..100 (see below)
//   5  | voxThreshold() / setVoxThreshold | silence threshold on the level scale
//   6  | voxHoldMs() / setVoxHoldMs       | time below the threshold before Silence(true)
//   8  | startCapture(device)             | start capturing from input `device`
//   9  | stopCapture()                    | stop capturing (file stays open)
//  10  | closeCapture()                   | stop and complete the file
//  11  | setRecordFormat(code)            | record format code of the next capture
//  12  | inputDeviceCount()               | sound-card inputs + one per line device
//  13  | outputDeviceCount()              | sound-card outputs
//  14  | inputDeviceName(index)           |
//  15  | outputDeviceName(index)          |
//  16  | inputFormats(device)             | format bits a device records natively
//  17  | outputFormats(device)            | format bits a device plays natively
//
// Events (signals): 12 Level(a, b), 11 Silence(silent); captureFailed(text) when a capture
// had to stop on its own (disk full, folder gone, device lost); captureWarning(text) when
// audio was lost but the capture goes on. All are delivered on the
// control's thread through its event loop.
//
// Inputs: the sound-card inputs come first, then one entry per line device carrying that
// line's call audio; the telephony control's member 16 uses the same numbers.
// Member 8 with -1 is ignored. A second member 8 while capturing switches the source and
// keeps the same file: the later valid call chooses what is recorded.
//
// Level scale: the RMS of each 100 ms of recorded audio in dBFS mapped linearly onto 0..100,
// -60 dBFS and below -> 0, 0 dBFS -> 100 (so each level step is 0.6 dB). Mono: the second
// level is 0.
// Recording level: a gain of level / 5 dB, i.e. -100 -> -20 dB, 0 -> unchanged,
// 100 -> +20 dB, applied before levels and file; samples are clipped at full scale.
// Silence: Silence(true) once the level stayed below the threshold for the hold time,
// Silence(false) at the first level at or above the threshold after that.
class WaveControl : public QObject {
    Q_OBJECT
public:
    // `line` may be null (no line devices).
    WaveControl(AudioSystem& audio, LineBackend* line, QObject* parent = nullptr);
    ~WaveControl() override;

    void setFileName(const QString& path);  // 3
    QString fileName() const { return fileName_; }
    void setRecordLevel(qint16 level);  // 4
    qint16 recordLevel() const;
    qint16 voxThreshold() const;             // 5
    void setVoxThreshold(qint16 threshold);  // 5
    qint16 voxHoldMs() const;                // 6
    void setVoxHoldMs(qint16 ms);            // 6
    void startCapture(qint32 device);        // 8
    void stopCapture();                      // 9
    void closeCapture();                     // 10
    void setRecordFormat(qint32 code);       // 11
    qint32 recordFormat() const { return recordFormat_; }
    qint16 inputDeviceCount() const;               // 12
    qint16 outputDeviceCount() const;              // 13
    QString inputDeviceName(qint16 index) const;   // 14
    QString outputDeviceName(qint16 index) const;  // 15
    qint32 inputFormats(qint32 device) const;      // 16
    qint32 outputFormats(qint32 device) const;     // 17

    // Not members of the control.
    // Receives one entry per member use, in order: "11=128" (set), "6?" (read), "14(0)?" (read
    // with an argument), "8(0)" / "9" (calls).
    void setMemberTrace(std::function<void(const QString&)> trace) { trace_ = std::move(trace); }
    bool isCapturing() const;  // a source is running
    bool inputExists(qint32 device) const { return device >= 0 && device < allInputs(); }
    int captureDevice() const { return sourceDevice_; }  // -1 when none
    // Blocks until every sample handed over so far is processed: its levels are reported and
    // it reaches the file with the next header update (within half a second) or at close.
    void waitIdle();

signals:
    void Level(qint16 a, qint16 b);  // 12
    void Silence(bool silent);       // 11
    void captureFailed(const QString& text);
    // Audio was lost while the capture goes on (dropped samples, a failed rate conversion).
    void captureWarning(const QString& text);

private:
    friend class LineAudioTap;
    void openSource(qint32 device);
    void closeSource();
    void endCapture();
    void onSessionFailed(quint64 generation, const QString& text);
    int soundCardInputs() const;
    int allInputs() const;
    void note(const QString& entry) const {
        if (trace_)
            trace_(entry);
    }

    AudioSystem& audio_;
    LineBackend* line_;
    QString fileName_;
    qint32 recordFormat_ = -1;
    std::unique_ptr<CaptureSettings> settings_;  // read by the capture worker

    std::unique_ptr<CaptureSession> session_;
    std::unique_ptr<AudioStream> cardStream_;
    std::unique_ptr<LineAudioTap> lineTap_;
    int sourceDevice_ = -1;
    quint64 generation_ = 0;
    std::function<void(const QString&)>
        trace_;  // tells events of an ended capture from the current one's
};

}  // namespace kallomir
