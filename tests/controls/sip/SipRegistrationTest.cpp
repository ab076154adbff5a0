#include "controls/sip/DigestAuth.h"
#include "controls/sip/SipLine.h"

#include "RawSipPeer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>

namespace kallomir {
namespace {

using test::RawSipPeer;
using test::SipText;

// Plays the registrar: challenges the first REGISTER, checks the digest of the second with
// its own password. Returns the response sent to the second (0 when none came).
int actAsRegistrar(RawSipPeer& registrar, int linePort, const QByteArray& password) {
    auto first = registrar.waitForRequest("REGISTER");
    if (!first)
        return 0;
    EXPECT_TRUE(first->header("authorization").isEmpty());
    registrar.reply(*first, 401, "Unauthorized", linePort, {},
                    "WWW-Authenticate: Digest realm=\"kallomir-test\", nonce=\"4f1c0e\", "
                    "qop=\"auth\", algorithm=MD5\r\n");
    auto second = registrar.waitForRequest("REGISTER");
    if (!second)
        return 0;
    const QString auth = QString::fromUtf8(second->header("authorization"));
    EXPECT_TRUE(auth.contains("username=\"201\"")) << auth.toStdString();
    const bool valid = digestAuthorizationValid(auth, QString::fromUtf8(password), "REGISTER");
    const int status = valid ? 200 : 403;
    registrar.reply(
        *second, status, valid ? "OK" : "Forbidden", linePort, {},
        valid ? "Contact: " + second->header("contact") + ";expires=600\r\n" : QByteArray());
    return status;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

SipLineConfig registeringLine(int registrarPort, const QString& password) {
    SipLineConfig cfg;
    cfg.name = QStringLiteral("Interno 201");
    cfg.listenAddress = QStringLiteral("127.0.0.1");
    cfg.listenPort = test::freeUdpPort();
    cfg.user = QStringLiteral("201");
    cfg.password = password;
    cfg.domain = QStringLiteral("127.0.0.1");
    cfg.registrar = QStringLiteral("sip:127.0.0.1:%1").arg(registrarPort);
    return cfg;
}

TEST(SipRegistration, RegistersWithDigestCredentialsTheRegistrarAccepts) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    SipLine line({cfg});
    line.open(0);
    EXPECT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 200);
    EXPECT_TRUE(waitUntil(
        [&] { return line.registration(0).state == LineRegistration::State::Registered; }));
}

TEST(SipRegistration, AWrongPasswordIsRefusedAndReported) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("wrong"));
    SipLine line({cfg});
    line.open(0);
    EXPECT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 403);
    EXPECT_TRUE(waitUntil([&] {
        return line.diagnostics(0).problems.join(u'\n').contains("registration refused: 403");
    })) << line.diagnostics(0).problems.join(u'\n').toStdString();
    EXPECT_EQ(line.registration(0).state, LineRegistration::State::Refused);
}

}  // namespace
}  // namespace kallomir
