#include "BaresipPeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cmath>

#include <sched.h>
#include <sndfile.h>
#include <unistd.h>

namespace kallomir::test {

bool writeWav8k(const QString& path, const std::vector<int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t n = sf_write_short(f, samples.data(), sf_count_t(samples.size()));
    sf_close(f);
    return n == sf_count_t(samples.size());
}

double bestCorrelation(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded,
                       int maxLag) {
    double best = 0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double sx = 0, sy = 0, sxy = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            const long j = long(i) + lag;
            if (j < 0 || j >= long(recorded.size()))
                continue;
            sx += double(sent[i]) * sent[i];
            sy += double(recorded[size_t(j)]) * recorded[size_t(j)];
            sxy += double(sent[i]) * recorded[size_t(j)];
        }
        if (sx > 0 && sy > 0)
            best = std::max(best, sxy / std::sqrt(sx * sy));
    }
    return best;
}

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
    c += "ausrc_srate 8000\nauplay_srate 8000\nausrc_channels 1\nauplay_channels 1\n";
    c += "module_path /usr/lib/baresip/modules\n";
    c += "module g711.so\nmodule aufile.so\nmodule aubridge.so\n";
    c += "module_tmp account.so\n";
    c += "module_app menu.so\n";
    config.write(c.toUtf8());
    config.close();

    QFile accounts(dir_.filePath(QStringLiteral("accounts")));
    if (!accounts.open(QIODevice::WriteOnly))
        return false;
    QString a = "<sip:" + options_.user + "@" + sipAddress + ">;regint=0;audio_codecs=PCMU,PCMA";
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
