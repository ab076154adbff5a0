#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

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

// Takes the fingerprint of a recording while it is written, on a thread of its own: each
// block is copied and handed over, so hashing runs beside the writing instead of after it.
// The writer waits only when the hashing thread is several blocks behind.
class FingerprintPipe {
public:
    FingerprintPipe();
    ~FingerprintPipe();
    FingerprintPipe(const FingerprintPipe&) = delete;
    FingerprintPipe& operator=(const FingerprintPipe&) = delete;

    void add(std::span<const char> bytes);
    // Everything added so far was audio; what follows is the trailer.
    void endOfAudio();
    // Waits for the hashing thread and gives the fingerprint of all that was added.
    RecordingFingerprint finish();

private:
    struct Item {
        std::vector<char> bytes;
        bool endOfAudio = false;
        bool last = false;
    };
    void push(Item item);
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;               // guarded by mutex_
    std::vector<std::vector<char>> free_;  // guarded by mutex_: buffers to reuse
    bool done_ = false;                    // guarded by mutex_
    bool audioEnded_ = false;              // writer's thread only
    RecordingFingerprint result_;          // hashing thread until done_
    std::thread worker_;
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
