#include "app/QtProcessControl.h"

#include <QCoreApplication>

namespace kallomir {

void QtProcessControl::endProcess(int exitCode) {
    if (!ended_)
        code_ = exitCode;
    ended_ = true;
    QCoreApplication::exit(code_);
}

}  // namespace kallomir
