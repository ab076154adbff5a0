#pragma once

#include "catalogue/RecordingTrailer.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace kallomir {

struct GeneralSound;
class RuntimeError;

// Copies a file in slices, letting the caller's event loop run between slices so that a
// long recording does not freeze the window. Errors are RuntimeErrors with the program's
// file error numbers (53 source missing, 76 target folder missing, 61 disk full, 75 other).
// A failed copy leaves no partial target behind.
void CopyRecordingFile(const QString& source, const QString& target,
                       const std::function<void()>& yield);

// Appends the trailer to a saved recording.
void AppendTrailer(const QString& file, const RecordingTrailer& trailer,
                   const std::function<void()>& yield);

// Creates one folder level (the parent must exist); path-not-found (76) otherwise.
void CreateFolderLevel(const QString& path);

struct SavedRecording {
    QString file;           // full path of the saved recording
    QString catalogueName;  // its name without folder, as the catalogue keys it
    bool usedFallback = false;
};

// Saves the capture file as a recording: creates DataPath and the recordings folder one
// level each, names the file after start (distinct from any recording already there),
// copies the capture, appends the trailer. When a folder is not found, report() is told,
// DataPath and RecFolder switch to the fallback folder (fallbackDataPath + "ERROR") for the
// rest of the run and the failing step runs once more; a second path-not-found, like any
// other failure, is thrown to the caller. afterCopy runs as soon as the audio is safely
// copied (before the trailer).
class RecordingSaver {
public:
    RecordingSaver(GeneralSound& config, QString captureFile, QString fallbackDataPath)
        : config_(config),
          captureFile_(std::move(captureFile)),
          fallback_(std::move(fallbackDataPath)) {}

    std::function<void()> yield = [] {};
    std::function<void(const RuntimeError&)> report = [](const RuntimeError&) {};
    std::function<void(const SavedRecording&)> afterCopy = [](const SavedRecording&) {};

    SavedRecording save(const QDateTime& start, const QDateTime& end);

private:
    GeneralSound& config_;
    QString captureFile_;
    QString fallback_;
};

}  // namespace kallomir
