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

#include <cerrno>
#include <cstring>
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

// Reads exactly size bytes at offset, or throws: the file cannot have shrunk meanwhile.
void ReadAllAt(int fd, char* data, std::size_t size, off_t offset, const QString& file) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw RuntimeError(errors::kDeviceIo,
                               QStringLiteral("Device I/O error: '%1'").arg(file));
        data += got;
        size -= std::size_t(got);
        offset += got;
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
                   const std::function<void(std::span<const char>)>& onBlock,
                   const std::function<void()>& onProgress) {
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
    try {
        // The kernel copies the bytes without a trip through this process; whoever must see
        // them (the fingerprint) reads each block just copied while the page cache holds it,
        // which costs far less than copying through here. A file system that cannot copy
        // leaves it to the loop below.
        bool copied = false;
        std::vector<char> seen(onBlock ? kBlock : 0);
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
            if (onBlock) {
                ReadAllAt(in.get(), seen.data(), std::size_t(n), inOffset - n, source);
                onBlock(std::span<const char>(seen.data(), std::size_t(n)));
            }
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
            if (onBlock)
                onBlock(std::span<const char>(buffer.data(), std::size_t(got)));
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
                std::function<void(std::span<const char>)> blocks;
                if (fingerprint || onBlock)
                    blocks = [&](std::span<const char> block) {
                        if (fingerprint)
                            fingerprint->add(block);
                        if (onBlock)
                            onBlock(block);
                    };
                CopyToNewFile(request.captureFile, plan->temp, blocks,
                              [&] { step(SaveStep::CopyBlock); });
                step(SaveStep::Copied);
                const QByteArray trailer =
                    RecordingTrailer::Make(plan->folderTag, request.start, plan->end).toBytes();
                if (fingerprint)
                    fingerprint->endOfAudio();
                if (blocks)
                    blocks(std::span<const char>(trailer.constData(), std::size_t(trailer.size())));
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
