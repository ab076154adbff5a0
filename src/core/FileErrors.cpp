#include "core/FileErrors.h"

#include <cerrno>
#include <cstring>

namespace kallomir {

namespace {
constexpr int kFileAlreadyExists = 58;
}  // namespace

RuntimeError FileError(int error, const QString& path) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return RuntimeError(errors::kDiskFull, QStringLiteral("Disk full: '%1'").arg(path));
        case ENOENT:
        case ENOTDIR:
            return RuntimeError(errors::kPathNotFound,
                                QStringLiteral("Path not found: '%1'").arg(path));
        case EACCES:
        case EPERM:
        case EROFS:
            return RuntimeError(errors::kPermissionDenied,
                                QStringLiteral("Permission denied: '%1'").arg(path));
        case EIO:
            return RuntimeError(errors::kDeviceIo,
                                QStringLiteral("Device I/O error: '%1'").arg(path));
        case EEXIST:
            return RuntimeError(kFileAlreadyExists,
                                QStringLiteral("File already exists: '%1'").arg(path));
        default:
            return RuntimeError(errors::kPathFileAccess,
                                QStringLiteral("Path/File access error: '%1' (%2)")
                                    .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
}

}  // namespace kallomir
