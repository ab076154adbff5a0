#include "recorder/RecordingSaver.h"

#include "catalogue/RecordingName.h"
#include "catalogue/RecordingTrailer.h"
#include "catalogue/WavInfo.h"
#include "core/FileErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <vector>

namespace kallomir {

namespace {

constexpr std::size_t kBlock = 4 * 1024 * 1024;

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

RuntimeError PathNotFound(const QString& path) {
    return RuntimeError(errors::kPathNotFound, QStringLiteral("Path not found: '%1'").arg(path));
}

// Writes all of bytes or throws; a write that takes nothing is a full disk.
void WriteAll(int fd, const char* data, std::size_t size, const QString& file) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(errno, file);
        }
        if (written == 0)
            throw FileError(ENOSPC, file);
        data += written;
        size -= std::size_t(written);
    }
}

// Hashes the whole file behind fd into fingerprint, in blocks small enough to stay in the
// core's cache between their read and their hash, until the end or until stop is set.
void HashWhole(int fd, FingerprintTaker& fingerprint, const std::atomic<bool>& stop,
               const QString& file) {
    constexpr std::size_t kHashBlock = 1 << 20;
    std::vector<char> buffer(kHashBlock);
    off_t at = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw RuntimeError(errors::kDeviceIo,
                               QStringLiteral("Device I/O error: '%1'").arg(file));
        if (got == 0)
            return;
        fingerprint.add(std::span<const char>(buffer.data(), std::size_t(got)));
        at += got;
    }
}

QString WithSlash(QString folder) {
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QString FolderOf(const QString& file) {
    return QFileInfo(file).absolutePath();
}

}  // namespace

void CreateFolderLevel(const QString& path) {
    if (QFileInfo(path).isDir())
        return;
    if (QDir().mkdir(path))
        return;
    if (!QFileInfo(QFileInfo(QDir::cleanPath(path)).absolutePath()).isDir())
        throw PathNotFound(path);
    throw FileError(EACCES, path);
}

void CopyToNewFile(const QString& source, const QString& target,
                   const std::function<void()>& onProgress, FingerprintTaker* fingerprint) {
    Fd in(::open(Native(source).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        if (errno == ENOENT)
            throw RuntimeError(errors::kFileNotFound,
                               QStringLiteral("File not found: '%1'").arg(source));
        throw FileError(errno, source);
    }
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Fd out(::open(Native(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        if (errno == ENOENT || !QFileInfo(FolderOf(target)).isDir())
            throw PathNotFound(target);
        throw FileError(errno, target);
    }
    // The fingerprint reads the capture on a thread of its own while the kernel copies it:
    // both read the same pages of memory, and neither waits for the other.
    std::atomic<bool> stopHashing{false};
    std::future<void> hashing;
    if (fingerprint)
        hashing = std::async(std::launch::async, [&, fd = in.get()] {
            HashWhole(fd, *fingerprint, stopHashing, source);
        });
    // On every way out the thread is stopped and waited for before what it reads goes.
    struct Join {
        std::atomic<bool>& stop;
        std::future<void>& hashing;
        ~Join() {
            if (hashing.valid()) {
                stop = true;
                hashing.wait();
            }
        }
    } join{stopHashing, hashing};
    try {
        // The kernel copies the bytes without a trip through this process; a file system that
        // cannot leaves it to the loop below.
        bool copied = false;
        loff_t inOffset = 0;
        loff_t outOffset = 0;
        for (;;) {
            const ssize_t n =
                ::copy_file_range(in.get(), &inOffset, out.get(), &outOffset, kBlock, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && inOffset == 0 &&
                (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                 errno == EBADF))
                break;
            if (n < 0)
                throw FileError(errno, target);
            if (n == 0) {
                copied = true;
                break;
            }
            ::sync_file_range(out.get(), outOffset - n, n, SYNC_FILE_RANGE_WRITE);
            if (onProgress)
                onProgress();
        }
        std::vector<char> buffer(copied ? 0 : kBlock);
        off_t written = 0;
        for (; !copied;) {
            const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw RuntimeError(errors::kDeviceIo,
                                   QStringLiteral("Device I/O error: '%1'").arg(source));
            }
            if (got == 0)
                break;
            WriteAll(out.get(), buffer.data(), std::size_t(got), target);
            // The disk starts on this block while the next is read, so the flush at the end
            // has little left to wait for.
            ::sync_file_range(out.get(), written, got, SYNC_FILE_RANGE_WRITE);
            written += got;
            if (onProgress)
                onProgress();
        }
        if (::fsync(out.get()) != 0 || out.release() != 0)
            throw FileError(errno, target);
        if (hashing.valid())
            hashing.get();  // the fingerprint's own read error, if any
    } catch (const RuntimeError&) {
        if (out.get() >= 0)
            out.release();
        ::unlink(Native(target).constData());
        throw;
    }
}

void AppendAndFlush(const QString& file, const QByteArray& bytes) {
    Fd fd(::open(Native(file).constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (fd.get() < 0)
        throw FileError(errno, file);
    WriteAll(fd.get(), bytes.constData(), std::size_t(bytes.size()), file);
    if (::fsync(fd.get()) != 0 || fd.release() != 0)
        throw FileError(errno, file);
}

bool RenameNoReplace(const QString& temp, const QString& target) {
    const QByteArray from = Native(temp);
    const QByteArray to = Native(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        throw FileError(errno, target);
    // A file system without the atomic form: a hard link refuses an existing name too.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV)
        throw FileError(errno, target);
    if (QFileInfo::exists(target))
        return false;
    if (::rename(from.constData(), to.constData()) != 0)
        throw FileError(errno, target);
    return true;
}

void FlushFolder(const QString& folder) {
    Fd fd(::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        throw FileError(errno, folder);
    // Some file systems cannot flush a folder on its own; their names are then as safe as
    // the file system makes them.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw FileError(errno, folder);
}

SaveResult RecordingSaver::save(const SaveRequest& request) const {
    SaveResult result;
    const CaptureMarker marker(request.captureFile);
    std::optional<SavePlan> plan;
    if (const auto data = marker.read())
        plan = data->plan;
    QString dataPath = request.dataPath;
    QString recFolder = request.recFolder;
    bool switched = false;
    auto step = [this](SaveStep s) {
        if (onStep)
            onStep(s);
    };
    if (QFileInfo::exists(request.captureFile)) {
        const auto info = WavInfo::Read(request.captureFile);
        result.noAudio = !info || info->audioBytes() <= 0;
    }

    try {
        for (;;) {
            try {
                if (!plan) {
                    CreateFolderLevel(dataPath);
                    const QString folder = dataPath + recFolder;
                    CreateFolderLevel(folder);
                    const QString name =
                        DistinctRecordingName(folder, request.start) + kRecordingExtension;
                    plan = SavePlan{request.end, recFolder, folder + u'/' + name,
                                    folder + QStringLiteral("/.") + name + QStringLiteral(".part")};
                    result.markerProblem = marker.recordPlan(*plan);
                    step(SaveStep::Planned);
                }
                if (QFileInfo::exists(plan->target)) {
                    // Finished before: only a leftover of the temporary name may remain.
                    QFile::remove(plan->temp);
                    result.namedBefore = true;
                    if (takeFingerprint)
                        result.fingerprint = FingerprintOfFile(plan->target);
                    break;
                }
                if (!QFileInfo(FolderOf(plan->target)).isDir())
                    throw PathNotFound(plan->target);
                if (QFileInfo::exists(plan->temp) && !QFile::remove(plan->temp))
                    throw FileError(EACCES, plan->temp);
                std::optional<FingerprintTaker> fingerprint;
                if (takeFingerprint)
                    fingerprint.emplace();
                CopyToNewFile(
                    request.captureFile, plan->temp, [&] { step(SaveStep::CopyBlock); },
                    fingerprint ? &*fingerprint : nullptr);
                step(SaveStep::Copied);
                const QByteArray trailer =
                    RecordingTrailer::Make(plan->folderTag, request.start, plan->end).toBytes();
                if (fingerprint) {
                    fingerprint->endOfAudio();
                    fingerprint->add(
                        std::span<const char>(trailer.constData(), std::size_t(trailer.size())));
                }
                AppendAndFlush(plan->temp, trailer);
                if (fingerprint)
                    result.fingerprint = fingerprint->finish();
                step(SaveStep::TrailerWritten);
                while (!RenameNoReplace(plan->temp, plan->target)) {
                    // Another program took the name meanwhile: the next free one is ours.
                    const QString folder = FolderOf(plan->target);
                    plan->target = folder + u'/' + DistinctRecordingName(folder, request.start) +
                                   kRecordingExtension;
                    result.markerProblem = marker.recordPlan(*plan);
                }
                FlushFolder(FolderOf(plan->target));
                step(SaveStep::Renamed);
                break;
            } catch (const RuntimeError& error) {
                if (error.number() != errors::kPathNotFound || switched)
                    throw;
                result.reports << error;
                switched = true;
                dataPath = WithSlash(request.fallbackDataPath);
                recFolder = QStringLiteral("ERROR");
                result.fallbackDataPath = dataPath;
                plan.reset();
            }
        }
        result.saved = true;
        result.file = plan->target;
        result.catalogueName = QFileInfo(plan->target).fileName();
    } catch (const RuntimeError& error) {
        result.failure = error;
    }
    return result;
}

}  // namespace kallomir
