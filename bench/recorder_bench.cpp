// Figures for the recorder: the once-a-second folder sum with 10 000 recordings beside a
// full listing, and stop-to-catalogued time of a one-hour recording beside `cp` + `sync`
// (without and with its fingerprint), with the longest stretch the window goes without
// handling events meanwhile.
// Prints figures only; never part of the test run.

#include "catalogue/SqliteCatalogue.h"
#include "core/GeneralSound.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/Fingerprint.h"
#include "recorder/CaptureMarker.h"
#include "recorder/FolderSizeCache.h"
#include "recorder/SaveQueue.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

using namespace kallomir;

namespace {

void SettleFolder(const QString& folder) {
    std::filesystem::last_write_time(
        folder.toStdString(),
        std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
}

void FolderTick(const QString& root) {
    const QString folder = root + "/Quendral/1";
    QDir().mkpath(folder);
    const QByteArray body(1000, 'r');
    for (int i = 0; i < 10000; ++i) {
        QFile file(folder + QStringLiteral("/2024%1.Ems").arg(i, 8, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.write(body);
    }
    SettleFolder(folder);

    constexpr int kTicks = 600;
    QElapsedTimer timer;
    std::int64_t check = 0;
    timer.start();
    for (int i = 0; i < 20; ++i) check += FolderSizeCache::Rescan(folder);
    const double naiveUs = double(timer.nsecsElapsed()) / 1000.0 / 20;

    FolderSizeCache cache;
    timer.restart();
    for (int i = 0; i < kTicks; ++i) check += cache.sum(folder);
    const double cachedUs = double(timer.nsecsElapsed()) / 1000.0 / kTicks;

    std::printf(
        "folder tick, 10 000 recordings: full listing %.1f us, kept sum %.2f us per tick "
        "(%d listings in %d ticks, periodic guard included): %.0fx cheaper\n",
        naiveUs, cachedUs, cache.listings(), kTicks, naiveUs / cachedUs);

    // Another program adds and removes recordings: the kept sum must follow exactly.
    QFile extra(folder + "/added.Ems");
    extra.open(QIODevice::WriteOnly);
    extra.write(QByteArray(777, 'x'));
    extra.close();
    const bool afterAdd = cache.sum(folder) == FolderSizeCache::Rescan(folder);
    SettleFolder(folder);
    QFile::remove(folder + "/2024" + QString("%1").arg(5, 8, 10, QLatin1Char('0')) + ".Ems");
    const bool afterRemove = cache.sum(folder) == FolderSizeCache::Rescan(folder);
    std::printf("sum exact after another program added a file: %s, removed a file: %s (%lld)\n",
                afterAdd ? "yes" : "NO", afterRemove ? "yes" : "NO",
                static_cast<long long>(check % 7));
}

void StopToCatalogued(const QString& root) {
    // One hour of 44100 Hz 16-bit mono: about 318 MB.
    const QString capture = root + "/Record.wav";
    {
        QFile file(capture);
        file.open(QIODevice::WriteOnly);
        const qint64 bytes = 44100LL * 2 * 3600;
        QByteArray header(44, '\0');
        file.write(header);
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i) block[i] = char((i * 37) & 0xff);
        for (qint64 done = 0; done < bytes; done += block.size())
            file.write(block.left(int(std::min<qint64>(block.size(), bytes - done))));
    }
    GeneralSound config;
    config.dataPath = root + "/data/";
    config.recFolder = "Quendral/1";
    QDir().mkpath(config.dataPath + config.recFolder);
    MemorySettingsStore store;
    UserSettings settings(store, "kallomir");
    settings.save("progressivo", "0");
    SqliteCatalogue catalogue(root + "/datirec.mdb");
    catalogue.create();

    // The save as the recorder runs it: the kernel's copy without a fingerprint, and with the
    // fingerprint taken on a thread beside the copy.
    enum class Mode { KernelCopy, Fingerprint };
    const char* names[] = {"no fingerprint (kernel copy)", "fingerprint beside the copy"};
    for (int round = 0; round < 3; ++round) {
        // Both copies start with no dirty pages pending, so neither pays for the other.
        QProcess::execute("sync", {});
        QElapsedTimer cp;
        cp.start();
        QProcess::execute("cp", {capture, root + "/cp-copy.Ems"});
        QProcess::execute("sync", {root + "/cp-copy.Ems"});
        const double cpMs = double(cp.nsecsElapsed()) / 1e6;
        QFile::remove(root + "/cp-copy.Ems");
        // SHA-256 itself, over the bytes already in memory: no save that fingerprints the
        // file can end sooner after the stop, since the file's header is known only then.
        QElapsedTimer hashOnly;
        hashOnly.start();
        FingerprintOfFile(capture);
        const double hashMs = double(hashOnly.nsecsElapsed()) / 1e6;
        std::printf(
            "one-hour recording, round %d: cp + sync %.0f ms; SHA-256 of the file alone, from "
            "memory, %.0f ms (%.2fx cp + sync)\n",
            round + 1, cpMs, hashMs, hashMs / cpMs);

        for (const Mode mode : {Mode::KernelCopy, Mode::Fingerprint}) {
            QProcess::execute("sync", {});
            // The window's thread keeps a 1 ms timer running; the longest gap between its
            // ticks is the longest the window would go without handling events.
            const QDateTime start(QDate(2024, 1, 31), QTime(14, round * 3 + int(mode), 5));
            CaptureMarker(capture).create(start);
            SaveQueue queue;
            queue.saver().takeFingerprint = mode == Mode::Fingerprint;
            QTimer pulse;
            QElapsedTimer sincePulse;
            qint64 longestGapNs = 0;
            QObject::connect(&pulse, &QTimer::timeout, [&] {
                longestGapNs = std::max(longestGapNs, sincePulse.nsecsElapsed());
                sincePulse.restart();
            });
            pulse.start(1);
            QElapsedTimer total;
            total.start();
            sincePulse.start();
            double savedMs = 0;
            QEventLoop loop;
            queue.submit(SaveRequest{capture, start, start.addSecs(3600), config.dataPath,
                                     config.recFolder, root + "/fallback/"},
                         [&](const SaveRequest&, const SaveResult& result) {
                             savedMs = double(total.nsecsElapsed()) / 1e6;
                             // What the recorder does with the result: log, row, fingerprint.
                             if (result.fingerprint)
                                 LogRecordingSaved(root, start, result.file, *result.fingerprint,
                                                   QString(), false);
                             catalogue.recorderInsert(result.catalogueName, settings);
                             if (result.fingerprint)
                                 catalogue.setFingerprint(
                                     result.catalogueName,
                                     {result.fingerprint->sha256, result.fingerprint->bytes});
                             CaptureMarker(capture).clear();
                             loop.quit();
                         });
            loop.exec();
            const double oursMs = double(total.nsecsElapsed()) / 1e6;
            pulse.stop();
            std::printf(
                "  %-34s stop-to-catalogued %.0f ms (%.2fx cp + sync; copy, flushes and trailer "
                "%.0f ms, log and row %.1f ms), longest stretch without events %.1f ms\n",
                names[int(mode)], oursMs, oursMs / cpMs, savedMs, oursMs - savedMs,
                double(longestGapNs) / 1e6);
            std::fflush(stdout);
            QDir(config.dataPath + config.recFolder).removeRecursively();
            QDir().mkpath(config.dataPath + config.recFolder);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    FolderTick(root.path());
    StopToCatalogued(root.path());
    return 0;
}
