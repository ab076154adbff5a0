#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kallomir;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("RIZEDUZO.INI")); }
    void put(const QByteArray& bytes) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray contents() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString read(const QString& s, const QString& k, const QString& d = QStringLiteral("*")) const {
        return IniFile(path()).read(s, k, d);
    }
    QTemporaryDir dir;
};

TEST_F(IniFileTest, LookupsIgnoreCaseBlanksAndQuotes) {
    put("; comment\r\n[Path]\r\n  Dati = c:/x/  \r\nNome=\"Quoted "
        "value\"\r\n[PARAMETRI]\r\nbits=16\r\n");
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI")), QStringLiteral("c:/x/"));
    EXPECT_EQ(read(QStringLiteral("path"), QStringLiteral("nome")), QStringLiteral("Quoted value"));
    EXPECT_EQ(read(QStringLiteral("parametri"), QStringLiteral("BITS")), QStringLiteral("16"));
    // A key of another section is not found.
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("BITS"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST_F(IniFileTest, AbsentFileSectionOrKeyGiveDefaultButEmptyValueIsPresent) {
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    put("[PATH]\nDATI=\n");
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI"), QStringLiteral("dflt")),
              QString());
    EXPECT_EQ(read(QStringLiteral("NOPE"), QStringLiteral("DATI"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("NOPE"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
}

TEST_F(IniFileTest, LongValuesReadBackCutTo254Characters) {
    QString longValue(300, u'x');
    longValue[253] = u'y';
    IniFile(path()).write(QStringLiteral("S"), QStringLiteral("K"), longValue);
    const QString back = read(QStringLiteral("S"), QStringLiteral("K"));
    EXPECT_EQ(back.size(), 254);
    EXPECT_EQ(back.back(), u'y');
}

TEST_F(IniFileTest, LineBreaksBecomeBlanksInFileAndCallersValue) {
    QString value = QStringLiteral("one\r\ntwo\nthree\rfour");
    WriteIniValue(path(), QStringLiteral("S"), QStringLiteral("K"), value);
    EXPECT_EQ(value, QStringLiteral("one  two three four"));
    EXPECT_EQ(read(QStringLiteral("S"), QStringLiteral("K")), value);
    EXPECT_EQ(contents().count('\n'), 2);  // header and one entry line
}

TEST_F(IniFileTest, WriteCreatesFileSectionAndKeyAndKeepsOtherLines) {
    QString v = QStringLiteral("1");
    ASSERT_FALSE(QFile::exists(path()));
    ASSERT_TRUE(IniFile(path()).write(QStringLiteral("PATH"), QStringLiteral("FOLDER"), v));
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("FOLDER")), QStringLiteral("1"));

    put("; keep me\n[PATH]\nDATI=/d/\n\n[OTHER]\nx=1\ngarbage line without equals\n");
    v = QStringLiteral("Quendral");
    IniFile(path()).write(QStringLiteral("path"), QStringLiteral("NOME"), v);
    v = QStringLiteral("/e/");
    IniFile(path()).write(QStringLiteral("Path"), QStringLiteral("dati"), v);
    v = QStringLiteral("8");
    IniFile(path()).write(QStringLiteral("PARAMETRI"), QStringLiteral("BITS"), v);
    const QString text = QString::fromUtf8(contents());
    EXPECT_TRUE(text.startsWith(QStringLiteral("; keep me\n[PATH]\nDATI=/e/\nNOME=Quendral\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("[OTHER]\nx=1\ngarbage line without equals\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("[PARAMETRI]\nBITS=8\n")));
    EXPECT_EQ(IniFile(path()).sections(),
              (QStringList{QStringLiteral("PATH"), QStringLiteral("OTHER"),
                           QStringLiteral("PARAMETRI")}));
}

TEST_F(IniFileTest, WindowsLineEndingsAreKept) {
    put("[PATH]\r\nDATI=/d/\r\n");
    QString v = QStringLiteral("2");
    IniFile(path()).write(QStringLiteral("PATH"), QStringLiteral("FOLDER"), v);
    EXPECT_EQ(contents(), QByteArray("[PATH]\r\nDATI=/d/\r\nFOLDER=2\r\n"));
}

TEST_F(IniFileTest, WriteReplacesTheFileAtomically) {
    put("[PATH]\nDATI=/d/\n");
    struct stat before {};
    ASSERT_EQ(::stat(path().toLocal8Bit().constData(), &before), 0);
    QString v = QStringLiteral("x");
    ASSERT_TRUE(IniFile(path()).write(QStringLiteral("PATH"), QStringLiteral("NOME"), v));
    struct stat after {};
    ASSERT_EQ(::stat(path().toLocal8Bit().constData(), &after), 0);
    // A new file renamed over the old one: readers never see a half-written file.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("RIZEDUZO.INI")});
}

TEST_F(IniFileTest, FailedWriteReportsAndLeavesNothingBehind) {
    const QString gone = dir.filePath(QStringLiteral("missing/RIZEDUZO.INI"));
    QString v = QStringLiteral("x");
    EXPECT_FALSE(IniFile(gone).write(QStringLiteral("S"), QStringLiteral("K"), v));
    EXPECT_FALSE(QFileInfo::exists(gone));
}

TEST_F(IniFileTest, DamagedFilesReadWithoutCrashing) {
    QByteArray binary;
    for (int i = 0; i < 4096; ++i) binary.append(static_cast<char>((i * 7919) & 0xff));
    put(binary + "\n[PATH]\nDATI=/ok/\n");
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI")), QStringLiteral("/ok/"));
    put(QByteArray("[PA\0TH]\nDA\xff\xfeTI=1\n[broken\n=novalue\n", 33));
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI"), QStringLiteral("d")),
              QStringLiteral("d"));
    QString v = QStringLiteral("y");
    EXPECT_TRUE(IniFile(path()).write(QStringLiteral("PATH"), QStringLiteral("DATI"), v));
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("DATI")), QStringLiteral("y"));
}

TEST_F(IniFileTest, Latin1FilesReadAsSingleByteText) {
    put("[PATH]\nNOME=Qualit\xe0\n");
    EXPECT_EQ(read(QStringLiteral("PATH"), QStringLiteral("NOME")), QStringLiteral("Qualità"));
}

}  // namespace
