#pragma once

#include "player/HeardCoverage.h"

#include <QString>

namespace kallomir {

// Where the heard coverage of each recording is kept between runs: a small SQLite file of its
// own in the program folder ("ascolto.db", table `heard`: the recording's full path and its
// stretches as text), beside the catalogue, which it never touches. Each call opens and
// closes the file; failures throw RuntimeError.
class HeardCoverageStore {
public:
    static constexpr const char* kFileName = "ascolto.db";

    explicit HeardCoverageStore(QString databaseFile) : file_(std::move(databaseFile)) {}
    static HeardCoverageStore InFolder(const QString& programFolder);

    // Nothing heard yet for a recording the store does not know.
    HeardCoverage load(const QString& recordingPath) const;
    void save(const QString& recordingPath, const HeardCoverage& coverage) const;

    const QString& file() const { return file_; }

private:
    QString file_;
};

}  // namespace kallomir
