#include "controls/sip/RequestGate.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

RequestFacts invite() {
    RequestFacts r;
    r.method = "INVITE";
    r.cseqMethod = "INVITE";
    r.uriScheme = "sip";
    r.hasBody = true;
    r.contentType = "application/sdp";
    return r;
}

TEST(RequestGate, AnswersEachUnacceptableRequestAsAUserAgentServerMust) {
    using A = RequestVerdict::Action;
    const struct {
        const char* what;
        std::function<void(RequestFacts&)> change;
        A action;
        int status;
        const char* header;  // part of the extra headers
    } cases[] = {
        {"a good offer", [](RequestFacts&) {}, A::Pass, 0, ""},
        {"no Via", [](RequestFacts& r) { r.hasVia = false; }, A::Drop, 0, ""},
        {"no From", [](RequestFacts& r) { r.hasFrom = false; }, A::Reply, 400, ""},
        {"no To", [](RequestFacts& r) { r.hasTo = false; }, A::Reply, 400, ""},
        {"no Call-ID", [](RequestFacts& r) { r.hasCallId = false; }, A::Reply, 400, ""},
        {"no CSeq", [](RequestFacts& r) { r.hasCSeq = false; }, A::Reply, 400, ""},
        {"CSeq of another method", [](RequestFacts& r) { r.cseqMethod = "BYE"; }, A::Reply, 400,
         ""},
        {"an extension required",
         [](RequestFacts& r) {
             r.require = {"100rel", "timer"};
         },
         A::Reply, 420, "Unsupported: 100rel, timer\r\n"},
        {"sips over UDP", [](RequestFacts& r) { r.uriScheme = "sips"; }, A::Reply, 416, ""},
        {"sips over TLS",
         [](RequestFacts& r) {
             r.uriScheme = "sips";
             r.secureTransport = true;
         },
         A::Pass, 0, ""},
        {"a tel URI", [](RequestFacts& r) { r.uriScheme = "tel"; }, A::Reply, 416, ""},
        {"a body that is not SDP", [](RequestFacts& r) { r.contentType = "text/plain"; }, A::Reply,
         415, "Accept: application/sdp\r\n"},
        {"a compressed body", [](RequestFacts& r) { r.contentEncoding = "gzip"; }, A::Reply, 415,
         "Accept-Encoding: identity\r\n"},
        {"a new MESSAGE",
         [](RequestFacts& r) {
             r.method = r.cseqMethod = "MESSAGE";
             r.contentType = "text/plain";
         },
         A::Reply, 405, "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS\r\n"},
        {"an INFO in a dialog",
         [](RequestFacts& r) {
             r.method = r.cseqMethod = "INFO";
             r.inDialog = true;
         },
         A::Pass, 0, ""},
        {"an ACK asking for an extension",
         [](RequestFacts& r) {
             r.method = r.cseqMethod = "ACK";
             r.require = {"x"};
             r.uriScheme = "tel";
         },
         A::Pass, 0, ""},
        {"a CANCEL asking for an extension",
         [](RequestFacts& r) {
             r.method = r.cseqMethod = "CANCEL";
             r.require = {"x"};
             r.hasBody = false;
         },
         A::Pass, 0, ""},
    };
    for (const auto& c : cases) {
        RequestFacts r = invite();
        c.change(r);
        const RequestVerdict v = checkRequest(r);
        EXPECT_EQ(v.action, c.action) << c.what;
        EXPECT_EQ(v.status, c.status) << c.what;
        EXPECT_TRUE(v.headers.contains(c.header)) << c.what << ": " << v.headers.constData();
        if (c.action != A::Pass) {
            EXPECT_FALSE(v.why.isEmpty()) << c.what;
        }
    }
}

TEST(AddressFilter, TakesAddressesAndRangesOfBothFamilies) {
    AddressFilter f;
    EXPECT_TRUE(f.add(QStringLiteral("192.168.1.0/24")));
    EXPECT_TRUE(f.add(QStringLiteral("10.0.0.5")));
    EXPECT_TRUE(f.add(QStringLiteral("2001:db8::/32")));
    EXPECT_FALSE(f.add(QStringLiteral("pbx.example.com")));
    EXPECT_FALSE(f.add(QStringLiteral("10.0.0.0/40")));
    const struct {
        const char* address;
        bool allowed;
    } cases[] = {
        {"192.168.1.1", true},  {"192.168.1.254", true},   {"192.168.2.1", false},
        {"10.0.0.5", true},     {"10.0.0.6", false},       {"2001:db8:1::7", true},
        {"2001:db9::1", false}, {"::ffff:10.0.0.5", true},  // IPv4 on an IPv6 socket
        {"127.0.0.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(f.allows(QHostAddress(QString::fromLatin1(c.address))), c.allowed) << c.address;
    EXPECT_EQ(f.describe(), (QStringList{"192.168.1.0/24", "10.0.0.5/32", "2001:db8::/32"}));
}

TEST(InviteRateLimiter, LetsABurstThroughThenTheRateOfAMinute) {
    InviteRateLimiter limiter(30);  // one every two seconds once the burst is spent
    const QHostAddress a(QStringLiteral("192.0.2.1"));
    const QHostAddress b(QStringLiteral("192.0.2.2"));
    for (int i = 0; i < InviteRateLimiter::kBurst; ++i) EXPECT_TRUE(limiter.allow(a, 1000)) << i;
    EXPECT_FALSE(limiter.allow(a, 1000));
    EXPECT_TRUE(limiter.allow(b, 1000));  // each source has its own bucket
    EXPECT_FALSE(limiter.allow(a, 2999));
    EXPECT_TRUE(limiter.allow(a, 3000));
    EXPECT_FALSE(limiter.allow(a, 3001));
    EXPECT_TRUE(InviteRateLimiter(0).allow(a, 0));  // 0: no limit
}

TEST(InviteRateLimiter, ForgedSourcesCannotGrowItsMemoryOrEvictAnActiveOne) {
    InviteRateLimiter limiter(30);
    const QHostAddress flooder(QStringLiteral("192.0.2.1"));
    for (int i = 0; i < InviteRateLimiter::kBurst; ++i) limiter.allow(flooder, 100000);
    // Many forged sources, each seen once long before: the oldest go first.
    for (quint32 i = 0; i < 3 * InviteRateLimiter::kMaxSources; ++i)
        limiter.allow(QHostAddress(0x0a000000u + i), 100000 + i);
    EXPECT_EQ(limiter.trackedSources(), InviteRateLimiter::kMaxSources);
    // The flooder's bucket may have been forgotten, but it is still bounded by the burst.
    int allowed = 0;
    for (int i = 0; i < 3 * InviteRateLimiter::kBurst; ++i)
        allowed += limiter.allow(flooder, 200000) ? 1 : 0;
    EXPECT_LE(allowed, InviteRateLimiter::kBurst);
}

}  // namespace
}  // namespace kallomir
