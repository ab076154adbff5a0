#include "evidence/Fingerprint.h"

#include "core/RuntimeError.h"
#include "evidence/Sha256.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kallomir {

namespace {

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

void FingerprintTaker::add(std::span<const char> bytes) {
    hash_.add(bytes);
    result_.bytes += qint64(bytes.size());
    if (inTrailer_)
        result_.trailer.append(bytes.data(), qsizetype(bytes.size()));
}

void FingerprintTaker::endOfAudio() {
    result_.audioSha256 = hash_.hexSoFar();
    inTrailer_ = true;
}

RecordingFingerprint FingerprintTaker::finish() {
    result_.sha256 = hash_.hexSoFar();
    if (!inTrailer_)
        result_.audioSha256 = result_.sha256;
    return result_;
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

    FingerprintTaker fingerprint;
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
            fingerprint.add(block.first(audioPart));
            fingerprint.endOfAudio();
            audioDone = true;
            block = block.subspan(audioPart);
        }
        fingerprint.add(block);
        at += got;
        if (onBytes)
            onBytes(got);
    }
    return fingerprint.finish();
}

QString Sha256OfFile(const QString& path) {
    const auto fingerprint = FingerprintOfFile(path);
    return fingerprint ? fingerprint->sha256 : QString();
}

}  // namespace kallomir
