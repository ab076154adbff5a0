#include "controls/sip/DigestAuth.h"
#include "controls/sip/SipLine.h"
#include "controls/sip/SipRegistration.h"

#include "LineEventLog.h"
#include "RawSipPeer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <thread>

namespace kallomir {
namespace {

using test::RawSipPeer;
using test::SipText;
using State = LineRegistration::State;

QByteArray challengeHeader(const QByteArray& nonce) {
    return "WWW-Authenticate: Digest realm=\"kallomir-test\", nonce=\"" + nonce +
           "\", qop=\"auth\", algorithm=MD5\r\n";
}

// Plays the registrar: challenges the first REGISTER, checks the digest of the second with
// its own password. Returns the response sent to the second (0 when none came).
int actAsRegistrar(RawSipPeer& registrar, int linePort, const QByteArray& password,
                   int expires = 600) {
    auto first = registrar.waitForRequest("REGISTER");
    if (!first)
        return 0;
    EXPECT_TRUE(first->header("authorization").isEmpty());
    registrar.reply(*first, 401, "Unauthorized", linePort, {}, challengeHeader("4f1c0e"));
    auto second = registrar.waitForRequest("REGISTER");
    if (!second)
        return 0;
    const QString auth = QString::fromUtf8(second->header("authorization"));
    EXPECT_TRUE(auth.contains("username=\"201\"")) << auth.toStdString();
    const bool valid = digestAuthorizationValid(auth, QString::fromUtf8(password), "REGISTER");
    const int status = valid ? 200 : 403;
    registrar.reply(*second, status, valid ? "OK" : "Forbidden", linePort, {},
                    valid ? "Contact: " + second->header("contact") +
                                ";expires=" + QByteArray::number(expires) + "\r\n"
                          : QByteArray());
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

// Every REGISTER that arrives within the time, each answered by `answer`.
QList<SipText> registersWithin(RawSipPeer& registrar, int ms,
                               const std::function<void(const SipText&)>& answer) {
    QList<SipText> seen;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        auto r =
            registrar.waitForRequest("REGISTER", int(std::max<qint64>(1, ms - timer.elapsed())));
        if (!r)
            break;
        seen << *r;
        answer(*r);
    }
    return seen;
}

// Destroys the line as the program does when it quits, answering its un-REGISTER.
void quitAnswering(std::unique_ptr<SipLine>& line, RawSipPeer& registrar, int linePort) {
    std::thread quit([&] { line.reset(); });
    if (auto removal = registrar.waitForRequest("REGISTER", 2000))
        registrar.reply(*removal, 200, "OK", linePort);
    quit.join();
}

TEST(SipRegistration, RegistersWithDigestCredentialsTheRegistrarAccepts) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    auto line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
    test::LineEventLog log;
    line->setEventReceiver(&log);
    EXPECT_EQ(line->registration(0).state, State::NotUsed);  // not before the line opens
    line->open(0);
    EXPECT_EQ(line->registration(0).state, State::Registering);
    EXPECT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 200);
    EXPECT_TRUE(waitUntil([&] { return line->registration(0).state == State::Registered; }));
    EXPECT_GE(log.events().count("registration"), 2);  // registering, registered
    line->setEventReceiver(nullptr);
    quitAnswering(line, registrar, cfg.listenPort);
}

TEST(SipRegistration, AWrongPasswordIsRefusedAndReported) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("wrong"));
    SipLine line({cfg});
    line.open(0);
    EXPECT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 403);
    EXPECT_TRUE(waitUntil([&] { return line.registration(0).state == State::Refused; }));
    EXPECT_EQ(line.registration(0), (LineRegistration{State::Refused, 403, "Forbidden"}));
    EXPECT_TRUE(line.diagnostics(0).problems.join(u'\n').contains("registration refused: 403"));
}

TEST(SipRegistration, ARegistrarThatChallengesEveryAttemptGetsTwoRegistersThenABackOff) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    SipLine line({cfg});
    line.open(0);
    int nonce = 0;
    const QList<SipText> seen = registersWithin(registrar, 4000, [&](const SipText& r) {
        registrar.reply(r, 401, "Unauthorized", cfg.listenPort, {},
                        challengeHeader("n" + QByteArray::number(++nonce)));
    });
    // One plain, one answering the challenge; the second challenge is a refusal.
    ASSERT_EQ(seen.size(), 2);
    EXPECT_TRUE(seen[0].header("authorization").isEmpty());
    EXPECT_TRUE(seen[1].header("authorization").contains("nonce=\"n1\""));
    EXPECT_EQ(line.registration(0), (LineRegistration{State::Refused, 401, "Unauthorized"}));
    EXPECT_TRUE(line.diagnostics(0).problems.join(u'\n').contains("next attempt in 60 s"));
}

TEST(SipRegistration, RetriesBackOffFromAMinuteToAnHour) {
    const int expected[] = {60, 120, 240, 480, 960, 1920, 3600, 3600};
    for (int failures = 1; failures <= 8; ++failures)
        EXPECT_EQ(registrationRetrySeconds(failures), expected[failures - 1]) << failures;
    EXPECT_EQ(registrationRetrySeconds(1000), 3600);
    // Renewal comes before the binding runs out.
    EXPECT_EQ(registrationRefreshSeconds(600), 510);
    EXPECT_EQ(registrationRefreshSeconds(60), 30);
    EXPECT_EQ(registrationRefreshSeconds(1), 1);
}

TEST(SipRegistration, RenewsBeforeExpiryWithTheCredentialsOfTheLastChallenge) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    auto line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
    line->open(0);
    EXPECT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret", 2), 200);
    // Granted 2 s: renewed after 1 s, at once with credentials (no new round trip).
    auto renewal = registrar.waitForRequest("REGISTER", 3000);
    ASSERT_TRUE(renewal);
    const QString auth = QString::fromUtf8(renewal->header("authorization"));
    EXPECT_TRUE(auth.contains("nonce=\"4f1c0e\"")) << auth.toStdString();
    EXPECT_TRUE(auth.contains("nc=00000002")) << auth.toStdString();
    EXPECT_TRUE(digestAuthorizationValid(auth, QStringLiteral("s3cret"), "REGISTER"));
    registrar.reply(*renewal, 200, "OK", cfg.listenPort, {},
                    "Contact: " + renewal->header("contact") + ";expires=600\r\n");
    EXPECT_EQ(line->registration(0).state, State::Registered);
    quitAnswering(line, registrar, cfg.listenPort);
}

TEST(SipRegistration, AnUnreachableRegistrarIsReportedAsSuch) {
    SipLineConfig cfg = registeringLine(test::freeUdpPort(), QStringLiteral("s3cret"));
    cfg.transport = SipTransport::Tcp;  // a closed port refuses at once
    SipLine line({cfg});
    line.open(0);
    EXPECT_TRUE(waitUntil([&] { return line.registration(0).state == State::Unreachable; }));
    EXPECT_EQ(line.registration(0).status, 0);
    EXPECT_FALSE(line.registration(0).reason.isEmpty());
}

TEST(SipRegistration, QuittingRemovesTheRegistrationAnsweringItsChallenge) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    auto line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
    line->open(0);
    ASSERT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 200);
    ASSERT_TRUE(waitUntil([&] { return line->registration(0).state == State::Registered; }));

    QElapsedTimer quitting;
    quitting.start();
    std::thread quit([&] { line.reset(); });
    auto removal = registrar.waitForRequest("REGISTER");
    EXPECT_TRUE(removal);
    if (removal) {
        EXPECT_EQ(removal->header("expires"), "0");
        registrar.reply(*removal, 401, "Unauthorized", cfg.listenPort, {}, challengeHeader("bye1"));
    }
    auto answered = registrar.waitForRequest("REGISTER");
    EXPECT_TRUE(answered);
    if (answered) {
        EXPECT_EQ(answered->header("expires"), "0");
        EXPECT_TRUE(digestAuthorizationValid(QString::fromUtf8(answered->header("authorization")),
                                             QStringLiteral("s3cret"), "REGISTER"));
        registrar.reply(*answered, 200, "OK", cfg.listenPort);
    }
    quit.join();
    EXPECT_LT(quitting.elapsed(), 1500);  // it left as soon as the registrar answered
}

TEST(SipRegistration, QuittingWaitsAtMostTwoSecondsForASilentRegistrar) {
    RawSipPeer registrar;
    const SipLineConfig cfg = registeringLine(registrar.port(), QStringLiteral("s3cret"));
    auto line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
    line->open(0);
    ASSERT_EQ(actAsRegistrar(registrar, cfg.listenPort, "s3cret"), 200);
    ASSERT_TRUE(waitUntil([&] { return line->registration(0).state == State::Registered; }));
    QElapsedTimer quitting;
    quitting.start();
    line.reset();
    EXPECT_GE(quitting.elapsed(), SipLine::kUnregisterWaitMs - 100);
    EXPECT_LT(quitting.elapsed(), SipLine::kUnregisterWaitMs + 1000);
    EXPECT_TRUE(registrar.waitForRequest("REGISTER", 100));  // it did try
}

}  // namespace
}  // namespace kallomir
