#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace kallomir {

// Where a finished capture is being saved. Recorded in the capture's marker before the copy
// begins, so a save cut off at any point is finished under the same name, exactly once.
struct SavePlan {
    QDateTime end;
    QString folderTag;  // RecFolder at the stop, for the trailer
    QString target;     // the recording file, full path
    QString temp;       // where it is written before it takes its name
    bool operator==(const SavePlan&) const = default;
};

struct CaptureMarkerData {
    QDateTime start;
    std::optional<SavePlan> plan;
    QString numero{};  // the caller's number of the recorded call; empty for none
};

// A small file beside a capture file that exists exactly while that capture holds audio not
// yet safely saved and catalogued. It holds the recording's start and, once its save has
// begun, the save plan; room for the plan is reserved when the marker is created, so the
// plan can still be written when the disk has filled up meanwhile.
class CaptureMarker {
public:
    explicit CaptureMarker(QString captureFile) : capture_(std::move(captureFile)) {}

    static QString Suffix() { return QStringLiteral(".unsaved"); }
    QString path() const { return capture_ + Suffix(); }
    const QString& captureFile() const { return capture_; }

    // Each returns empty text on success, else what went wrong (for the operator).
    QString create(const QDateTime& start, const QString& numero = QString()) const;
    // Writes the plan in place and waits until it is on the disk.
    QString recordPlan(const SavePlan& plan) const;
    QString clear() const;

    bool isSet() const;
    // Nothing when there is no marker or its start cannot be read; a plan that was cut off
    // while it was written reads as no plan.
    std::optional<CaptureMarkerData> read() const;

private:
    QString capture_;
};

// The capture files of a program folder whose markers are set.
QStringList MarkedCaptureFiles(const QString& programFolder);

// The file a new capture goes into: "Record.wav" when it holds nothing unsaved, otherwise
// the first of "Record_2.wav", "Record_3.wav", ... that is free. `busy` lists capture files in
// use that have no marker yet.
QString FreeCaptureFile(const QString& programFolder, const QSet<QString>& busy = {});

}  // namespace kallomir
