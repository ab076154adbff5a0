#include "BaresipPeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cmath>

#include <sched.h>
#include <unistd.h>

namespace kallomir::test {

QString enterLoopbackOnlyNetwork() {
    static QString result = [] {
        if (geteuid() != 0)
            return QStringLiteral("needs root for a private network namespace");
        if (unshare(CLONE_NEWNET) != 0)
            return QStringLiteral("unshare(CLONE_NEWNET) failed");
        const QString ip = QStandardPaths::findExecutable(QStringLiteral("ip"));
        if (ip.isEmpty())
            return QStringLiteral("no ip command to bring loopback up");
        if (QProcess::execute(ip, {"link", "set", "lo", "up"}) != 0) {
            return QStringLiteral("could not bring loopback up");
        }
        return QString();
    }();
    return result;
}

bool BaresipPeer::available() {
    return !QStandardPaths::findExecutable(QStringLiteral("baresip")).isEmpty() &&
           QFile::exists(QStringLiteral("/usr/lib/baresip/modules/g711.so"));
}

BaresipPeer::BaresipPeer(Options options) : options_(std::move(options)) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

BaresipPeer::~BaresipPeer() {
    stop();
}

bool BaresipPeer::start() {
    const QString sipAddress = QStringLiteral("127.0.0.1:%1").arg(options_.sipPort);
    QFile config(dir_.filePath(QStringLiteral("config")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    QString c;
    c += "poll_method epoll\n";
    c += "sip_listen " + sipAddress + "\n";
    c += "net_interface 127.0.0.1\n";
    c += QStringLiteral("rtp_ports %1-%2\n").arg(options_.rtpPortMin).arg(options_.rtpPortMin + 20);
    c += "audio_source aufile," + options_.sendWav + "\n";
    c += "audio_player aubridge,nil\n";
    c += "audio_alert aubridge,nil\n";
    c += QStringLiteral("ausrc_srate %1\nauplay_srate %1\n").arg(options_.sampleRate);
    c += "ausrc_channels 1\nauplay_channels 1\n";
    if (options_.rtpTimeoutSec > 0)
        c += QStringLiteral("rtp_timeout %1\n").arg(options_.rtpTimeoutSec);
    if (options_.tls) {
        // Its own certificate; it does not check ours.
        const QString key = dir_.filePath(QStringLiteral("key.pem"));
        const QString cert = dir_.filePath(QStringLiteral("cert.pem"));
        if (QProcess::execute(QStringLiteral("openssl"),
                              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                               "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                               "subjectAltName=IP:127.0.0.1"}) != 0) {
            return false;
        }
        QFile both(dir_.filePath(QStringLiteral("tls.pem")));
        QFile certFile(cert), keyFile(key);
        if (!both.open(QIODevice::WriteOnly) || !certFile.open(QIODevice::ReadOnly) ||
            !keyFile.open(QIODevice::ReadOnly)) {
            return false;
        }
        both.write(certFile.readAll() + keyFile.readAll());
        c += "sip_certificate " + both.fileName() + "\n";
        c += "sip_cafile " + cert + "\n";
    }
    c += "module_path /usr/lib/baresip/modules\n";
    c += "module g711.so\nmodule aufile.so\nmodule aubridge.so\n";
    if (options_.codecs.contains(QStringLiteral("G722"), Qt::CaseInsensitive))
        c += "module g722.so\n";
    if (options_.codecs.contains(QStringLiteral("opus"), Qt::CaseInsensitive))
        c += "module opus.so\n";
    if (!options_.mediaEncryption.isEmpty())
        c += "module srtp.so\n";
    c += "module_tmp account.so\n";
    c += "module_app menu.so\n";
    config.write(c.toUtf8());
    config.close();

    QFile accounts(dir_.filePath(QStringLiteral("accounts")));
    if (!accounts.open(QIODevice::WriteOnly))
        return false;
    const QString accountAddress =
        options_.tls ? QStringLiteral("127.0.0.1:%1;transport=tls").arg(signallingPort())
                     : sipAddress;
    QString a = "<sip:" + options_.user + "@" + accountAddress +
                ">;regint=0;audio_codecs=" + options_.codecs;
    if (!options_.mediaEncryption.isEmpty())
        a += ";mediaenc=" + options_.mediaEncryption;
    if (options_.autoAnswer)
        a += ";answermode=auto";
    accounts.write((a + "\n").toUtf8());
    accounts.close();

    QStringList args{"-f", dir_.path(), "-t", QString::number(options_.quitAfterSec)};
    if (!options_.dial.isEmpty())
        args << "-e"
             << "/dial " + options_.dial;
    process_.setStandardInputFile(QProcess::nullDevice());
    // Unbuffered output, so that what it reports arrives when it happens.
    const QString stdbuf = QStandardPaths::findExecutable(QStringLiteral("stdbuf"));
    const QString baresip = QStandardPaths::findExecutable(QStringLiteral("baresip"));
    if (stdbuf.isEmpty()) {
        process_.start(baresip, args);
    } else {
        process_.start(stdbuf, QStringList{"-o0", "-e0", baresip} + args);
    }
    return process_.waitForStarted(5000);
}

void BaresipPeer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    log();
}

QString BaresipPeer::log() {
    log_ += QString::fromUtf8(process_.readAll());
    return log_;
}

bool BaresipPeer::waitForLog(const QString& text, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!log().contains(text)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process_.waitForReadyRead(20);
    }
    return true;
}

bool BaresipPeer::waitForExit(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (process_.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process_.waitForFinished(20);
    }
    log();
    return true;
}

}  // namespace kallomir::test
