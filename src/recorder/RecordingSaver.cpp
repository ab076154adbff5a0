#include "recorder/RecordingSaver.h"

#include "catalogue/RecordingName.h"
#include "core/GeneralSound.h"
#include "core/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(__linux__)
#include <unistd.h>

#include <cerrno>
#endif

namespace kallomir {

namespace {
constexpr qint64 kSlice = 4 * 1024 * 1024;

RuntimeError PathNotFound(const QString& path) {
    return RuntimeError(errors::kPathNotFound, QStringLiteral("Path not found: '%1'").arg(path));
}

RuntimeError WriteFailure(const QFile& file) {
    if (file.error() == QFileDevice::ResourceError)
        return RuntimeError(errors::kDiskFull,
                            QStringLiteral("Disk full: '%1'").arg(file.fileName()));
    return RuntimeError(errors::kPathFileAccess, QStringLiteral("Path/File access error: '%1' (%2)")
                                                     .arg(file.fileName(), file.errorString()));
}

QString WithSlash(QString folder) {
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}
}  // namespace

void CreateFolderLevel(const QString& path) {
    if (QFileInfo(path).isDir())
        return;
    if (!QDir().mkdir(path))
        throw PathNotFound(path);
}

namespace {
// Copies inside the kernel where it can (no trip through this process's memory);
// returns false when the system offers no such copy for these files, so the portable
// loop takes over from the same offsets.
bool KernelCopy(QFile& in, QFile& out, const std::function<void()>& yield) {
#if defined(__linux__)
    constexpr std::size_t kKernelSlice = 8 * 1024 * 1024;
    loff_t inOffset = 0;
    loff_t outOffset = 0;
    for (;;) {
        const ssize_t copied =
            copy_file_range(in.handle(), &inOffset, out.handle(), &outOffset, kKernelSlice, 0);
        if (copied == 0)
            return true;
        if (copied < 0) {
            if (inOffset == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
                                  errno == EOPNOTSUPP || errno == EBADF))
                return false;
            const int error = errno;
            out.close();
            out.remove();
            if (error == ENOSPC)
                throw RuntimeError(errors::kDiskFull,
                                   QStringLiteral("Disk full: '%1'").arg(out.fileName()));
            throw RuntimeError(errors::kDeviceIo,
                               QStringLiteral("Device I/O error: '%1'").arg(out.fileName()));
        }
        yield();
    }
#else
    (void)in;
    (void)out;
    (void)yield;
    return false;
#endif
}
}  // namespace

void CopyRecordingFile(const QString& source, const QString& target,
                       const std::function<void()>& yield) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw RuntimeError(errors::kFileNotFound,
                           QStringLiteral("File not found: '%1'").arg(source));
    if (!QFileInfo(QFileInfo(target).absolutePath()).isDir())
        throw PathNotFound(target);
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw WriteFailure(out);
    if (KernelCopy(in, out, yield)) {
        out.close();
        return;
    }
    QByteArray buffer;
    for (;;) {
        buffer = in.read(kSlice);
        if (buffer.isEmpty())
            break;
        if (out.write(buffer) != buffer.size()) {
            const RuntimeError error = WriteFailure(out);
            out.close();
            out.remove();
            throw error;
        }
        yield();
    }
    if (in.error() != QFileDevice::NoError) {
        out.close();
        out.remove();
        throw RuntimeError(errors::kDeviceIo, QStringLiteral("Device I/O error: '%1'").arg(source));
    }
    out.close();
    if (out.error() != QFileDevice::NoError)
        throw WriteFailure(out);
}

void AppendTrailer(const QString& file, const RecordingTrailer& trailer,
                   const std::function<void()>& yield) {
    yield();
    QFile out(file);
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        throw PathNotFound(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append))
        throw WriteFailure(out);
    yield();
    const QByteArray bytes = trailer.toBytes();
    if (out.write(bytes) != bytes.size())
        throw WriteFailure(out);
    yield();
    out.close();
    if (out.error() != QFileDevice::NoError)
        throw WriteFailure(out);
    yield();
}

SavedRecording RecordingSaver::save(const QDateTime& start, const QDateTime& end) {
    bool switched = false;
    // Runs one step; a path-not-found switches to the fallback folder once and repeats it.
    auto step = [&](auto&& body) {
        for (;;) {
            try {
                return body();
            } catch (const RuntimeError& error) {
                if (error.number() != errors::kPathNotFound || switched)
                    throw;
                report(error);
                switched = true;
                config_.dataPath = WithSlash(fallback_);
                config_.recFolder = QStringLiteral("ERROR");
            }
        }
    };

    SavedRecording saved;
    // Folders, name and copy belong together: after a switch they all use the new folder.
    step([&] {
        CreateFolderLevel(config_.dataPath);
        const QString target = config_.dataPath + config_.recFolder;
        CreateFolderLevel(target);
        const QString name = DistinctRecordingName(target, start);
        saved.catalogueName = name + kRecordingExtension;
        saved.file = target + u'/' + saved.catalogueName;
        CopyRecordingFile(captureFile_, saved.file, yield);
    });
    afterCopy(saved);
    const RecordingTrailer trailer = RecordingTrailer::Make(config_.recFolder, start, end);
    AppendTrailer(saved.file, trailer, yield);
    saved.usedFallback = switched;
    return saved;
}

}  // namespace kallomir
