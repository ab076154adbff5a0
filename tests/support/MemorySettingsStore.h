#pragma once

#include "core/SettingsStore.h"

#include <QHash>

namespace kallomir {

// In-memory store: counts reads and writes so tests can tell what was touched.
class MemorySettingsStore : public SettingsStore {
public:
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const override;
    bool SaveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value) override;
    int writeCount() const { return writes_; }
    // Makes every later write fail, as a full or read-only disk would.
    void failWrites(bool fail) { failWrites_ = fail; }
    int readCount() const { return reads_; }

private:
    static QString Id(const QString& application, const QString& section, const QString& key);
    QHash<QString, QString> values_;
    int writes_ = 0;
    bool failWrites_ = false;
    mutable int reads_ = 0;
};

}  // namespace kallomir
