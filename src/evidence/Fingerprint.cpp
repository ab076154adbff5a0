#include "evidence/Fingerprint.h"

#include "core/RuntimeError.h"
#include "evidence/Sha256.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kallomir {

namespace {

// Enough blocks in flight to keep the hashing thread busy while the writer waits for the
// disk, few enough to keep the memory small.
constexpr std::size_t kBlocksInFlight = 3;
constexpr std::size_t kReadBlock = 1 << 20;

RuntimeError OpenError(int error, const QString& path) {
    if (error == ENOENT || error == ENOTDIR)
        return RuntimeError(errors::kFileNotFound,
                            QStringLiteral("File not found: '%1'").arg(path));
    if (error == EACCES || error == EPERM)
        return RuntimeError(errors::kPermissionDenied,
                            QStringLiteral("Permission denied: '%1'").arg(path));
    return RuntimeError(errors::kDeviceIo, QStringLiteral("Device I/O error: '%1'").arg(path));
}

}  // namespace

FingerprintPipe::FingerprintPipe() : worker_([this] { run(); }) {}

FingerprintPipe::~FingerprintPipe() {
    if (worker_.joinable()) {
        push(Item{{}, false, true});
        worker_.join();
    }
}

void FingerprintPipe::push(Item item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kBlocksInFlight; });
    queue_.push_back(std::move(item));
    changed_.notify_all();
}

void FingerprintPipe::add(std::span<const char> bytes) {
    if (bytes.empty())
        return;
    std::vector<char> copy;
    {
        std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            copy = std::move(free_.back());
            free_.pop_back();
        }
    }
    copy.assign(bytes.begin(), bytes.end());
    push(Item{std::move(copy), false, false});
}

void FingerprintPipe::endOfAudio() {
    audioEnded_ = true;
    push(Item{{}, true, false});
}

RecordingFingerprint FingerprintPipe::finish() {
    if (!audioEnded_)
        endOfAudio();
    push(Item{{}, false, true});
    worker_.join();
    return result_;
}

void FingerprintPipe::run() {
    Sha256 hash;
    bool inTrailer = false;
    for (;;) {
        Item item;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty(); });
            item = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
        }
        if (item.last)
            break;
        if (item.endOfAudio) {
            result_.audioSha256 = hash.hexSoFar();
            inTrailer = true;
            continue;
        }
        hash.add(std::span<const char>(item.bytes.data(), item.bytes.size()));
        result_.bytes += qint64(item.bytes.size());
        if (inTrailer)
            result_.trailer.append(item.bytes.data(), qsizetype(item.bytes.size()));
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(item.bytes));
    }
    result_.sha256 = hash.hexSoFar();
    if (result_.audioSha256.isEmpty())
        result_.audioSha256 = result_.sha256;
}

std::optional<RecordingFingerprint> FingerprintOfFile(const QString& path,
                                                      const std::atomic<bool>* cancel,
                                                      const std::function<void(qint64)>& onBytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw OpenError(errno, path);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        throw OpenError(errno, path);
    const qint64 audioEnd = std::max<qint64>(0, qint64(size) - kTrailerBytes);

    RecordingFingerprint result;
    Sha256 hash;
    std::vector<char> buffer(kReadBlock);
    qint64 at = 0;
    bool audioDone = false;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return std::nullopt;
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw RuntimeError(errors::kDeviceIo,
                               QStringLiteral("Device I/O error: '%1'").arg(path));
        }
        if (got == 0)
            break;
        std::span<const char> block(buffer.data(), std::size_t(got));
        if (!audioDone && at + got >= audioEnd) {
            // The block holds the end of the audio: the audio's digest is taken there.
            const std::size_t audioPart = std::size_t(audioEnd - at);
            hash.add(block.first(audioPart));
            result.audioSha256 = hash.hexSoFar();
            audioDone = true;
            block = block.subspan(audioPart);
        }
        hash.add(block);
        if (audioDone)
            result.trailer.append(block.data(), qsizetype(block.size()));
        at += got;
        if (onBytes)
            onBytes(got);
    }
    if (!audioDone)
        result.audioSha256 = hash.hexSoFar();
    result.sha256 = hash.hexSoFar();
    result.bytes = at;
    return result;
}

QString Sha256OfFile(const QString& path) {
    const auto fingerprint = FingerprintOfFile(path);
    return fingerprint ? fingerprint->sha256 : QString();
}

}  // namespace kallomir
