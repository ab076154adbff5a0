#pragma once

#include "evidence/Sha256.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <span>

namespace kallomir {

// What identifies a saved recording file: the SHA-256 of all its bytes (what `sha256sum`
// prints), the SHA-256 of the audio before its trailer and the trailer itself, so that a
// check can tell a changed sample from a changed trailer.
struct RecordingFingerprint {
    QString sha256;
    QString audioSha256;
    QByteArray trailer;  // the last 48 bytes (fewer for a shorter file)
    qint64 bytes = 0;
    bool operator==(const RecordingFingerprint&) const = default;
};

// The bytes at the end of a recording that are its trailer, not its audio.
inline constexpr qint64 kTrailerBytes = 48;

// Takes the fingerprint of a recording from its bytes, given in order.
class FingerprintTaker {
public:
    void add(std::span<const char> bytes);
    // Everything added so far was audio; what follows is the trailer.
    void endOfAudio();
    // The fingerprint of all that was added.
    RecordingFingerprint finish();

private:
    Sha256 hash_;
    bool inTrailer_ = false;
    RecordingFingerprint result_;
};

// Reads a file once and gives its fingerprint (the last 48 bytes taken as its trailer).
// Nothing when cancel was set meanwhile. onBytes is told of each block read.
// RuntimeErrors: 53 file not found, 70 permission denied, 57 read error.
std::optional<RecordingFingerprint> FingerprintOfFile(
    const QString& path, const std::atomic<bool>* cancel = nullptr,
    const std::function<void(qint64)>& onBytes = {});

// The SHA-256 of a whole file (for files that are not recordings); same errors.
QString Sha256OfFile(const QString& path);

}  // namespace kallomir
