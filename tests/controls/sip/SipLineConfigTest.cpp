#include "controls/sip/SipLineConfig.h"

#include "controls/sip/SipLine.h"

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

TEST(SipLineConfig, ReadsTransportEncryptionAndAccessKeys) {
    QTemporaryDir dir;
    const QString ca = dir.filePath(QStringLiteral("pbx-ca.pem"));
    QFile(ca).open(QIODevice::WriteOnly);
    const QString path = writeIni(dir,
                                  "[pbx]\n"
                                  "Transport=TLS\n"
                                  "Registrar=pbx.example.com\n"
                                  "Proxy=sip:edge.example.com:5061\n"
                                  "TlsCaFile=" +
                                      ca.toUtf8() +
                                      "\n"
                                      "TlsAllowSelfSigned=yes\n"
                                      "MediaEncryption=srtp\n"
                                      "AllowFrom=192.168.1.0/24, 10.0.0.5 2001:db8::/32\n"
                                      "InvitesPerMinute=12\n"
                                      "SendSilence=yes\n"
                                      "Codecs=opus,pcma,OPUS\n"
                                      "[plain]\n"
                                      "MediaEncryption=srtp-optional\n");
    QStringList problems;
    const auto lines = loadSipLineConfigs(path, &problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
    ASSERT_EQ(lines.size(), 2u);
    const SipLineConfig& a = lines[0];
    EXPECT_EQ(a.transport, SipTransport::Tls);
    EXPECT_EQ(a.listenPort, 5061);  // the TLS port unless one is given
    EXPECT_EQ(a.withTransport(a.registrar), "sip:pbx.example.com;transport=tls");
    EXPECT_EQ(a.withTransport(QStringLiteral("sip:x;transport=udp")), "sip:x;transport=udp");
    EXPECT_EQ(a.proxy, "sip:edge.example.com:5061");
    EXPECT_EQ(a.tlsCaFile, ca);
    EXPECT_TRUE(a.tlsAllowSelfSigned);
    EXPECT_EQ(a.mediaEncryption, MediaEncryption::SrtpRequired);
    EXPECT_EQ(a.allowFrom, (QStringList{"192.168.1.0/24", "10.0.0.5", "2001:db8::/32"}));
    EXPECT_EQ(a.invitesPerMinute, 12);
    EXPECT_TRUE(a.sendSilence);
    EXPECT_EQ(a.codecs, (QStringList{"OPUS", "PCMA"}));
    EXPECT_TRUE(a.warnings.isEmpty());
    // SRTP keys in the description travel in clear without TLS: said, not refused.
    const SipLineConfig& b = lines[1];
    EXPECT_EQ(b.mediaEncryption, MediaEncryption::SrtpOptional);
    EXPECT_EQ(b.transport, SipTransport::Udp);
    EXPECT_EQ(b.withTransport(QStringLiteral("sip:pbx")), "sip:pbx");
    ASSERT_EQ(b.warnings.size(), 1);
    EXPECT_TRUE(b.warnings[0].contains("Transport=tls"));
}

TEST(SipLineConfig, RefusesUnusableTransportEncryptionAndAccessValues) {
    QTemporaryDir dir;
    const QString path = writeIni(dir,
                                  "[a]\nTransport=sctp\n"
                                  "[b]\nMediaEncryption=zrtp\n"
                                  "[c]\nAllowFrom=10.0.0.0/8, pbx.local\n"
                                  "[d]\nTlsCaFile=/nonexistent/ca.pem\n"
                                  "[e]\nSendSilence=maybe\n"
                                  "[f]\nRegistrar=sip:pbx example\n"
                                  "[g]\nInvitesPerMinute=-1\n");
    QStringList problems;
    EXPECT_TRUE(loadSipLineConfigs(path, &problems).empty());
    EXPECT_EQ(problems.size(), 7) << problems.join(u'\n').toStdString();
    EXPECT_TRUE(problems.join(u'\n').contains("[c] AllowFrom: not an address or range: pbx.local"));
}

TEST(SipLineConfig, WarnsWhenAFileHoldingAPasswordIsReadableByOthers) {
    QTemporaryDir dir;
    const QString path = writeIni(dir, "[pbx]\nListenAddress=127.0.0.1\nPassword=s3cret\n");
    QFile file(path);
    const struct {
        QFile::Permissions mode;
        bool warned;
    } cases[] = {
        {QFile::ReadOwner | QFile::WriteOwner, false},
        {QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup, true},
        {QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther, true},
        {QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(file.setPermissions(c.mode));
        const auto lines = loadSipLineConfigs(path, nullptr);
        ASSERT_EQ(lines.size(), 1u);
        const QString warning = linesFilePermissionWarning(path, lines);
        EXPECT_EQ(!warning.isEmpty(), c.warned) << int(c.mode);
        EXPECT_EQ(lines[0].warnings.contains(warning), c.warned) << int(c.mode);
        if (c.warned) {
            EXPECT_TRUE(warning.contains("chmod 600")) << warning.toStdString();
            // The line gives it to whoever shows the operator what is wrong.
            EXPECT_EQ(SipLine(lines).warnings(), QStringList{warning});
        }
    }
    // Without a password there is nothing to protect.
    const QString open = writeIni(dir, "[pbx]\nListenAddress=127.0.0.1\n");
    QFile(open).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    EXPECT_TRUE(linesFilePermissionWarning(open, loadSipLineConfigs(open, nullptr)).isEmpty());
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
