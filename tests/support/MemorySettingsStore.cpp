#include "support/MemorySettingsStore.h"

namespace kallomir {

QString MemorySettingsStore::Id(const QString& application, const QString& section,
                                const QString& key) {
    return (application + u'\x1f' + section + u'\x1f' + key).toLower();
}

QString MemorySettingsStore::GetSetting(const QString& application, const QString& section,
                                        const QString& key, const QString& defaultValue) const {
    ++reads_;
    return values_.value(Id(application, section, key), defaultValue);
}

bool MemorySettingsStore::SaveSetting(const QString& application, const QString& section,
                                      const QString& key, const QString& value) {
    ++writes_;
    if (failWrites_)
        return false;
    values_.insert(Id(application, section, key), value);
    return true;
}

}  // namespace kallomir
