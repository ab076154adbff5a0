#include "app/ui/Application.h"

#include <QApplication>

namespace kallomir {

int RunApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}

}  // namespace kallomir
