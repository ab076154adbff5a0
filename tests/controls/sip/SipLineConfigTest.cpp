#include "controls/sip/SipLineConfig.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace kallomir {
namespace {

QString writeIni(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.filePath(QStringLiteral("lines.ini"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
}

TEST(SipLineConfig, ReadsEachSectionAsALineWithDefaultsForAbsentKeys) {
    QTemporaryDir dir;
    const QString path = writeIni(dir,
                                  "; recorder lines\n"
                                  "[trunk]\n"
                                  "Name=Linea SIP 1\n"
                                  "ListenAddress=192.0.2.10\n"
                                  "ListenPort=5062\n"
                                  "AdvertisedAddress=203.0.113.5\n"
                                  "Registrar=pbx.example.com\n"
                                  "User=201\n"
                                  "Password=s3cret\n"
                                  "Domain=pbx.example.com\n"
                                  "RingPeriodMs=3000\n"
                                  "Codecs=pcma\n"
                                  "[second]\n"
                                  "ListenAddress=127.0.0.1\n");
    QStringList problems;
    const auto lines = loadSipLineConfigs(path, &problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
    ASSERT_EQ(lines.size(), 2u);
    const SipLineConfig& a = lines[0];
    EXPECT_EQ(a.name, "Linea SIP 1");
    EXPECT_EQ(a.listenPort, 5062);
    EXPECT_EQ(a.mediaAddress(), "203.0.113.5");
    EXPECT_EQ(a.registrar, "sip:pbx.example.com");
    EXPECT_EQ(a.user, "201");
    EXPECT_EQ(a.password, "s3cret");
    EXPECT_EQ(a.ringPeriodMs, 3000);
    EXPECT_EQ(a.codecs, QStringList{"PCMA"});

    const SipLineConfig& b = lines[1];
    EXPECT_EQ(b.name, "second");  // the section names a line without a Name key
    EXPECT_EQ(b.listenPort, 5060);
    EXPECT_EQ(b.mediaAddress(), "127.0.0.1");
    EXPECT_TRUE(b.registrar.isEmpty());
    EXPECT_EQ(b.ringPeriodMs, 4000);
    EXPECT_EQ(b.codecs, (QStringList{"G722", "OPUS", "PCMU", "PCMA"}));
}

TEST(SipLineConfig, LeavesOutLinesWithUnusableValuesAndSaysWhy) {
    QTemporaryDir dir;
    const QString path = writeIni(dir,
                                  "[bad port]\nListenPort=99999\n"
                                  "[bad address]\nListenAddress=pbx.local\n"
                                  "[bad codec]\nCodecs=G729\n"
                                  "[bad ring]\nRingPeriodMs=soon\n"
                                  "[bad rtp]\nRtpPortMin=20000\nRtpPortMax=10000\n"
                                  "[bad user]\nUser=a b\n"
                                  "[good]\nListenAddress=127.0.0.1\n"
                                  "[GOOD]\n");
    QStringList problems;
    const auto lines = loadSipLineConfigs(path, &problems);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, "good");
    EXPECT_EQ(problems.size(), 8) << problems.join(u'\n').toStdString();
    EXPECT_TRUE(problems.join(u'\n').contains("[bad port] ListenPort=99999"));
    EXPECT_TRUE(problems.join(u'\n').contains("[GOOD] Name: used by an earlier line"));
}

TEST(SipLineConfig, MissingFileMeansNoLines) {
    QStringList problems;
    EXPECT_TRUE(loadSipLineConfigs(QStringLiteral("/nonexistent/lines.ini"), &problems).empty());
    EXPECT_TRUE(problems.isEmpty());
}

TEST(SipLineConfig, TurnsDialledTextIntoASafeSipAddress) {
    const QString domain = QStringLiteral("pbx.example.com");
    EXPECT_EQ(sipTargetForDial("0123 456-789", domain), "sip:0123456789@pbx.example.com");
    EXPECT_EQ(sipTargetForDial("+39 (02) 1234", domain), "sip:+39021234@pbx.example.com");
    EXPECT_EQ(sipTargetForDial("*72#", domain), "sip:*72%23@pbx.example.com");
    EXPECT_EQ(sipTargetForDial("peer@127.0.0.1:5070", domain), "sip:peer@127.0.0.1:5070");
    EXPECT_EQ(sipTargetForDial(" sip:alice@10.0.0.1 ", QString()), "sip:alice@10.0.0.1");
    // No domain for a bare number, nothing dialled, or text that would break the request.
    EXPECT_EQ(sipTargetForDial("0123", QString()), QString());
    EXPECT_EQ(sipTargetForDial("", domain), QString());
    EXPECT_EQ(sipTargetForDial("0123\r\nVia: evil", domain), QString());
    EXPECT_EQ(sipTargetForDial("a>b@host", domain), QString());
    EXPECT_EQ(sipTargetForDial("alice@host;transport=tcp", domain), QString());
    EXPECT_EQ(sipTargetForDial("alice@", domain), QString());
}

}  // namespace
}  // namespace kallomir
