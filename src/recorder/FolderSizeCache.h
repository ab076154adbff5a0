#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>

namespace kallomir {

// The total size of the recordings ("*.ems", any case) in one folder, asked for once a
// second. A full listing of a folder with thousands of recordings is costly, so the sum is
// kept and listed again only when the folder itself changed (a file added, removed or
// renamed by this or any other program changes the folder's modification time), when that
// time is too close to the last listing to be trusted, when told to, and every
// kFullRescanEvery-th request as a guard against files that grow in place.
class FolderSizeCache {
public:
    static constexpr int kFullRescanEvery = 300;

    std::int64_t sum(const QString& folder);
    // Forget the kept sum (after this program wrote into the folder).
    void invalidate() { valid_ = false; }
    int listings() const { return listings_; }

    // The plain way: list the folder and add up every recording's size.
    static std::int64_t Rescan(const QString& folder);

private:
    QString folder_;
    std::int64_t sum_ = 0;
    std::filesystem::file_time_type folderTime_{};
    bool valid_ = false;
    int requestsSinceListing_ = 0;
    int listings_ = 0;
};

}  // namespace kallomir
