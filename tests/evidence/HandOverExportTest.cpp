// The hand-over bundle: what it holds, that it verifies on its own, folder and ZIP alike, and
// that any change to any file of it is found.
#include "EvidenceFixture.h"
#include "catalogue/RecordingTrailer.h"
#include "catalogue/WavInfo.h"
#include "evidence/BundleCheck.h"
#include "evidence/BundleManifest.h"
#include "evidence/FilePolicy.h"
#include "evidence/HandOverExport.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

using Kinds = std::set<FindingKind>;

class HandOver : public Installation {
protected:
    ExportResult exportTo(const QString& target, QStringList files = {}) {
        ExportRequest request;
        request.programFolder = home.home();
        request.recordings = files.isEmpty() ? QStringList{a, b} : files;
        request.target = target;
        request.now = QDateTime(QDate(2024, 2, 1), QTime(10, 0, 0));
        request.program = "Kallomir 1.0.0";
        return ExportHandOver(request);
    }
    static QStringList FilesIn(const QString& root) {
        QStringList list;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) list << QDir(root).relativeFilePath(it.next());
        list.sort();
        return list;
    }
    static Manifest ManifestOf(const QString& folder) {
        return *ParseManifest(ReadBytes(folder + "/MANIFESTO.txt")).manifest;
    }
    // A copy of a bundle folder to spoil.
    QString copyOf(const QString& folder, const QString& name) {
        const QString to = scratch.filePath(name);
        QProcess::execute("cp", {"-a", folder, to});
        return to;
    }
    QTemporaryDir scratch;
};

TEST_F(HandOver, AFolderHoldsRecordingWavTranscriptionRowAndAManifestThatVouchesForThem) {
    const QString target = scratch.filePath("consegna");
    const ExportResult result = exportTo(target);
    ASSERT_TRUE(result.refused.isEmpty()) << result.refused.toStdString();
    EXPECT_FALSE(result.cancelled);
    const QString na = QFileInfo(a).completeBaseName(), nb = QFileInfo(b).completeBaseName();
    QStringList expected{"MANIFESTO.txt",        "SHA256SUMS",           na + "/" + na + ".Ems",
                         na + "/" + na + ".pdf", na + "/" + na + ".rtf", na + "/" + na + ".wav",
                         na + "/catalogo.txt",   nb + "/" + nb + ".Ems", nb + "/" + nb + ".wav",
                         nb + "/catalogo.txt"};
    expected.sort();
    EXPECT_EQ(FilesIn(target).join(' ').toStdString(), expected.join(' ').toStdString());
    EXPECT_EQ(result.files, 10);

    const QByteArray ems = ReadBytes(a);
    EXPECT_EQ(ReadBytes(target + "/" + na + "/" + na + ".Ems"), ems);
    EXPECT_EQ(ReadBytes(target + "/" + na + "/" + na + ".wav"), ems.left(ems.size() - 48));
    const auto wav = WavInfo::Read(target + "/" + na + "/" + na + ".wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataOffset + wav->dataSize, wav->fileSize);  // nothing after the samples
    EXPECT_EQ(ReadBytes(target + "/" + na + "/" + na + ".rtf"), "{\\rtf1 stesura definitiva}");
    EXPECT_TRUE(ReadBytes(target + "/" + na + "/" + na + ".pdf").startsWith("%PDF"));
    const QString row = QString::fromUtf8(ReadBytes(target + "/" + na + "/catalogo.txt"));
    EXPECT_TRUE(row.contains("Ascoltato (LETTO): sì")) << row.toStdString();
    EXPECT_TRUE(row.contains("Trascritto (SCRITTO): sì"));
    EXPECT_TRUE(row.contains("Masterizzato (TRADOTTO): no"));
    EXPECT_TRUE(row.contains("Inizio: 31/01/2024 09:00:00"));
    EXPECT_TRUE(row.contains("impronta (SHA-256): " + Sha256Hex(ems)));

    const Manifest manifest = ManifestOf(target);
    EXPECT_EQ(result.manifestSha256, Sha256Hex(ReadBytes(target + "/MANIFESTO.txt")));
    ASSERT_EQ(manifest.recordings.size(), 2u);
    EXPECT_EQ(manifest.recordings[0].origin, a);
    EXPECT_EQ(manifest.lastSequence, 7);
    // Every log line about the first recording: saved, two transcriptions, two marks.
    EXPECT_EQ(manifest.recordings[0].logLines.size(), 5);
    EXPECT_EQ(manifest.recordings[0].logLines,
              (QList<QByteArray>{logLines()[0], logLines()[2], logLines()[3], logLines()[5],
                                 logLines()[6]}));
    EXPECT_EQ(manifest.recordings[1].logLines, QList<QByteArray>{logLines()[1]});

    // Anyone can check the files with the system's own tool.
    QProcess sums;
    sums.setWorkingDirectory(target);
    sums.start("sha256sum", {"--check", "--strict", "SHA256SUMS"});
    ASSERT_TRUE(sums.waitForFinished(60000));
    EXPECT_EQ(sums.exitCode(), 0) << sums.readAllStandardError().toStdString();

    const CheckReport report = CheckHandOverBundle(target);
    EXPECT_TRUE(report.clean()) << report.lines().join('\n').toStdString();
    EXPECT_EQ(report.recordingsChecked, 2);
}

TEST_F(HandOver, AChangeToAnyFileOfTheBundleIsFound) {
    const QString target = scratch.filePath("consegna");
    ASSERT_TRUE(exportTo(target).refused.isEmpty());
    int n = 0;
    for (const QString& file : FilesIn(target)) {
        SCOPED_TRACE(file.toStdString());
        const QString copy = copyOf(target, QString("c%1").arg(++n));
        patch(copy + "/" + file, 30, '#');
        // The recording, its audio and its transcription also no longer match the log.
        const bool logged = file.endsWith(".Ems") || file.endsWith(".wav") || file.endsWith(".rtf");
        const Kinds expected =
            file == "MANIFESTO.txt" ? Kinds{FindingKind::BundleManifestChanged}
            : logged ? Kinds{FindingKind::BundleFileChanged, FindingKind::BundleDiffersFromLog}
                     : Kinds{FindingKind::BundleFileChanged};
        EXPECT_EQ(KindsOf(CheckHandOverBundle(copy)), expected);
    }
    const QString added = copyOf(target, "added");
    WriteBytes(added + "/nota.txt", "x");
    EXPECT_EQ(KindsOf(CheckHandOverBundle(added)), Kinds{FindingKind::BundleFileAdded});
    const QString removed = copyOf(target, "removed");
    const QString nb = QFileInfo(b).completeBaseName();
    QFile::remove(removed + "/" + nb + "/" + nb + ".wav");
    EXPECT_EQ(KindsOf(CheckHandOverBundle(removed)), Kinds{FindingKind::BundleFileMissing});
}

TEST_F(HandOver, ARecordingSwappedWithTheManifestRewrittenToMatchStillDiffersFromTheLog) {
    const QString target = scratch.filePath("consegna");
    ASSERT_TRUE(exportTo(target).refused.isEmpty());
    const QString na = QFileInfo(a).completeBaseName();
    const QString ems = target + "/" + na + "/" + na + ".Ems";
    patch(ems, 500, 'X');
    // Someone who knows the format brings every list up to date and reseals the manifest.
    Manifest manifest = ManifestOf(target);
    QByteArray sums;
    for (ManifestFile& file : manifest.recordings[0].files) {
        if (file.path.endsWith(".Ems"))
            file.sha256 = Sha256Hex(ReadBytes(ems));
    }
    for (const auto& recording : manifest.recordings)
        for (const ManifestFile& file : recording.files)
            sums += file.sha256.toLatin1() + "  " + file.path.toUtf8() + '\n';
    WriteBytes(target + "/SHA256SUMS", sums);
    manifest.others[0].sha256 = Sha256Hex(sums);
    WriteBytes(target + "/MANIFESTO.txt", manifest.toBytes());

    const CheckReport report = CheckHandOverBundle(target);
    EXPECT_EQ(KindsOf(report), Kinds{FindingKind::BundleDiffersFromLog})
        << report.lines().join('\n').toStdString();
}

TEST_F(HandOver, AZipArchiveHoldsTheSameAndVerifiesTheSame) {
    const QString zip = scratch.filePath("consegna.zip");
    const ExportResult result = exportTo(zip);
    ASSERT_TRUE(result.refused.isEmpty());
    EXPECT_EQ(result.target, zip);
    EXPECT_TRUE(CheckHandOverBundle(zip).clean())
        << CheckHandOverBundle(zip).lines().join('\n').toStdString();

    // Unpacked with the system's tool, it is the same bundle.
    const QString unpacked = scratch.filePath("unpacked");
    ASSERT_EQ(QProcess::execute("unzip", {"-q", zip, "-d", unpacked}), 0);
    EXPECT_EQ(FilesIn(unpacked).size(), 10);
    EXPECT_TRUE(CheckHandOverBundle(unpacked).clean());
    EXPECT_EQ(Sha256Hex(ReadBytes(unpacked + "/MANIFESTO.txt")), result.manifestSha256);

    // A byte changed inside the archive: the entry no longer reads back whole.
    const QByteArray bytes = ReadBytes(zip);
    const qsizetype at = bytes.indexOf("data") + 200;  // inside the first recording's audio
    patch(zip, at, bytes[at] == 'Q' ? 'R' : 'Q');
    EXPECT_EQ(KindsOf(CheckHandOverBundle(zip)), Kinds{FindingKind::BundleFileChanged});
    WriteBytes(scratch.filePath("junk.zip"), "PK not an archive");
    EXPECT_EQ(KindsOf(CheckHandOverBundle(scratch.filePath("junk.zip"))),
              Kinds{FindingKind::BundleUnreadable});
}

TEST_F(HandOver, ARecordingWithoutAudioGivesAnEmptyWavInTheArchiveToo) {
    const QDateTime start(QDate(2024, 1, 31), QTime(9, 30, 0));
    const QString empty = QFileInfo(a).path() + "/20240131_093000.Ems";
    WriteBytes(empty, RecordingTrailer::Make("Quendral", start, start.addSecs(1)).toBytes());
    LogRecordingSaved(home.home(), start, empty, *FingerprintOfFile(empty), QString(), false);
    const QString zip = scratch.filePath("vuota.zip");
    ASSERT_TRUE(exportTo(zip, {empty}).refused.isEmpty());
    const QString unpacked = scratch.filePath("vuota");
    ASSERT_EQ(QProcess::execute("unzip", {"-q", zip, "-d", unpacked}), 0);
    EXPECT_EQ(QFileInfo(unpacked + "/20240131_093000/20240131_093000.wav").size(), 0);
    EXPECT_TRUE(CheckHandOverBundle(zip).clean())
        << CheckHandOverBundle(zip).lines().join('\n').toStdString();
}

TEST_F(HandOver, ARecordingThatNoLongerMatchesItsLogLineIsNotExported) {
    patch(b, 100, 'X');
    const QString target = scratch.filePath("consegna.zip");
    const ExportResult result = exportTo(target);
    EXPECT_TRUE(result.refused.contains(b)) << result.refused.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(FilesIn(scratch.path()), QStringList{});
}

TEST_F(HandOver, CancelledOrRefusedTargetsLeaveNothingBehind) {
    std::atomic<bool> cancel{false};
    ExportRequest request;
    request.programFolder = home.home();
    request.recordings = {a, b, c};
    request.now = QDateTime::currentDateTime();
    request.cancel = &cancel;
    request.progress = [&](int done, int) { cancel = done == 2; };
    for (const char* name : {"folder", "archive.zip"}) {
        SCOPED_TRACE(name);
        cancel = false;
        request.target = scratch.filePath(QString::fromLatin1(name));
        const ExportResult result = ExportHandOver(request);
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(FilesIn(scratch.path()), QStringList{});
        EXPECT_EQ(
            QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{});
    }
    request.cancel = nullptr;
    request.target = scratch.filePath("taken");
    QDir().mkdir(request.target);
    try {
        ExportHandOver(request);
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 58);
    }
}

TEST_F(HandOver, BundlesAreTheOwnersOnly) {
    ApplyFilePolicy(FilePolicy{});
    const QString target = scratch.filePath("consegna");
    ASSERT_TRUE(exportTo(target).refused.isEmpty());
    ASSERT_TRUE(exportTo(target + ".zip").refused.isEmpty());
    QStringList paths{target, target + ".zip"};
    QDirIterator it(target, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) paths << it.next();
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
}

}  // namespace
