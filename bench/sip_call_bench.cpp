// SIP line figures: CPU per call-minute of receiving, decoding and recording a call (G.711,
// and G.722 with SRTP recorded at 22.05 kHz), and the answer latency from the ring that
// answers to the caller holding the 200 OK.
//
//   kallomir_sip_call_bench [seconds of call audio, default 30] [calls for latency, default 10]
//                           [record format of the wideband call, default 32 = 22.05 kHz 16 bit]
//
// The far end is a hand-written SIP peer in this process, on 127.0.0.1; its RTP sender runs on
// a thread of its own whose CPU time is measured and taken out of the figure. The figure is
// broken down by thread (CPU and wake-ups), so that a regression points at its cause.
#include "RawSipPeer.h"
#include "controls/TelephonyControl.h"
#include "controls/WavSamples.h"
#include "controls/WaveControl.h"
#include "controls/sip/G711.h"
#include "controls/sip/Rtp.h"
#include "controls/sip/SipLine.h"
#include "controls/sip/Srtp.h"
#include "support/TestAudioSystem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

extern "C" {
#include <spandsp/telephony.h>

#include <spandsp/g722.h>
}

using namespace kallomir;

namespace {

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Time on the CPU and wake-ups (voluntary context switches) of each thread of this process.
struct ThreadUse {
    QByteArray name;
    double cpu = 0;
    long long wakeups = 0;
};

QByteArray readProc(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::map<int, ThreadUse> threadUse() {
    std::map<int, ThreadUse> out;
    const QString base = QStringLiteral("/proc/self/task/");
    for (const QString& tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadUse u;
        u.name = readProc(base + tid + QStringLiteral("/comm")).trimmed();
        // schedstat: nanoseconds on the CPU, more precise than the tick counts of stat.
        u.cpu = readProc(base + tid + QStringLiteral("/schedstat")).split(' ').value(0).toDouble() /
                1e9;
        for (const QByteArray& line :
             readProc(base + tid + QStringLiteral("/status")).split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                u.wakeups = line.mid(24).trimmed().toLongLong();
        }
        out[tid.toInt()] = u;
    }
    return out;
}

// Runs the event loop (sleeping while idle) until done() or the time limit.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // looks at done() now and then without spinning
    wake.start(50);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// 20 ms packets of a call, ready to send (encoded, encrypted).
using Packets = std::vector<std::vector<uint8_t>>;

Packets g711Packets(const std::vector<uint8_t>& coded, double seconds) {
    Packets out;
    for (int n = 0; n < int(seconds * 50); ++n) {
        const auto h = rtpHeader(0, uint16_t(n), uint32_t(n * 160), 0x5eed5eedu);
        std::vector<uint8_t> p(h.begin(), h.end());
        for (int i = 0; i < 160; ++i) p.push_back(coded[size_t(n * 160 + i) % coded.size()]);
        out.push_back(std::move(p));
    }
    return out;
}

Packets g722SrtpPackets(const std::vector<int16_t>& speech16k, double seconds, const SrtpKey& key) {
    g722_encode_state_t* enc = g722_encode_init(nullptr, 64000, 0);
    auto srtp = SrtpContext::make(key);
    Packets out;
    std::vector<int16_t> frame(320);
    for (int n = 0; n < int(seconds * 50); ++n) {
        for (int i = 0; i < 320; ++i)
            frame[size_t(i)] = speech16k[size_t(n * 320 + i) % speech16k.size()];
        const auto h = rtpHeader(9, uint16_t(n), uint32_t(n * 160), 0x5eed7222u);
        std::vector<uint8_t> p(h.begin(), h.end());
        p.resize(12 + 160);
        g722_encode(enc, p.data() + 12, frame.data(), 320);
        srtp->protectRtp(p);
        out.push_back(std::move(p));
    }
    g722_encode_free(enc);
    return out;
}

// A UDP socket on 127.0.0.1 for the far end's audio; its port goes into the offer.
int senderSocket(int* port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t len = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
    *port = ntohs(local.sin_port);
    return fd;
}

// Sends the packets in real time, one every 20 ms, from its own thread; returns its CPU time.
double streamRtp(int fd, int toPort, const Packets& packets) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(toPort));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    pthread_setname_np(pthread_self(), "bench-rtp-tx");
    const double cpu0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (const auto& p : packets) {
        sendto(fd, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        next.tv_nsec += 20'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
}

int rtpPortOf(const test::SipText& msg) {
    const int m = msg.body.indexOf("m=audio ");
    return msg.body.mid(m + 8).split(' ').value(0).toInt();
}

}  // namespace

// One call that carries audio for its whole length, as the recorder takes it.
struct Bench {
    SipLine& line;
    TelephonyControl& tel;
    int sipPort;
    int& rings;
    bool& connected;
    int& recordFormat;

    bool measure(const char* label, const QByteArray& sdpHead, const QByteArray& sdpTail,
                 const Packets& packets, int format, double goalPercent) {
        int port = 0;
        const int fd = senderSocket(&port);
        test::RawSipPeer peer;
        recordFormat = format;
        rings = 0;
        peer.invite(sipPort, sdpHead + QByteArray::number(port) + sdpTail);
        if (!pumpUntil([&] { return rings >= 1; }, 5000)) {
            std::fprintf(stderr, "%s: no ring\n", label);
            return false;
        }
        tel.answer();
        const auto ok = peer.waitFor(200, 5000);
        if (!ok) {
            std::fprintf(stderr, "%s: no 200 OK\n", label);
            return false;
        }
        peer.ack(sipPort, ok->toTag());
        pumpUntil([&] { return connected; }, 5000);

        // The GUI thread sleeps in its event loop until the sender is done, as a recorder's
        // would.
        std::atomic<double> senderCpu{0};
        QEventLoop waitLoop;
        const auto use0 = threadUse();
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto wall0 = std::chrono::steady_clock::now();
        std::thread sender([&] {
            senderCpu = streamRtp(fd, rtpPortOf(*ok), packets);
            QMetaObject::invokeMethod(&waitLoop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        waitLoop.exec();
        const auto use1 = threadUse();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0 - senderCpu;
        sender.join();
        close(fd);
        const auto diag = line.diagnostics(0);
        peer.bye(sipPort, ok->toTag());
        peer.waitFor(200, 5000);
        pumpUntil([&] { return !connected; }, 5000);

        std::printf(
            "%s: receive + decrypt + decode + record: %.3f s CPU over %.1f s of call = %.3f %% "
            "of a core (%.3f s CPU per call-minute; goal under %.1f %%)\n",
            label, cpu, wall, 100.0 * cpu / wall, cpu * 60.0 / wall, goalPercent);
        std::printf("  per thread over the call (CPU ms, wake-ups per second):\n");
        for (const auto& [tid, after] : use1) {
            const auto before = use0.find(tid);
            if (before == use0.end() || after.name == "bench-rtp-tx")
                continue;
            const double ms = (after.cpu - before->second.cpu) * 1000.0;
            const double wakeups = double(after.wakeups - before->second.wakeups) / wall;
            if (ms < 0.5 && wakeups < 0.5)
                continue;
            std::printf("    %-16s %s %8.1f ms %7.1f /s\n", after.name.constData(),
                        tid == getpid() ? "(main)" : "      ", ms, wakeups);
        }
        std::printf("  packets %llu, late %llu, concealed samples %llu, not authentic %llu\n",
                    static_cast<unsigned long long>(diag.audio.packets),
                    static_cast<unsigned long long>(diag.audio.late),
                    static_cast<unsigned long long>(diag.audio.concealedSamples),
                    static_cast<unsigned long long>(diag.media.undecryptable));
        return true;
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(5.0, atof(argv[1])) : 30.0;
    const int calls = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    const int widebandFormat = argc > 3 ? atoi(argv[3]) : 32;

    std::vector<int16_t> speech;
    try {
        speech = ReadMonoSamples(QStringLiteral(KALLOMIR_BENCH_SPEECH), 8000).samples;
    } catch (...) {
        speech.assign(8000, 0);
        for (size_t i = 0; i < speech.size(); ++i) speech[i] = int16_t((i * 37) % 2000 - 1000);
    }
    std::vector<uint8_t> coded;
    encodeG711(G711Law::MuLaw, speech, coded);
    std::vector<int16_t> speech16k;
    try {
        speech16k = ReadMonoSamples(QStringLiteral(KALLOMIR_BENCH_SPEECH), 16000).samples;
    } catch (...) {
        speech16k.assign(16000, 0);
        for (size_t i = 0; i < speech16k.size(); ++i)
            speech16k[i] = int16_t((i * 37) % 2000 - 1000);
    }

    QTemporaryDir dir;
    SipLineConfig cfg;
    cfg.name = QStringLiteral("bench");
    cfg.listenAddress = QStringLiteral("127.0.0.1");
    cfg.listenPort = test::freeUdpPort();
    cfg.user = QStringLiteral("rec");
    cfg.ringPeriodMs = 500;
    cfg.mediaEncryption = MediaEncryption::SrtpOptional;
    SipLine line({cfg});
    TestAudioSystem audio;
    TelephonyControl tel(line, &audio);
    WaveControl wave(audio, &line);
    tel.lineDeviceName(0);
    tel.setLineOpen(true);

    int rings = 0;
    bool connected = false;
    int recordFormat = 2;
    QObject::connect(&tel, &TelephonyControl::IncomingCall, [&](int r) { rings = r; });
    QObject::connect(&tel, &TelephonyControl::Connected, [&] {
        connected = true;
        wave.setRecordFormat(recordFormat);
        wave.setFileName(dir.filePath(QStringLiteral("Record.wav")));
        wave.startCapture(tel.waveInDevice());
    });
    QObject::connect(&tel, &TelephonyControl::Disconnected, [&] {
        connected = false;
        wave.stopCapture();
        wave.closeCapture();
    });

    // Answer latency over several calls: ring 2 arrives on this thread, answer, time until the
    // caller reads the 200 OK.
    std::vector<double> latencies;
    std::vector<std::unique_ptr<test::RawSipPeer>> peers;
    for (int c = 0; c < calls; ++c) {
        peers.push_back(std::make_unique<test::RawSipPeer>());
        test::RawSipPeer& peer = *peers.back();
        rings = 0;
        peer.invite(cfg.listenPort, peer.offer("0"));
        if (!pumpUntil([&] { return rings >= 2; }, 5000)) {
            std::fprintf(stderr, "no second ring\n");
            return 1;
        }
        const auto t0 = std::chrono::steady_clock::now();
        tel.answer();
        const auto ok = peer.waitFor(200, 5000);
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            std::fprintf(stderr, "no 200 OK\n");
            return 1;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        peer.ack(cfg.listenPort, ok->toTag());
        pumpUntil([&] { return connected; }, 5000);
        peer.bye(cfg.listenPort, ok->toTag());
        peer.waitFor(200, 5000);
        pumpUntil([&] { return !connected; }, 5000);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "answer latency, ring event to 200 OK at the caller, %d calls: min %.2f ms, "
        "median %.2f ms, max %.2f ms (inside the SIP thread: %lld ms)\n",
        calls, latencies.front(), latencies[latencies.size() / 2], latencies.back(),
        static_cast<long long>(line.diagnostics(0).lastAnswerMs));

    Bench bench{line, tel, cfg.listenPort, rings, connected, recordFormat};
    const QByteArray head =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
        "t=0 0\r\nm=audio ";
    if (!bench.measure("G.711 (PCMU) recorded at 8 kHz", head, " RTP/AVP 0\r\na=sendrecv\r\n",
                       g711Packets(coded, seconds), 2, 0.2)) {
        return 1;
    }
    const SrtpKey key = makeSrtpKey(QStringLiteral("AES_CM_128_HMAC_SHA1_80"));
    const SdpCrypto crypto = cryptoLine(1, key);
    const QByteArray tail = " RTP/SAVP 9\r\na=crypto:1 " + crypto.suite.toLatin1() + ' ' +
                            crypto.keyParams.toLatin1() + "\r\na=sendrecv\r\n";
    const QByteArray label =
        "G.722 with SRTP recorded in format " + QByteArray::number(widebandFormat);
    if (!bench.measure(label.constData(), head, tail, g722SrtpPackets(speech16k, seconds, key),
                       widebandFormat, 0.5)) {
        return 1;
    }
    return 0;
}
