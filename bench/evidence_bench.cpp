// Figures for the evidence: `kallomir --verify` over many recordings beside `sha256sum` of
// the same files, run one after the other, twice each, on the same data.
//   kallomir_evidence_bench [--recordings N] [--megabytes-each M] [--dir PARENT]
// The data set (default 10 000 recordings of 1 MB: 10 GB) is written under PARENT (default
// the system's temporary folder) and removed at the end. Prints figures only.

#include "evidence/EvidenceEvents.h"
#include "evidence/Fingerprint.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

using namespace kallomir;

namespace {

QString ArgValue(const QStringList& args, const QString& name, const QString& fallback) {
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

double Run(const QString& program, const QStringList& arguments, const QString& dir,
           int* exitCode) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    *exitCode = process.exitCode();
    return double(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = ArgValue(args, "--recordings", "10000").toInt();
    const qint64 bytesEach = ArgValue(args, "--megabytes-each", "1").toLongLong() * 1000 * 1000;
    QTemporaryDir root(ArgValue(args, "--dir", QDir::tempPath()) + "/kallomir-bench-XXXXXX");
    const QString home = root.filePath("home");
    const QString data = root.filePath("Recodati/Quendral/1");
    QDir().mkpath(home);
    QDir().mkpath(data);
    QFile ini(home + "/RIZEDUZO.INI");
    ini.open(QIODevice::WriteOnly);
    ini.write("[PATH]\nDATI=" + root.filePath("Recodati/").toUtf8() + "\n");
    ini.close();

    std::printf("writing %d recordings of %.1f MB (%.2f GB) in %s ...\n", count,
                double(bytesEach) / 1e6, double(count) * double(bytesEach) / 1e9,
                qPrintable(root.path()));
    std::fflush(stdout);
    QByteArray block(int(bytesEach), Qt::Uninitialized);
    QRandomGenerator random(42);
    for (qsizetype i = 0; i + 4 <= block.size(); i += 4) {
        const quint32 v = random.generate();
        std::memcpy(block.data() + i, &v, 4);
    }
    QElapsedTimer setup;
    setup.start();
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0, 0));
    for (int i = 0; i < count; ++i) {
        const QDateTime at = start.addSecs(qint64(i) * 60);
        const QString file = data + "/" + at.toString("yyyyMMdd_HHmmss") + ".Ems";
        // Each file differs, so nothing can be shared between them.
        std::memcpy(block.data(), &i, sizeof i);
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(block);
        out.close();
        const auto fingerprint = FingerprintOfFile(file);
        LogRecordingSaved(home, at, file, *fingerprint, QString(), false);
    }
    std::printf("data set and log ready in %.0f s\n", double(setup.elapsed()) / 1000);

    const QString files = root.filePath("files.txt");
    {
        QFile list(files);
        list.open(QIODevice::WriteOnly);
        for (const QString& name : QDir(data).entryList({"*.Ems"}, QDir::Files, QDir::Name))
            list.write((data + "/" + name + "\n").toUtf8());
    }
    for (int round = 1; round <= 2; ++round) {
        int sumExit = 0, verifyExit = 0;
        const double sum =
            Run("sh", {"-c", "xargs -d '\\n' sha256sum < " + files}, root.path(), &sumExit);
        const double verify =
            Run(KALLOMIR_BINARY, {"--verify", "--home", home}, root.path(), &verifyExit);
        std::printf(
            "round %d: sha256sum %.2f s (exit %d), kallomir --verify %.2f s (exit %d): %.2fx "
            "(%.0f MB/s)\n",
            round, sum, sumExit, verify, verifyExit, verify / sum,
            double(count) * double(bytesEach) / 1e6 / verify);
        std::fflush(stdout);
    }
    return 0;
}
