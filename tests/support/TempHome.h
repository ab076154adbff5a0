#pragma once

#include "catalogue/SqliteCatalogue.h"
#include "core/AppContext.h"
#include "core/GeneralSound.h"
#include "core/ProcessControl.h"
#include "support/ManualClock.h"
#include "support/MemorySettingsStore.h"
#include "support/ScriptedMessageBoxes.h"

#include <QTemporaryDir>

#include <memory>

namespace kallomir::test {

// A throw-away program folder and user home with test doubles for every service:
// the starting point of most tests.
class TempHome {
public:
    TempHome();

    QString home() const { return homeDir_.path(); }      // program folder
    QString userHome() const { return userDir_.path(); }  // stands for $HOME
    QString path(const QString& name) const { return home() + u'/' + name; }

    // Puts another catalogue in the program's hands (a server for tests run on both).
    void useCatalogue(std::unique_ptr<CatalogueStore> replacement) {
        catalogue = std::move(replacement);
        context->catalogue = catalogue.get();
    }

    // Runs the start-up configuration against this home; returns folders it could not create.
    QStringList initConfiguration();
    void writeFile(const QString& name, const QByteArray& bytes) const;

    GeneralSound config;
    MemorySettingsStore store;
    ScriptedMessageBoxes boxes;
    ManualClock clock;
    RecordingProcessControl process;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<CatalogueStore> catalogue;  // the embedded file of home() unless replaced

private:
    QTemporaryDir homeDir_;
    QTemporaryDir userDir_;
};

}  // namespace kallomir::test
