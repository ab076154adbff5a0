#pragma once

#include "controls/LineBackend.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace kallomir {

// What the status line of the recorder says about the line and the recording.
enum class LineStatus { Waiting, IncomingCall, Dialling, Connected, SilenceDetect };
// "In Attesa", "Chiamata in Arrivo", "Composizione", "Connesso", "Silence Detect".
QString LineStatusText(LineStatus status);

// The telephone call as the line reported it.
enum class CallState { None, Ringing, Dialling, Connected };

// Where the next recording comes from, and where it goes.
enum class RecordSource { Telephone, LineIn };
enum class RecordTarget { File, Null };  // "Rec File": the capture file; "Rec Null": levels only

// Everything the recorder window shows, as the recording cycle keeps it.
struct RecorderState {
    // line and call
    LineStatus lineStatus = LineStatus::Waiting;
    CallState call = CallState::None;
    LineRegistration registration;

    // choices
    RecordSource source = RecordSource::Telephone;
    RecordTarget target = RecordTarget::File;
    bool telephoneSourceEnabled = true;
    bool silenceDetect = false;

    // the recording (IsRecording, StartTime, EndTime, CurrentFile)
    bool recording = false;
    bool recordingOfCall = false;  // started while a call was connected: the call's audio
    QDateTime startTime;
    QDateTime endTime;
    QString currentFile;
    bool elapsedRunning = false;  // the Counter's tag "Conta"
    int savesPending = 0;

    // monitor
    QString captureStatus = QStringLiteral("Status");  // the capture's mode word
    QString startText;                                 // LbInizio
    QString nowText;                                   // LbNow
    QString elapsedText = QStringLiteral("00:00:00:00");
    QString diskTimeText = QStringLiteral("00:00:00");
    std::int64_t captureFileSize = 0;
    std::int64_t folderSize = 0;
    QString useDir = QStringLiteral("Folder di registrazione");
    QString progressive;
    std::int64_t silenceCountdown = 0;
    std::int64_t dimFolder = 600;

    // recall
    bool recallArmed = false;
    std::int32_t recallSeconds = 0;

    // levels and voice activation
    int level = 0;
    int voxThreshold = 0;
    bool voxThresholdVisible = true;
    QString voxLabel;

    // buttons: BtiNIReg, BtFineReg, cmdProvvisorio, BtPlayReg; the state picture
    bool recordEnabled = true;
    bool stopEnabled = false;
    bool splitEnabled = false;
    bool playEnabled = false;
    bool showsRecording = false;

    // The last problem the operator must know about while it lasts (a catalogue row waiting,
    // audio lost, a capture that cannot start); empty when all is well.
    QString notice;
};

}  // namespace kallomir
