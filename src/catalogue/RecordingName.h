#pragma once

#include <QDateTime>
#include <QString>

namespace kallomir {

// The name of a recording: its start moment as "yyyymmdd_hhnnss" (24-hour, zero-padded).
QString MakeRecordingName(const QDateTime& moment);

// The recording file extension, as the catalogue stores it.
inline const QString kRecordingExtension = QStringLiteral(".Ems");

// A name for a recording started at moment that no file in folder uses yet: the plain
// name, or, when a recording of that same second is already there, the name followed by
// "_2", "_3", ... so that a second recording never replaces the first.
QString DistinctRecordingName(const QString& folder, const QDateTime& moment);

}  // namespace kallomir
