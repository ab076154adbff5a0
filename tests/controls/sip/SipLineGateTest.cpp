// What a SIP line lets in: well-formed requests from allowed peers at a bounded rate. Nothing
// else may ring, and nothing else may keep the line from taking the next real call.
#include "SipLineFixture.h"
#include "controls/sip/RequestGate.h"

#include <QRandomGenerator>

namespace kallomir {
namespace {

using test::RawSipPeer;
using test::SipText;
using SipLineTest = test::SipLineFixture;

// A request as a far end on 127.0.0.1 would send it, to be taken apart by a test.
struct RawRequest {
    QByteArray method = "INVITE";
    QByteArray uri;
    QByteArray cseqMethod;
    QByteArray contentType = "application/sdp";
    QList<QByteArray> drop;  // header names left out
    QByteArray extra;        // header lines added
    QByteArray body;

    QByteArray text(const RawSipPeer& peer, int toPort) const {
        const QByteArray tag = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        const QByteArray from = "127.0.0.1:" + QByteArray::number(peer.port());
        const QByteArray target =
            uri.isEmpty() ? "sip:rec@127.0.0.1:" + QByteArray::number(toPort) : uri;
        QList<QPair<QByteArray, QByteArray>> headers{
            {"Via", "SIP/2.0/UDP " + from + ";branch=z9hG4bK" + tag + ";rport"},
            {"Max-Forwards", "70"},
            {"From", "<sip:0123456@" + from + ">;tag=" + tag},
            {"To", "<" + target + ">"},
            {"Call-ID", tag + "@127.0.0.1"},
            {"CSeq", "1 " + (cseqMethod.isEmpty() ? method : cseqMethod)},
            {"Contact", "<sip:0123456@" + from + ">"},
        };
        QByteArray m = method + ' ' + target + " SIP/2.0\r\n";
        for (const auto& [name, value] : headers) {
            if (!drop.contains(name))
                m += name + ": " + value + "\r\n";
        }
        m += extra;
        if (!body.isEmpty())
            m += "Content-Type: " + contentType + "\r\n";
        m += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        return m;
    }
};

QByteArray offerAt(const RawSipPeer& peer, const QByteArray& connection) {
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=" + connection + "\r\nt=0 0\r\nm=audio " +
           QByteArray::number(peer.rtpPort()) + " RTP/AVP 0\r\na=sendrecv\r\n";
}

class SipLineGateTest : public test::SipLineFixture {
protected:
    void adjust(SipLineConfig& cfg) override { cfg.invitesPerMinute = 0; }
};

TEST_F(SipLineGateTest, MalformedOrUnsupportedRequestsAreRefusedWithoutEverRinging) {
    const struct {
        const char* what;
        std::function<void(RawRequest&, const RawSipPeer&)> make;
        int status;          // 0: nothing can be answered
        const char* header;  // a header the answer must carry
    } cases[] = {
        {"no Via", [](RawRequest& r, const RawSipPeer&) { r.drop << "Via"; }, 0, ""},
        {"no From", [](RawRequest& r, const RawSipPeer&) { r.drop << "From"; }, 400, ""},
        {"no To", [](RawRequest& r, const RawSipPeer&) { r.drop << "To"; }, 400, ""},
        {"no Call-ID", [](RawRequest& r, const RawSipPeer&) { r.drop << "Call-ID"; }, 400, ""},
        {"no CSeq", [](RawRequest& r, const RawSipPeer&) { r.drop << "CSeq"; }, 400, ""},
        {"CSeq of another method",
         [](RawRequest& r, const RawSipPeer&) { r.cseqMethod = "OPTIONS"; }, 400, ""},
        {"a required extension",
         [](RawRequest& r, const RawSipPeer&) { r.extra = "Require: 100rel\r\n"; }, 420,
         "unsupported"},
        {"a sips URI over UDP",
         [](RawRequest& r, const RawSipPeer&) { r.uri = "sips:rec@127.0.0.1"; }, 416, ""},
        {"a body that is not SDP",
         [](RawRequest& r, const RawSipPeer&) { r.contentType = "text/plain"; }, 415, "accept"},
        {"a multicast media address",
         [](RawRequest& r, const RawSipPeer& p) { r.body = offerAt(p, "IN IP4 224.2.1.1/127"); },
         488, ""},
        {"an unspecified media address",
         [](RawRequest& r, const RawSipPeer& p) { r.body = offerAt(p, "IN IP4 0.0.0.0"); }, 488,
         ""},
        {"IPv6 media on an IPv4 line",
         [](RawRequest& r, const RawSipPeer& p) { r.body = offerAt(p, "IN IP6 ::1"); }, 488, ""},
        {"a MESSAGE",
         [](RawRequest& r, const RawSipPeer&) {
             r.method = "MESSAGE";
             r.contentType = "text/plain";
             r.body = "hello";
         },
         405, "allow"},
        {"a BYE for no call",
         [](RawRequest& r, const RawSipPeer&) {
             r.method = "BYE";
             r.body.clear();
         },
         481, ""},
    };
    for (const auto& c : cases) {
        RawSipPeer peer;
        RawRequest r;
        r.body = peer.offer("0");
        c.make(r, peer);
        peer.send(r.text(peer, port), port);
        const auto answer = peer.receive(c.status ? 3000 : 500);
        if (c.status == 0) {
            EXPECT_FALSE(answer) << c.what;
        } else {
            ASSERT_TRUE(answer) << c.what;
            EXPECT_EQ(answer->status(), c.status) << c.what;
            if (*c.header) {
                EXPECT_TRUE(answer->headers.contains(c.header)) << c.what;
            }
        }
        EXPECT_FALSE(log.events().contains("ring 1")) << c.what;
    }
    EXPECT_EQ(log.events(), QStringList());
    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.droppedRequests, 1u);
    EXPECT_EQ(diag.rejectedRequests, 9u);  // 400 five times, 420, 416, 415, 405
    EXPECT_EQ(diag.refusedCalls, 3u);      // the three unusable media addresses
    // The line was never taken: the next real call rings at once.
    RawSipPeer good;
    ringIn(good);
    // An OPTIONS ping is answered with what the line takes.
    RawSipPeer ping;
    RawRequest options;
    options.method = "OPTIONS";
    ping.send(options.text(ping, port), port);
    const auto pong = ping.receive();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->status(), 200);
    EXPECT_EQ(pong->header("allow"), "INVITE, ACK, CANCEL, BYE, OPTIONS");
}

class SipLineAllowListTest : public test::SipLineFixture {
protected:
    void adjust(SipLineConfig& cfg) override { cfg.allowFrom = {QStringLiteral("10.0.0.0/8")}; }
};

TEST_F(SipLineAllowListTest, PeersOutsideTheAllowListGet403AndNeverRing) {
    RawSipPeer stranger;
    stranger.invite(port, stranger.offer("0"));
    EXPECT_TRUE(stranger.waitFor(403));
    RawRequest options;
    options.method = "OPTIONS";
    stranger.send(options.text(stranger, port), port);
    EXPECT_TRUE(stranger.waitFor(403));
    EXPECT_TRUE(log.events().isEmpty());
    const auto diag = line->diagnostics(0);
    EXPECT_EQ(diag.forbiddenRequests, 2u);
    EXPECT_EQ(diag.allowedSources, QStringList{"10.0.0.0/8"});
    EXPECT_TRUE(diag.problems.join(u'\n').contains("not an allowed source"));
}

TEST_F(SipLineAllowListTest, ALineThatTakesCallsDirectlyAllowsItsOwnNetworkByDefault) {
    SipLineConfig cfg;
    cfg.name = QStringLiteral("Diretta");
    cfg.listenAddress = QStringLiteral("127.0.0.1");
    cfg.listenPort = test::freeUdpPort();
    line.reset();
    SipLine direct({cfg});
    direct.open(0);
    const QStringList allowed = direct.diagnostics(0).allowedSources;
    EXPECT_TRUE(allowed.contains("127.0.0.1/8")) << allowed.join(u' ').toStdString();
    EXPECT_TRUE(allowed.contains("::1/128")) << allowed.join(u' ').toStdString();
}

TEST_F(SipLineAllowListTest, ALineThatRegistersTakesCallsOnlyFromItsRegistrarByDefault) {
    SipLineConfig cfg;
    cfg.name = QStringLiteral("Interno");
    cfg.listenAddress = QStringLiteral("127.0.0.1");
    cfg.listenPort = test::freeUdpPort();
    cfg.registrar = QStringLiteral("sip:127.0.0.2:%1").arg(test::freeUdpPort());
    cfg.proxy = QStringLiteral("sip:127.0.0.3");
    line.reset();
    SipLine registering({cfg});
    registering.open(0);
    EXPECT_EQ(registering.diagnostics(0).allowedSources,
              (QStringList{"127.0.0.2/32", "127.0.0.3/32"}));
    RawSipPeer caller;  // on 127.0.0.1, not the PBX
    caller.invite(cfg.listenPort, caller.offer("0"));
    EXPECT_TRUE(caller.waitFor(403));
}

TEST_F(SipLineTest, NewCallsFromOneSourceAreLimitedToItsRate) {
    std::vector<std::unique_ptr<RawSipPeer>> callers;
    int rang = 0, busy = 0, unanswered = 0;
    for (int i = 0; i < InviteRateLimiter::kBurst + 4; ++i) {
        callers.push_back(std::make_unique<RawSipPeer>());
        RawSipPeer& c = *callers.back();
        c.invite(port, c.offer("0"));
        const auto answer = c.receive(i < InviteRateLimiter::kBurst ? 3000 : 300);
        if (!answer)
            ++unanswered;
        else if (answer->status() == 180)
            ++rang;
        else if (answer->status() == 486)
            ++busy;
    }
    EXPECT_EQ(rang, 1);
    EXPECT_EQ(busy, InviteRateLimiter::kBurst - 1);
    EXPECT_EQ(unanswered, 4);
    EXPECT_EQ(line->diagnostics(0).rateLimitedInvites, 4u);
}

}  // namespace
}  // namespace kallomir
