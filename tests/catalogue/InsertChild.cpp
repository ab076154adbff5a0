// One workstation saving recordings into the catalogue server as fast as it can, for the
// test of numbers given out to several at once.
//   InsertChild HOST PORT DATABASE USER PASSWORDFILE SCHEMA PREFIX COUNT
// Prints each number it was given, one per line; exits 0 when every row got one.
#include "catalogue/ServerCatalogue.h"
#include "core/RuntimeError.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace kallomir;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 9)
        return 2;
    ServerCatalogueConfig config;
    config.host = a[1];
    config.port = a[2].toInt();
    config.database = a[3];
    config.user = a[4];
    config.passwordFile = a[5];
    config.schema = a[6];
    config.sslMode = QStringLiteral("disable");
    QTemporaryDir folder;  // this workstation's own program folder (its queue)
    MemorySettingsStore store;
    UserSettings settings(store, QStringLiteral("kallomir"));
    ServerCatalogue catalogue(config, folder.path(), &settings);
    const int count = a[8].toInt();
    try {
        for (int i = 0; i < count; ++i) {
            RecorderInsertNotes notes;
            const auto number = catalogue.recorderInsert(
                QStringLiteral("%1_%2.Ems").arg(a[7]).arg(i, 4, 10, QChar(u'0')), settings, &notes);
            if (!number || notes.queued)
                return 3;
            std::printf("%d\n", *number);
        }
    } catch (const RuntimeError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 4;
    }
    return 0;
}
