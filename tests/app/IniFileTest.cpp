#include "app/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;

TEST(IniFile, SmokeRoundTrip) {
    QTemporaryDir dir;
    IniFile ini(dir.filePath(QStringLiteral("a.ini")));
    QString v = QStringLiteral("x");
    ASSERT_TRUE(ini.write(QStringLiteral("S"), QStringLiteral("k"), v));
    EXPECT_EQ(ini.read(QStringLiteral("s"), QStringLiteral("K"), QStringLiteral("d")), QStringLiteral("x"));
}
