#include "core/GeneralSound.h"
#include "core/IniFile.h"
#include "core/VbConvert.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::TempHome;

namespace {

QString Ini(TempHome& h, const char* section, const char* key) {
    return IniFile(h.path(QStringLiteral("RIZEDUZO.INI")))
        .read(QString::fromLatin1(section), QString::fromLatin1(key), QStringLiteral("<absent>"));
}

TEST(InitConfiguration, NoFileGivesDefaultsWritesThemBackAndCreatesFolders) {
    TempHome h;
    EXPECT_TRUE(h.initConfiguration().isEmpty());
    const GeneralSound& c = h.config;
    EXPECT_EQ(c.iniFile, h.home() + QStringLiteral("/RIZEDUZO.INI"));
    EXPECT_EQ(c.commPort, 1);
    EXPECT_EQ(c.commSettings, QStringLiteral("9600,n,8,1"));
    EXPECT_EQ(c.dataPath, h.userHome() + QStringLiteral("/Recodati/"));
    EXPECT_EQ(c.recFolder, QStringLiteral("Quendral/1"));
    EXPECT_EQ(c.folderNumber, QStringLiteral("1"));
    EXPECT_EQ(c.sampleRate, QStringLiteral("11025"));
    EXPECT_EQ(c.bitsPerSample, QStringLiteral("8"));
    EXPECT_EQ(c.channels, QStringLiteral("1"));

    EXPECT_EQ(IniFile(c.iniFile).sections(),
              (QStringList{QStringLiteral("PATH"), QStringLiteral("PARAMETRI")}));
    EXPECT_EQ(Ini(h, "PATH", "DATI"), c.dataPath);
    EXPECT_EQ(Ini(h, "PATH", "FOLDER"), QStringLiteral("1"));
    EXPECT_EQ(Ini(h, "PATH", "NOME"), QStringLiteral("Quendral"));
    EXPECT_EQ(Ini(h, "PARAMETRI", "QUALITA"), QStringLiteral("11025"));
    EXPECT_EQ(Ini(h, "PARAMETRI", "BITS"), QStringLiteral("8"));
    EXPECT_EQ(Ini(h, "PARAMETRI", "STEREO"), QStringLiteral("1"));
    EXPECT_TRUE(QFileInfo(c.dataPath).isDir());
    EXPECT_TRUE(QFileInfo(c.dataPath + QStringLiteral("Quendral")).isDir());
    // The numbered sub-folder is left to the first recording.
    EXPECT_FALSE(QFileInfo(c.dataPath + QStringLiteral("Quendral/1")).exists());
}

TEST(InitConfiguration, StarIsMissingEmptyIsPresent) {
    TempHome h;
    const QString data = h.userHome() + QStringLiteral("/mine/");
    QDir().mkpath(data);
    h.writeFile(
        QStringLiteral("RIZEDUZO.INI"),
        QStringLiteral("[PATH]\nDATI=%1\nFOLDER=*\nNOME=Box\n[PARAMETRI]\nQUALITA=\nBITS=16\n")
            .arg(data)
            .toUtf8());
    h.initConfiguration();
    EXPECT_EQ(h.config.dataPath, data);
    EXPECT_EQ(h.config.folderNumber, QStringLiteral("1"));
    EXPECT_EQ(Ini(h, "PATH", "FOLDER"), QStringLiteral("1"));  // "*" replaced and stored
    EXPECT_EQ(h.config.sampleRate, QString());                 // empty: kept, not defaulted
    EXPECT_EQ(Ini(h, "PARAMETRI", "QUALITA"), QString());
    EXPECT_EQ(h.config.bitsPerSample, QStringLiteral("16"));
    EXPECT_EQ(h.config.recFolder, QStringLiteral("Box/1"));
    EXPECT_TRUE(QFileInfo(data + QStringLiteral("Box")).isDir());
}

TEST(InitConfiguration, ExistingDataPathThatIsMissingIsNotCreated) {
    TempHome h;
    const QString data = h.userHome() + QStringLiteral("/not/there/");
    h.writeFile(QStringLiteral("RIZEDUZO.INI"),
                QStringLiteral("[PATH]\nDATI=%1\n").arg(data).toUtf8());
    const QStringList failures = h.initConfiguration();
    EXPECT_FALSE(QFileInfo::exists(data));
    // Only DataPath + NOME is looked for; it cannot be made one level deep, and that is said.
    EXPECT_EQ(failures, QStringList{data + QStringLiteral("Quendral")});
}

TEST(InitConfiguration, PortIsRoundedHalfToEvenAndZeroBecomesOne) {
    const std::pair<const char*, int> cases[] = {{"", 1},    {"0", 1},   {"abc", 1},
                                                 {"3", 3},   {"2.5", 2}, {"3.5", 4},
                                                 {" 7x", 7}, {"-2", -2}, {"1e99", 2147483647}};
    for (const auto& [text, port] : cases) {
        TempHome h;
        h.writeFile(QStringLiteral("RIZEDUZO.INI"), QByteArray("[comm]\nport=") + text + "\n");
        h.initConfiguration();
        EXPECT_EQ(h.config.commPort, port) << text;
    }
}

TEST(InitConfiguration, CommSettingsAreReadButNeverWritten) {
    TempHome h;
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[COMM]\nSETTINGS=4800,e,7,2\n");
    h.initConfiguration();
    EXPECT_EQ(h.config.commSettings, QStringLiteral("4800,e,7,2"));
    EXPECT_EQ(Ini(h, "COMM", "PORT"), QStringLiteral("<absent>"));
}

TEST(InitConfiguration, RootFolderUsesOneSeparator) {
    EXPECT_EQ(AppFolderOf(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(AppFolderOf(QStringLiteral(" /opt/k/ ")), QStringLiteral("/opt/k/"));
    EXPECT_EQ(AppFolderOf(QStringLiteral("/opt/k")), QStringLiteral("/opt/k/"));
}

TEST(InitConfiguration, NextFolderNumberCountsOnFromTheFile) {
    TempHome h;
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[PATH]\nFOLDER=3\nNOME=Quendral\n");
    h.initConfiguration();
    QString name;
    EXPECT_EQ(NextFolderNumber(h.config, &name), QStringLiteral("4"));
    EXPECT_EQ(name, QStringLiteral("Quendral"));
    EXPECT_EQ(Ini(h, "PATH", "FOLDER"), QStringLiteral("4"));
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[PATH]\nFOLDER=junk\n");
    EXPECT_EQ(NextFolderNumber(h.config, nullptr), QStringLiteral("1"));
}

TEST(InitConfiguration, FolderNamesThatArePathsAreRefused) {
    const struct {
        const char* nome;
        const char* folder;
        const char* refused;  // what is reported, empty when both are used
        const char* recFolder;
    } cases[] = {
        {"../../../x", "1", "NOME=../../../x", "Quendral/1"},
        {"/etc", "1", "NOME=/etc", "Quendral/1"},
        {"a/b", "2", "NOME=a/b", "Quendral/2"},
        {"..", "2", "NOME=..", "Quendral/2"},
        {"a\\b", "2", "NOME=a\\b", "Quendral/2"},
        {"", "3", "NOME=", "Quendral/3"},
        {"Servizio", "../1", "FOLDER=../1", "Servizio/1"},
        {"Servizio", "", "FOLDER=", "Servizio/1"},
        {"Mario Rossi", "12", "", "Mario Rossi/12"},  // a hand-written name is a name
        {"...", "1", "", ".../1"},
    };
    for (const auto& c : cases) {
        TempHome h;
        QDir().mkpath(h.userHome() + QStringLiteral("/Recodati"));
        h.writeFile(QStringLiteral("RIZEDUZO.INI"),
                    QByteArray("[PATH]\nNOME=") + c.nome + "\nFOLDER=" + c.folder + "\n");
        QStringList refused;
        const QStringList failures = InitConfiguration(
            h.config, h.home(), ConfigurationDefaults::ForHome(h.userHome()), &refused);
        EXPECT_EQ(refused.join(u'|'), QString::fromUtf8(c.refused)) << c.nome << " " << c.folder;
        EXPECT_EQ(h.config.recFolder, QString::fromUtf8(c.recFolder)) << c.nome;
        EXPECT_TRUE(failures.isEmpty()) << c.nome;
        // Nothing is made outside DATI, and the file keeps what the operator wrote.
        const QDir userHome(h.userHome());
        EXPECT_EQ(userHome.entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("Recodati")})
            << c.nome;
        EXPECT_EQ(Ini(h, "PATH", "NOME"), QString::fromUtf8(c.nome));
    }
}

TEST(InitConfiguration, NextFolderKeepsTheNameInUseWhenTheFileHoldsAPath) {
    TempHome h;
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[PATH]\nFOLDER=3\nNOME=Servizio\n");
    h.initConfiguration();
    h.writeFile(QStringLiteral("RIZEDUZO.INI"), "[PATH]\nFOLDER=3\nNOME=../../x\n");
    QString name;
    EXPECT_EQ(NextFolderNumber(h.config, &name), QStringLiteral("4"));
    EXPECT_EQ(name, QStringLiteral("Servizio"));
}

TEST(VbConvert, NumbersAndDates) {
    EXPECT_DOUBLE_EQ(Val(QStringLiteral("  12.5kg")), 12.5);
    EXPECT_DOUBLE_EQ(Val(QStringLiteral("2,5")), 2.0);
    EXPECT_DOUBLE_EQ(Val(QStringLiteral("-")), 0.0);
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(ToInt16(40000), 32767);
    EXPECT_EQ(ToInt32(-1e12), -2147483647 - 1);
    const QDateTime moment(QDate(2024, 1, 31), QTime(14, 23, 5));
    EXPECT_EQ(FormatDateTime(moment), QStringLiteral("31/01/2024 14:23:05"));
    EXPECT_EQ(ParseDateTime(QStringLiteral("31/01/2024 14:23:05 ")), moment);
    EXPECT_EQ(ParseDateTime(QStringLiteral("31/01/2024")),
              QDateTime(QDate(2024, 1, 31), QTime(0, 0)));
    EXPECT_FALSE(ParseDateTime(QStringLiteral("31/02/2024 14:23:05")).has_value());
    EXPECT_FALSE(ParseDateTime(QStringLiteral("garbage")).has_value());
    EXPECT_TRUE(IsWholeNumber(QStringLiteral(" -12 ")));
    EXPECT_FALSE(IsWholeNumber(QStringLiteral("1.5")));
    EXPECT_FALSE(IsWholeNumber(QStringLiteral("")));
}

}  // namespace
