// Two callers back to back on a SIP line: the second INVITE arrives within a few
// milliseconds of the first caller's BYE, before the recorder has handled that hang-up.
// Both calls are answered and recorded; the late hang-up never rejects the next caller.
#include "RawSipPeer.h"
#include "catalogue/CatalogueStore.h"
#include "controls/MediaCommands.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "controls/sip/SipLine.h"
#include "recorder/RecorderSession.h"
#include "recorder/SaveQueue.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestAudioSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>

using namespace kallomir;
using namespace kallomir::test;

namespace {

// 20 ms of a loud 400 Hz tone in PCMU.
QByteArray TonePacket(int n) {
    QByteArray payload(160, '\0');
    for (int i = 0; i < 160; ++i) {
        const double v = 12000 * std::sin(2 * M_PI * 400 * (n * 160 + i) / 8000.0);
        // mu-law by the book: bias, segment, mantissa, inverted.
        int s = int(v);
        const int sign = s < 0 ? 0x80 : 0;
        s = std::min(std::abs(s), 32635) + 0x84;
        int exponent = 7;
        for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
        const int mantissa = (s >> (exponent + 3)) & 0x0F;
        payload[i] = char(~(sign | (exponent << 4) | mantissa));
    }
    return payload;
}

class SipBackToBack : public ::testing::Test {
protected:
    void SetUp() override {
        home.initConfiguration();
        SipLineConfig cfg;
        cfg.name = QStringLiteral("Linea SIP");
        cfg.listenAddress = QStringLiteral("127.0.0.1");
        cfg.listenPort = freeUdpPort();
        cfg.user = QStringLiteral("rec");
        cfg.domain = QStringLiteral("127.0.0.1");
        cfg.ringPeriodMs = 1000;
        cfg.rtpPortMin = 30000 + cfg.listenPort % 20000;
        cfg.rtpPortMax = cfg.rtpPortMin + 100;
        port = cfg.listenPort;
        line = std::make_unique<SipLine>(std::vector<SipLineConfig>{cfg});
        auto& ctx = *home.context;
        ctx.line = line.get();
        ctx.audio = &audio;
        ctx.media = &media;
        ctx.forms = &forms;
        ctx.settings.save("Record Format", "2");
        ctx.settings.save("Sound Card Input", "0");  // no card: input 0 is the line
        ctx.settings.save("Line Device", "Linea SIP");
        ctx.settings.save("Rings Before Answer", "1");
        session = std::make_unique<RecorderSession>(ctx);
        forms.fakeRecorder.recorderSession = session.get();
        session->Form_Load();
        session->counterTimer().stop();
        session->timer1().stop();
    }
    void TearDown() override {
        session->amWavePro1().closeCapture();
        session->saves().waitIdle();
        session.reset();
        line.reset();
    }

    // Reads what the line sends while the recorder's events run.
    std::optional<SipText> waitFor(RawSipPeer& peer, int status, int timeoutMs = 5000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            if (auto msg = peer.receive(10); msg && msg->status() == status)
                return msg;
        }
        return std::nullopt;
    }
    // One caller: INVITE, answered at the first ring, 1.5 s of tone, then BYE.
    bool talk(RawSipPeer& peer, bool hangUp = true) {
        peer.invite(port, peer.offer("0"));
        const auto ok = waitFor(peer, 200);
        if (!ok)
            return false;
        peer.ack(port, ok->toTag());
        const int m = ok->body.indexOf("m=audio ");
        const int rtpPort = ok->body.mid(m + 8).split(' ').value(0).toInt();
        for (int n = 0; n < 75; ++n) {
            peer.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), TonePacket(n));
            QThread::msleep(20);
            QCoreApplication::processEvents();
        }
        home.clock.advanceSeconds(2);  // the recording spans whole seconds
        if (hangUp)
            byeTag = ok->toTag();
        return true;
    }

    TempHome home;
    TestAudioSystem audio{&home.clock};
    MediaCommands media;
    FakeForms forms;
    std::unique_ptr<SipLine> line;
    std::unique_ptr<RecorderSession> session;
    int port = 0;
    QByteArray byeTag;
};

TEST_F(SipBackToBack, SecondCallerRightAfterTheFirstHangsUpIsRecordedToo) {
    RawSipPeer first;
    RawSipPeer second;
    ASSERT_TRUE(talk(first));
    // BYE and the next INVITE within a few milliseconds, nothing handled in between.
    first.bye(port, byeTag);
    second.invite(port, second.offer("0"));
    const auto ok = waitFor(second, 200);
    ASSERT_TRUE(ok) << "the second caller was answered";
    second.ack(port, ok->toTag());
    const int m = ok->body.indexOf("m=audio ");
    const int rtpPort = ok->body.mid(m + 8).split(' ').value(0).toInt();
    for (int n = 0; n < 75; ++n) {
        second.sendRtp(rtpPort, 0, uint16_t(n), uint32_t(n * 160), TonePacket(n));
        QThread::msleep(20);
        QCoreApplication::processEvents();
    }
    home.clock.advanceSeconds(2);
    EXPECT_TRUE(session->state().recording) << "the second call is being recorded";
    second.bye(port, ok->toTag());
    QElapsedTimer t;
    t.start();
    while (session->state().recording && t.elapsed() < 5000) QCoreApplication::processEvents();
    session->saves().waitIdle();

    const QStringList files = QDir(home.config.recordingsFolder())
                                  .entryList(QStringList{"*.Ems"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(home.catalogue->rowCount(), 2);
    for (const QString& name : files) {
        const MonoSamples recorded = ReadMonoSamples(home.config.recordingsFolder() + "/" + name);
        std::size_t loud = 0;
        for (std::int16_t s : recorded.samples) loud += std::abs(s) > 4000 ? 1 : 0;
        EXPECT_GT(loud, 4000u) << name.toStdString() << ": the caller's tone is in it";
    }
}

}  // namespace
