// A SIP line over TLS checks the PBX it connects to: the certificate must chain to the
// trusted authority (or sign itself, where the line says so) and name the PBX. Played by
// openssl's test server, which prints what it receives.
#include "controls/sip/SipLine.h"

#include "RawSipPeer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

namespace kallomir {
namespace {

using State = LineRegistration::State;

// A key and a self-signed certificate naming `ip`, in dir as <name>.key and <name>.pem.
bool makeCertificate(const QTemporaryDir& dir, const QString& name, const QString& ip) {
    return QProcess::execute(
               QStringLiteral("openssl"),
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                dir.filePath(name + ".key"), "-out", dir.filePath(name + ".pem"), "-days", "2",
                "-subj", "/CN=" + ip, "-addext", "subjectAltName=IP:" + ip}) == 0;
}

int freeTcpPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class SipTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            GTEST_SKIP() << "no openssl";
        ASSERT_TRUE(makeCertificate(dir, "pbx", "127.0.0.1"));
        ASSERT_TRUE(makeCertificate(dir, "other", "127.0.0.1"));
        ASSERT_TRUE(makeCertificate(dir, "elsewhere", "10.9.9.9"));
    }
    void TearDown() override {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(3000);
        }
    }

    // The PBX: openssl's server with a certificate; prints what comes in.
    bool startServer(const QString& name) {
        port = freeTcpPort();
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(QStringLiteral("openssl"), {"s_server", "-accept", QString::number(port),
                                                 "-cert", dir.filePath(name + ".pem"), "-key",
                                                 dir.filePath(name + ".key"), "-ign_eof"});
        if (!server.waitForStarted(5000))
            return false;
        QByteArray said;
        QDeadlineTimer deadline(5000);
        while (!said.contains("ACCEPT") && !deadline.hasExpired()) {
            server.waitForReadyRead(100);
            said += server.readAll();
        }
        output = said;
        return said.contains("ACCEPT");
    }

    SipLineConfig tlsLine() const {
        SipLineConfig cfg;
        cfg.name = QStringLiteral("Interno TLS");
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = freeTcpPort();
        cfg.user = QStringLiteral("201");
        cfg.password = QStringLiteral("s3cret");
        cfg.transport = SipTransport::Tls;
        cfg.registrar = QStringLiteral("sip:127.0.0.1:%1").arg(port);
        return cfg;
    }

    // Waits for the REGISTER to reach the server, or for the line to give up on it.
    bool registerReached(SipLine& line) {
        QDeadlineTimer deadline(8000);
        while (!deadline.hasExpired()) {
            server.waitForReadyRead(100);
            output += server.readAll();
            if (output.contains("REGISTER sip:"))
                return true;
            if (line.registration(0).state == State::Unreachable)
                return false;
        }
        return false;
    }

    QTemporaryDir dir;
    QProcess server;
    QByteArray output;
    int port = 0;
};

TEST_F(SipTlsTest, TalksToAPbxWhoseCertificateChainsToTheConfiguredAuthority) {
    ASSERT_TRUE(startServer("pbx"));
    SipLineConfig cfg = tlsLine();
    cfg.tlsCaFile = dir.filePath("pbx.pem");
    SipLine line({cfg});
    line.open(0);
    EXPECT_TRUE(registerReached(line)) << line.registration(0).reason.toStdString();
    EXPECT_TRUE(output.contains("transport=tls")) << output.constData();
}

TEST_F(SipTlsTest, RefusesAPbxCertificateTheAuthorityDidNotSign) {
    ASSERT_TRUE(startServer("pbx"));
    SipLineConfig cfg = tlsLine();
    cfg.tlsCaFile = dir.filePath("other.pem");
    SipLine line({cfg});
    line.open(0);
    EXPECT_FALSE(registerReached(line));
    const LineRegistration r = line.registration(0);
    EXPECT_EQ(r.state, State::Unreachable);
    EXPECT_TRUE(r.reason.contains("certificato del centralino non valido"))
        << r.reason.toStdString();
}

TEST_F(SipTlsTest, TakesASelfSignedPbxCertificateOnlyWhenToldAndOnlyForThePbx) {
    ASSERT_TRUE(startServer("pbx"));
    SipLineConfig cfg = tlsLine();
    cfg.tlsCaFile = dir.filePath("other.pem");  // trusts nothing the PBX has
    cfg.tlsAllowSelfSigned = true;
    {
        SipLine line({cfg});
        line.open(0);
        EXPECT_TRUE(registerReached(line)) << line.registration(0).reason.toStdString();
    }
    server.kill();
    server.waitForFinished(3000);
    // Self-signed, but for another address: still refused.
    ASSERT_TRUE(startServer("elsewhere"));
    cfg.registrar = QStringLiteral("sip:127.0.0.1:%1").arg(port);
    SipLine line({cfg});
    line.open(0);
    EXPECT_FALSE(registerReached(line));
    EXPECT_TRUE(line.registration(0).reason.contains("non è per 127.0.0.1"))
        << line.registration(0).reason.toStdString();
}

}  // namespace
}  // namespace kallomir
