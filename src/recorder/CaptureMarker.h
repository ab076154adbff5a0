#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace kallomir {

class Catalogue;
class MessageBoxService;
class UserSettings;
struct GeneralSound;

// A small file beside the capture file that exists exactly while a capture into that file
// has not been saved. The capture file itself stays on disk after every save, so only the
// marker tells a recording cut off by a crash from one already saved.
class CaptureMarker {
public:
    explicit CaptureMarker(QString captureFile) : capture_(std::move(captureFile)) {}

    QString path() const { return capture_ + QStringLiteral(".unsaved"); }
    const QString& captureFile() const { return capture_; }

    void set(const QDateTime& start) const;
    void clear() const;
    bool isSet() const;

private:
    QString capture_;
};

// The capture a previous run left unsaved, as it will be saved.
struct OrphanedCapture {
    QDateTime start;  // last write minus the audio length
    QDateTime end;    // last write
};

// Finds an orphaned capture: the marker is set and the capture file holds audio.
// A marker without usable audio is cleared and nothing is returned.
std::optional<OrphanedCapture> FindOrphanedCapture(const CaptureMarker& marker);

// Saves an orphaned capture like any recording (trailer, catalogue row with the next
// running number) and tells the operator once with a message box. The marker is cleared as
// soon as the audio is safely copied, so a failure after that (or a crash) never saves it
// twice. Returns the saved file, or nothing when there was nothing to recover. Errors are
// reported in a box titled "Recupero registrazione"; the marker then stays for the next run.
std::optional<QString> RecoverOrphanedCapture(
    const CaptureMarker& marker, GeneralSound& config, const QString& fallbackDataPath,
    const Catalogue& catalogue, UserSettings& settings, MessageBoxService& boxes,
    const std::function<void()>& yield = [] {});

}  // namespace kallomir
