#include "settings/SettingsRules.h"

#include <gtest/gtest.h>

using namespace kallomir;

TEST(SettingsRules, TapiVersionTakesMajorFromTheHighWordAndMinorFromTheLowByte) {
    EXPECT_EQ(TapiVersionText(0x00020001), QStringLiteral("TAPI V2.1"));
    EXPECT_EQ(TapiVersionText(0x00030000), QStringLiteral("TAPI V3.0"));
    EXPECT_EQ(TapiVersionText(0x00021F05), QStringLiteral("TAPI V2.5")) << "bits 8-15 ignored";
    EXPECT_EQ(TapiVersionText(static_cast<qint32>(0xFFFF00FF)), QStringLiteral("TAPI V65535.255"));
}

TEST(SettingsRules, PlainFolderNameDropsOnlyTheFolderNumber) {
    EXPECT_EQ(PlainFolderName(QStringLiteral("Quendral/1"), QStringLiteral("1")),
              QStringLiteral("Quendral"));
    EXPECT_EQ(PlainFolderName(QStringLiteral("Quendral/12"), QStringLiteral("2")),
              QStringLiteral("Quendral/12"));
    EXPECT_EQ(PlainFolderName(QStringLiteral("ERROR"), QStringLiteral("1")),
              QStringLiteral("ERROR"));
    EXPECT_EQ(PlainFolderName(QStringLiteral("A/"), QString()), QStringLiteral("A/"));
}

TEST(SettingsRules, FolderLimitMustBeANumber) {
    EXPECT_EQ(FolderLimitValue(QStringLiteral("700   ")), 700.0);
    EXPECT_EQ(FolderLimitValue(QStringLiteral("0.5")), 0.5);
    EXPECT_FALSE(FolderLimitValue(QStringLiteral("")));
    EXPECT_FALSE(FolderLimitValue(QStringLiteral("6OO")));
    EXPECT_FALSE(FolderLimitValue(QStringLiteral("-1")));
    EXPECT_FALSE(FolderLimitValue(QStringLiteral("nan")));
    EXPECT_FALSE(FolderLimitValue(QStringLiteral("inf")));
}

TEST(SettingsRules, RetryBudgetIsSharedByTheStepsOfOneRun) {
    RetryBudget budget;
    int attempts = 0;
    EXPECT_EQ(budget.run([&] {
        if (++attempts < 30)
            throw RuntimeError(5, QStringLiteral("busy"));
        return 7;
    }),
              7);
    EXPECT_EQ(budget.failures(), 29);
    attempts = 0;
    try {
        budget.run([&] {
            ++attempts;
            throw RuntimeError(6, QStringLiteral("gone"));
        });
        FAIL() << "gave up too late";
    } catch (const RetryBudget::Exhausted& exhausted) {
        EXPECT_EQ(exhausted.error.number(), 6);
    }
    EXPECT_EQ(attempts, 21) << "29 + 21 failures make the fiftieth";
}

TEST(SettingsRules, FolderNameKeys) {
    for (QChar key : QStringLiteral("azAZ09\b")) EXPECT_TRUE(IsFolderNameKey(key)) << int{key.unicode()};
    for (QChar key : QStringLiteral(" -_./\\\tàé"))
        EXPECT_FALSE(IsFolderNameKey(key)) << int{key.unicode()};
}
