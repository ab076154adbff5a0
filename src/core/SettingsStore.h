#pragma once

#include <QString>

namespace kallomir {

// The per-user settings store: text values under (application, section, key); section and
// key names match without regard to case. Reading an absent key yields the caller's default.
// SaveSetting returns false when the value could not be stored.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString GetSetting(const QString& application, const QString& section,
                               const QString& key, const QString& defaultValue) const = 0;
    virtual bool SaveSetting(const QString& application, const QString& section, const QString& key,
                             const QString& value) = 0;
};

// Real store: one INI file per application, <root>/<application>/settings.ini, where root
// is $XDG_CONFIG_HOME (or ~/.config). Values are never cut; line breaks become blanks.
class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(QString root) : root_(std::move(root)) {}
    static QString DefaultRoot();

    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const override;
    bool SaveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value) override;
    QString fileFor(const QString& application) const;

private:
    QString root_;
};

// The program's own view of the store: application = executable name, section "Settings".
class UserSettings {
public:
    UserSettings(SettingsStore& store, QString application)
        : store_(store), application_(std::move(application)) {}

    QString get(const QString& key, const QString& defaultValue) const {
        return store_.GetSetting(application_, QStringLiteral("Settings"), key, defaultValue);
    }
    // Some writers spell the section "settings"; it addresses the same entry.
    // False when the store could not keep the value (a full disk, a read-only file).
    bool save(const QString& key, const QString& value,
              const QString& section = QStringLiteral("Settings")) {
        return store_.SaveSetting(application_, section, key, value);
    }
    const QString& application() const { return application_; }
    SettingsStore& store() { return store_; }

private:
    SettingsStore& store_;
    QString application_;
};

}  // namespace kallomir
