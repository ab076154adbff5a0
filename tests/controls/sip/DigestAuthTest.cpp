#include "controls/sip/DigestAuth.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

// The worked example of RFC 2617 section 3.5.
TEST(DigestAuth, MatchesTheRfc2617Example) {
    const auto c = parseDigestChallenge(
        "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->qopAuth);
    EXPECT_EQ(c->opaque, "5ccc069c403ebaf9f0171e9517f40e41");
    const DigestCredentials cred{QStringLiteral("Mufasa"), QStringLiteral("Circle Of Life")};
    EXPECT_EQ(digestResponse(*c, cred, "GET", "/dir/index.html", "0a4f113b", "00000001"),
              "6629fae49393a05397450978507c4ef1");
}

// The MD5 example of RFC 7616 section 3.9.1.
TEST(DigestAuth, MatchesTheRfc7616Md5Example) {
    const auto c = parseDigestChallenge(
        "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
        "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"");
    ASSERT_TRUE(c);
    const DigestCredentials cred{QStringLiteral("Mufasa"), QStringLiteral("Circle of Life")};
    const QString cnonce = QStringLiteral("f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ");
    EXPECT_EQ(digestResponse(*c, cred, "GET", "/dir/index.html", cnonce, "00000001"),
              "8ca523f5e9506fed4657c9700eebdbec");
}

TEST(DigestAuth, AuthorizationHeaderVerifiesWithTheRightPasswordOnly) {
    for (const char* challenge :
         {"Digest realm=\"pbx\", nonce=\"abc\", qop=\"auth\"", "Digest realm=pbx, nonce=abc"}) {
        const auto c = parseDigestChallenge(QString::fromLatin1(challenge));
        ASSERT_TRUE(c) << challenge;
        const QString header =
            digestAuthorization(*c, {QStringLiteral("201"), QStringLiteral("s3cret")},
                                QStringLiteral("REGISTER"), QStringLiteral("sip:pbx.example.com"),
                                QStringLiteral("c0ffee"), QStringLiteral("00000001"));
        EXPECT_TRUE(digestAuthorizationValid(header, "s3cret", "REGISTER")) << header.toStdString();
        EXPECT_FALSE(digestAuthorizationValid(header, "wrong", "REGISTER"));
        EXPECT_FALSE(digestAuthorizationValid(header, "s3cret", "INVITE"));
    }
}

TEST(DigestAuth, RefusesChallengesItCannotAnswer) {
    EXPECT_FALSE(parseDigestChallenge("Basic realm=\"x\""));
    EXPECT_FALSE(parseDigestChallenge("Digest nonce=\"n\""));
    EXPECT_FALSE(parseDigestChallenge("Digest realm=\"r\""));
    EXPECT_FALSE(parseDigestChallenge("Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256"));
    EXPECT_FALSE(parseDigestChallenge("Digest realm=\"r, nonce=\"n"));  // unclosed quote
    const auto stale = parseDigestChallenge("Digest realm=\"r\", nonce=\"n\", stale=TRUE");
    ASSERT_TRUE(stale);
    EXPECT_TRUE(stale->stale);
    EXPECT_FALSE(stale->qopAuth);
}

TEST(DigestAuth, QuotedValuesCannotBreakOutOfTheHeader) {
    const DigestChallenge c{
        QStringLiteral("r\"\r\nVia: x"), QStringLiteral("n"), {}, {}, false, false};
    const QString header =
        digestAuthorization(c, {QStringLiteral("u\""), QStringLiteral("p")},
                            QStringLiteral("REGISTER"), QStringLiteral("sip:x"), {}, {});
    EXPECT_FALSE(header.contains(u'\r'));
    EXPECT_FALSE(header.contains(u'\n'));
    const auto params = parseDigestParams(header);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value(QStringLiteral("username")), "u\"");
    EXPECT_EQ(params->value(QStringLiteral("realm")), "r\"Via: x");
}

}  // namespace
}  // namespace kallomir
