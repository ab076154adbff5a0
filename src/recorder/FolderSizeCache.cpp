#include "recorder/FolderSizeCache.h"

#include <chrono>
#include <system_error>

namespace kallomir {

namespace {
std::filesystem::path PathOf(const QString& folder) {
    return std::filesystem::path(folder.toStdU16String());
}

bool IsRecording(const std::filesystem::path& file) {
    const std::string ext = file.extension().string();
    return ext.size() == 4 && ext[0] == '.' && (ext[1] | 0x20) == 'e' && (ext[2] | 0x20) == 'm' &&
           (ext[3] | 0x20) == 's';
}

// File systems with coarse time stamps cannot tell two changes within this span apart.
constexpr auto kTimestampTrust = std::chrono::seconds(2);
}  // namespace

std::int64_t FolderSizeCache::Rescan(const QString& folder) {
    std::int64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(PathOf(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (!IsRecording(it->path()))
            continue;
        std::error_code sizeError;
        if (!it->is_regular_file(sizeError))
            continue;
        const auto size = it->file_size(sizeError);
        if (!sizeError)
            total += static_cast<std::int64_t>(size);
    }
    return total;
}

std::int64_t FolderSizeCache::sum(const QString& folder) {
    std::error_code ec;
    const auto folderTime = std::filesystem::last_write_time(PathOf(folder), ec);
    if (ec) {  // the folder is gone: nothing in it
        valid_ = false;
        return 0;
    }
    const bool fresh = valid_ && folder == folder_ && folderTime == folderTime_ &&
                       ++requestsSinceListing_ < kFullRescanEvery;
    if (fresh)
        return sum_;

    const auto listedAt = std::filesystem::file_time_type::clock::now();
    sum_ = Rescan(folder);
    ++listings_;
    folder_ = folder;
    folderTime_ = folderTime;
    requestsSinceListing_ = 0;
    // A change in the same time-stamp tick as this listing would go unseen: trust the sum
    // only once the folder's time lies clearly before the listing.
    valid_ = folderTime + kTimestampTrust < listedAt;
    return sum_;
}

}  // namespace kallomir
