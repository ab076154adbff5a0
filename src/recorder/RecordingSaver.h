#pragma once

#include "core/RuntimeError.h"
#include "evidence/Fingerprint.h"
#include "recorder/CaptureMarker.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <span>

namespace kallomir {

// The steps of a save, in order, for those who must know how far a save got.
enum class SaveStep {
    Planned,         // name chosen and written into the marker
    CopyBlock,       // one more block of audio copied (repeats)
    Copied,          // all audio copied and flushed
    TrailerWritten,  // trailer appended and flushed
    Renamed,         // the recording has its name; its folder is flushed
};

// Copies source to a new file target (which must not exist), telling onProgress after each
// block, then flushes target to the disk; fingerprint, when given, is fed every byte of
// source meanwhile. A failed
// copy leaves no target behind. RuntimeErrors: 53 source missing, 76 target folder missing, 61 disk
// full, 70 permission denied, 57 device error, 75 any other.
void CopyToNewFile(const QString& source, const QString& target,
                   const std::function<void()>& onProgress = {},
                   FingerprintTaker* fingerprint = nullptr);
// Appends bytes to a file and flushes it.
void AppendAndFlush(const QString& file, const QByteArray& bytes);
// Gives temp its final name without ever replacing a file of that name; false when target
// already exists (temp is left as it was).
bool RenameNoReplace(const QString& temp, const QString& target);
// Flushes a folder's entries (new names, removed names) to the disk.
void FlushFolder(const QString& folder);
// Creates one folder level (the parent must exist); path-not-found (76) otherwise.
void CreateFolderLevel(const QString& path);

// One finished capture to save as a recording.
struct SaveRequest {
    QString captureFile;
    QDateTime start;
    QDateTime end;
    QString dataPath;   // DataPath at the stop (with its trailing '/')
    QString recFolder;  // RecFolder at the stop
    QString fallbackDataPath;
    QString numero{};  // the caller's number for the catalogue row
};

struct SaveResult {
    bool saved = false;     // the recording is in its folder under its name, with its trailer
    QString file;           // its full path
    QString catalogueName;  // its name without folder
    bool noAudio = false;   // the capture held no audio at all
    std::optional<QString> fallbackDataPath;  // DataPath/RecFolder switched to the fallback
    QList<RuntimeError> reports;              // errors met and got round on the way
    std::optional<RuntimeError> failure;      // why the save stopped, when it did
    QString markerProblem;                    // the plan could not be written into the marker
    // The saved file's fingerprint, taken from the bytes as they were written (read back
    // only when the file had been named by an earlier, interrupted run of the save).
    std::optional<RecordingFingerprint> fingerprint;
    bool namedBefore = false;  // the file already had its name when this save began
};

// Saves a capture as a recording in steps that a crash can cut anywhere: the plan (name,
// end) is written into the capture's marker first; the audio is copied under a temporary
// name in the recordings folder and flushed; the trailer is appended and flushed; the file
// takes its name (never replacing another) and the folder is flushed. A save whose marker
// already holds a plan finishes that plan: an existing recording is taken as done, a
// leftover temporary file is copied again. The marker is left for the caller, who clears it
// once the recording is catalogued.
//
// DataPath and RecFolder come from the request; when a folder is not found, the error is
// reported, the save moves to the fallback folder (fallbackDataPath + "ERROR") and repeats
// the step once.
class RecordingSaver {
public:
    SaveResult save(const SaveRequest& request) const;

    // Told of each step as it completes (the kill tests stop the process there).
    std::function<void(SaveStep)> onStep;
    // Takes the SHA-256 fingerprint of each saved file on its way to the disk.
    bool takeFingerprint = true;
};

}  // namespace kallomir
