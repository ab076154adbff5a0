#include "recorder/RecorderMonitor.h"

#include "core/VbConvert.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <cmath>
#include <cstdlib>

namespace kallomir {

QString FormatShortDuration(std::int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    auto two = [](std::int64_t v) { return QString::number(v).rightJustified(2, u'0'); };
    return two(seconds / 3600) + u':' + two((seconds / 60) % 60) + u':' + two(seconds % 60);
}

std::int16_t SilenceReload(std::int16_t holdMilliseconds) {
    return ToInt16(double(holdMilliseconds) / 1000.0 + 5.0);
}

std::int64_t FreeBytesAt(const QString& path) {
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!existing.isEmpty() && !QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    const QStorageInfo storage(existing);
    if (!storage.isValid())
        return -1;
    return storage.bytesAvailable();
}

std::int64_t DiskTimeSeconds(std::int64_t freeBytes) {
    if (freeBytes <= 0)
        return 0;
    return ToInt64(double(freeBytes) / kAssumedRecordingBytesPerSecond);
}

bool FolderLimitReached(std::int64_t captureBytes, std::int64_t folderBytes,
                        std::int64_t limitMillions) {
    const std::int64_t total = std::llabs(captureBytes) + std::llabs(folderBytes);
    return total >= limitMillions * 1000000LL;
}

}  // namespace kallomir
