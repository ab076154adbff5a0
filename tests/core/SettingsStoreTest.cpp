#include "core/SettingsStore.h"
#include "support/MemorySettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

TEST(SettingsStore, SectionAndKeyNamesIgnoreCaseOnDisk) {
    QTemporaryDir dir;
    IniSettingsStore store(dir.path());
    UserSettings settings(store, QStringLiteral("kallomir"));
    settings.save(QStringLiteral("DimFolder"), QStringLiteral("700"), QStringLiteral("settings"));
    settings.save(QStringLiteral("TimeRecall"), QStringLiteral("20"));
    EXPECT_EQ(settings.get(QStringLiteral("DimFolder"), QStringLiteral("600")),
              QStringLiteral("700"));
    EXPECT_EQ(settings.get(QStringLiteral("timerecall"), QStringLiteral("15")),
              QStringLiteral("20"));
    settings.save(QStringLiteral("timerecall"), QStringLiteral("25"));
    EXPECT_EQ(settings.get(QStringLiteral("TimeRecall"), QStringLiteral("15")),
              QStringLiteral("25"));
    // One entry each, whatever the spelling of the writer.
    QFile f(store.fileFor(QStringLiteral("kallomir")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll().toLower();
    EXPECT_EQ(text.count("timerecall"), 1);
    EXPECT_EQ(text.count("[settings]"), 1);
}

TEST(SettingsStore, AbsentKeyGivesDefaultAndValuesAreNeverCut) {
    QTemporaryDir dir;
    IniSettingsStore store(dir.path());
    EXPECT_EQ(store.GetSetting(QStringLiteral("kallomir"), QStringLiteral("Settings"),
                               QStringLiteral("Recall"), QStringLiteral("0")),
              QStringLiteral("0"));
    const QString longText(1000, u'n');
    store.SaveSetting(QStringLiteral("kallomir"), QStringLiteral("Settings"),
                      QStringLiteral("Telephone Number"), longText);
    EXPECT_EQ(store.GetSetting(QStringLiteral("kallomir"), QStringLiteral("Settings"),
                               QStringLiteral("Telephone Number"), QString()),
              longText);
}

TEST(SettingsStore, UnreadableStoreGivesDefaults) {
    QTemporaryDir dir;
    IniSettingsStore store(dir.path());
    // The settings "file" is a folder: nothing can be read or written, and nobody crashes.
    ASSERT_TRUE(QDir().mkpath(store.fileFor(QStringLiteral("kallomir"))));
    UserSettings settings(store, QStringLiteral("kallomir"));
    settings.save(QStringLiteral("Recall"), QStringLiteral("1"));
    EXPECT_EQ(settings.get(QStringLiteral("Recall"), QStringLiteral("0")), QStringLiteral("0"));
}

// The tests of every window run on the memory store: it must answer as the real one does.
TEST(SettingsStore, MemoryStoreAnswersAsTheRealOne) {
    QTemporaryDir dir;
    IniSettingsStore real(dir.path());
    MemorySettingsStore memory;
    struct Write {
        const char* section;
        const char* key;
        const char* value;
    };
    const Write writes[] = {{"settings", "TimeVox", "5"},
                            {"Settings", "timevox", "6"},
                            {"Settings", "Telephone Number", "0612 345"},
                            {"Other", "TimeVox", "9"}};
    for (const Write& w : writes) {
        for (SettingsStore* store :
             {static_cast<SettingsStore*>(&real), static_cast<SettingsStore*>(&memory)})
            store->SaveSetting("kallomir", w.section, w.key, w.value);
    }
    const std::pair<const char*, const char*> reads[] = {{"SETTINGS", "TIMEVOX"},
                                                         {"Settings", "telephone number"},
                                                         {"other", "timevox"},
                                                         {"Settings", "absent"}};
    for (const auto& [section, key] : reads) {
        EXPECT_EQ(memory.GetSetting("kallomir", section, key, "dflt"),
                  real.GetSetting("kallomir", section, key, "dflt"))
            << section << "/" << key;
    }
}

}  // namespace
