#pragma once

#include "core/SettingsStore.h"

#include <QHash>

namespace kallomir {

// In-memory store: counts reads and writes so tests can tell what was touched.
class MemorySettingsStore : public SettingsStore {
public:
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const override;
    void SaveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value) override;
    int writeCount() const { return writes_; }
    int readCount() const { return reads_; }

private:
    static QString Id(const QString& application, const QString& section, const QString& key);
    QHash<QString, QString> values_;
    int writes_ = 0;
    mutable int reads_ = 0;
};

}  // namespace kallomir
