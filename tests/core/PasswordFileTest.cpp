#include "core/PasswordFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

TEST(PasswordFile, FirstFieldFollowsSequentialInputRules) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("alpha,beta\r\n"), QStringLiteral("alpha")},
        {QStringLiteral("   spaced out   \nnext"), QStringLiteral("spaced out")},
        {QStringLiteral("\"with, comma\",rest"), QStringLiteral("with, comma")},
        {QStringLiteral("\"unclosed quote\nline2"), QStringLiteral("unclosed quote")},
        {QStringLiteral("\r\n\r\n  second line"), QStringLiteral("second line")},
        {QStringLiteral("Secret"), QStringLiteral("Secret")},
        {QStringLiteral(",leading comma"), QString()},
        {QStringLiteral("\"\""), QString()},
    };
    for (const auto& [text, field] : cases) {
        const auto got = FirstField(text);
        ASSERT_TRUE(got.has_value()) << text.toStdString();
        EXPECT_EQ(*got, field) << text.toStdString();
    }
}

TEST(PasswordFile, NoFieldInEmptyOrBlankText) {
    EXPECT_FALSE(FirstField(QString()).has_value());
    EXPECT_FALSE(FirstField(QStringLiteral("   \t\r\n  \n")).has_value());
    EXPECT_FALSE(FirstField(QString(QChar(0)) + QStringLiteral("abc")).has_value());
}

TEST(PasswordFile, FileReadingHandlesMissingAndOddBytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("2001Kallomir.Emx"));
    EXPECT_FALSE(ReadPasswordFile(path).has_value());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("pa\0ss,x\n", 8));
    f.close();
    EXPECT_EQ(ReadPasswordFile(path), QStringLiteral("pa"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("caf\xe9\n");  // written in the old single-byte code page
    f.close();
    EXPECT_EQ(ReadPasswordFile(path), QStringLiteral("café"));
}

}  // namespace
