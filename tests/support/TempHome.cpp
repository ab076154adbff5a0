#include "support/TempHome.h"

#include <QFile>

namespace kallomir::test {

TempHome::TempHome() {
    context = std::make_unique<AppContext>(config, store, boxes, clock, process, home(),
                                           QStringLiteral("kallomir"));
    context->userHome = userHome();
    useCatalogue(SqliteCatalogue::InFolder(home()));
}

QStringList TempHome::initConfiguration() {
    return InitConfiguration(config, home(), ConfigurationDefaults::ForHome(userHome()));
}

void TempHome::writeFile(const QString& name, const QByteArray& bytes) const {
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

}  // namespace kallomir::test
