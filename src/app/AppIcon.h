#pragma once

#include <QIcon>
#include <QPixmap>

namespace kallomir {

// The program's mark, drawn rather than shipped: a record dot over a sound wave.
QPixmap AppPixmap(int size);
QIcon AppIcon();
// The search button's magnifying glass over a page of text.
QIcon SearchIcon();

}  // namespace kallomir
