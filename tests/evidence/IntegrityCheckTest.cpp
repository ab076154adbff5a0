// The integrity check: an untouched installation is clean; each kind of tampering is found
// and told by its own kind of line, and by nothing unrelated.
#include "EvidenceFixture.h"

#include <QCryptographicHash>

using namespace kallomir;
using namespace kallomir::test;

namespace {

using Kinds = std::set<FindingKind>;

// A line of the log with one value changed and its own hash made right again, as someone
// who knows the format would do it.
QByteArray Rehashed(QByteArray line, const QByteArray& from, const QByteArray& to) {
    line.replace(from, to);
    const qsizetype at = line.lastIndexOf(" hash=");
    return line.left(at) + " hash=" + Sha256Hex(line.left(at)).toLatin1();
}

struct Tampering {
    const char* what;
    std::function<void(Installation&)> apply;
    Kinds expected;
};

TEST_F(Installation, UntouchedVerifiesCleanWithEveryRecordingChecked) {
    const CheckReport report = check();
    EXPECT_TRUE(report.clean()) << report.lines().join('\n').toStdString();
    EXPECT_EQ(report.recordingsChecked, 3);
    EXPECT_EQ(report.logLines, 7);
    EXPECT_EQ(report.lastSequence, 7);
    EXPECT_EQ(report.lastLineSha256, Sha256Hex(logLines().last()));
    EXPECT_TRUE(report.summary().startsWith("Esito: tutto in ordine ("));
}

// A catalogue shared on a server holds other workstations' recordings, and any operator writes
// transcriptions and marks there: only this workstation's fingerprints are held against its log.
TEST_F(Installation, OnASharedCatalogueOnlyTheFingerprintsOfItsOwnRecordingsCount) {
    CheckOptions options;
    options.programFolder = home.home();
    options.recordingRoots = RecordingRoots(home.home(), home.userHome());
    CatalogueSnapshot shared = ReadCatalogueSnapshot(catalogue());
    shared.server = true;
    for (FingerprintedRow& row : shared.rows) {
        row.traduzione = QStringLiteral("{\\rtf1 scritto da un collega}");
        row.letto = row.scritto = row.tradotto = true;
    }
    FingerprintedRow other;
    other.nome = "20240131_100000.Ems";  // recorded at another workstation
    other.fingerprint = CatalogueFingerprint{QString(64, u'f'), 12};
    other.traduzione = QStringLiteral("{\\rtf1 altro}");
    shared.rows.push_back(other);
    options.catalogue = shared;
    CheckReport report = RunIntegrityCheck(options);
    EXPECT_TRUE(report.clean()) << report.lines().join('\n').toStdString();

    shared.rows[1].fingerprint->sha256 = QString(64, u'0');
    options.catalogue = shared;
    report = RunIntegrityCheck(options);
    EXPECT_EQ(KindsOf(report), Kinds{FindingKind::CatalogueFingerprintDiffers});

    CatalogueSnapshot away;
    away.present = away.server = true;
    away.location = "catalogo@server";
    away.problem = "Impossibile raggiungere il catalogo";
    options.catalogue = away;
    EXPECT_EQ(KindsOf(RunIntegrityCheck(options)), Kinds{FindingKind::CatalogueUnreadable});
}

TEST(IntegrityCheck, EachTamperingIsFoundUnderItsOwnKind) {
    const std::vector<Tampering> cases = {
        {"a byte of audio",
         [](Installation& t) { t.patch(t.a, 1000, 'X'); },
         {FindingKind::RecordingAudioChanged}},
        {"the trailer",
         [](Installation& t) { t.patch(t.b, -20, '9'); },
         {FindingKind::RecordingTrailerChanged}},
        {"audio and trailer",
         [](Installation& t) {
             t.patch(t.b, 60, 'X');
             t.patch(t.b, -3, '7');
         },
         {FindingKind::RecordingAudioChanged, FindingKind::RecordingTrailerChanged}},
        {"audio cut short",
         [](Installation& t) { QFile::resize(t.c, QFileInfo(t.c).size() - 100); },
         {FindingKind::RecordingAudioChanged, FindingKind::RecordingTrailerChanged}},
        {"a file deleted",
         [](Installation& t) { QFile::remove(t.c); },
         {FindingKind::RecordingMissing}},
        {"a file added",
         [](Installation& t) { QFile::copy(t.a, QFileInfo(t.a).path() + "/20240131_235959.Ems"); },
         {FindingKind::RecordingNotLogged}},
        {"a log line removed",
         [](Installation& t) {
             auto lines = t.logLines();
             lines.removeAt(2);  // the first transcription, saved over later
             t.writeLog(lines);
         },
         {FindingKind::LogLineRemoved}},
        {"a log line changed",
         [](Installation& t) {
             auto lines = t.logLines();
             lines[3].replace("ascoltato=1", "ascoltato=0");
             t.writeLog(lines);
         },
         {FindingKind::LogLineChanged}},
        {"a log line changed with its own hash made right",
         [](Installation& t) {
             auto lines = t.logLines();
             lines[3] = Rehashed(lines[3], "ascoltato=1", "ascoltato=0");
             t.writeLog(lines);
         },
         {FindingKind::LogLineChanged}},
        {"two log lines swapped",
         [](Installation& t) {
             auto lines = t.logLines();
             lines.swapItemsAt(2, 3);
             t.writeLog(lines);
         },
         {FindingKind::LogLinesSwapped}},
        {"the last log line truncated",
         [](Installation& t) {
             QFile::resize(IntegrityLog(t.home.home()).path(),
                           QFileInfo(IntegrityLog(t.home.home()).path()).size() - 70);
         },
         // The marks that line stated are no longer vouched for.
         {FindingKind::LogLineTruncated, FindingKind::MarksChanged}},
        {"a transcription edited in the catalogue",
         [](Installation& t) {
             t.sql("UPDATE dati SET traduzione = '{\\rtf1 altro}' WHERE NOME = '" + t.nameOf(t.a) +
                   "'");
         },
         {FindingKind::TranscriptionChanged}},
        {"a transcription put into a row the program never saved",
         [](Installation& t) {
             t.sql("UPDATE dati SET traduzione = '{\\rtf1 x}' WHERE NOME = '" + t.nameOf(t.b) +
                   "'");
         },
         {FindingKind::TranscriptionChanged}},
        {"marks changed in the catalogue",
         [](Installation& t) {
             t.sql("UPDATE dati SET TRADOTTO = 1 WHERE NOME = '" + t.nameOf(t.c) + "'");
         },
         {FindingKind::MarksChanged}},
        {"a fingerprint changed in the catalogue",
         [](Installation& t) {
             t.sql("UPDATE dati SET impronta = '" + QString(64, '0') + "' WHERE NOME = '" +
                   t.nameOf(t.b) + "'");
         },
         {FindingKind::CatalogueFingerprintDiffers}},
        {"the row of a transcribed recording deleted",
         [](Installation& t) { t.sql("DELETE FROM dati WHERE NOME = '" + t.nameOf(t.a) + "'"); },
         {FindingKind::CatalogueRowMissing}},
    };
    for (const Tampering& tampering : cases) {
        SCOPED_TRACE(tampering.what);
        FreshInstallation installation;
        tampering.apply(installation);
        const CheckReport report = installation.check();
        EXPECT_FALSE(report.clean());
        EXPECT_EQ(Installation::KindsOf(report), tampering.expected)
            << report.lines().join('\n').toStdString();
        // Every line is its kind's label and what it concerns.
        for (const Finding& finding : report.findings)
            EXPECT_TRUE(finding.line().startsWith(FindingLabel(finding.kind) + ": "));
    }
}

TEST(IntegrityCheck, EveryKindHasItsOwnLabel) {
    QSet<QString> labels;
    for (int k = 0; k <= int(FindingKind::BundleNotLogged); ++k) {
        const QString label = FindingLabel(FindingKind(k));
        EXPECT_FALSE(label.isEmpty());
        labels.insert(label);
    }
    EXPECT_EQ(labels.size(), int(FindingKind::BundleNotLogged) + 1);
}

TEST_F(Installation, ALineCutOffByACrashIsReportedAfterTheNextAppendToo) {
    WriteBytes(logPath(), ReadBytes(logPath()) + "n=8 ora=2024-01-31T10:00:00+01:00 evento=tra");
    EXPECT_EQ(KindsOf(check()), (std::set{FindingKind::LogLineTruncated}));
    transcribe(nameOf(b), "{\\rtf1 b}", false, false);
    const CheckReport report = check();
    EXPECT_EQ(KindsOf(report), (std::set{FindingKind::LogLineTruncated}))
        << report.lines().join('\n').toStdString();
    EXPECT_EQ(report.findings[0].detail.section(' ', 0, 1), "riga 8");
}

TEST_F(Installation, EndOfServiceStartsAFreshCatalogueAndItsArchiveIsWatched) {
    const QString archive = home.config.dataPath + "Quendral/datirec.mdb";
    catalogue().archiveAndEmpty(archive);
    ASSERT_TRUE(LogServiceArchived(*home.context, archive, 3));
    // The emptied catalogue owes nothing to the transcriptions of the ended service.
    EXPECT_TRUE(check().clean()) << check().lines().join('\n').toStdString();
    catalogue().playerInsert(nameOf(a), "Not Set", "");
    EXPECT_TRUE(check().clean());

    patch(archive, 100, 'Z');
    EXPECT_EQ(KindsOf(check()), (std::set{FindingKind::ArchiveChanged}));
    QFile::remove(archive);
    EXPECT_EQ(KindsOf(check()), (std::set{FindingKind::ArchiveMissing}));
}

TEST_F(Installation, ALogThatVanishedLeavesEveryRecordingUnvouchedFor) {
    QFile::remove(logPath());
    const CheckReport report = check();
    EXPECT_EQ(KindsOf(report),
              (std::set{FindingKind::LogMissing, FindingKind::RecordingNotLogged,
                        FindingKind::TranscriptionChanged, FindingKind::MarksChanged}));
}

TEST(IntegrityCheck, AFreshInstallationWithNothingYetIsClean) {
    TempHome home;
    home.initConfiguration();
    CheckOptions options;
    options.programFolder = home.home();
    options.recordingRoots = RecordingRoots(home.home(), home.userHome());
    EXPECT_TRUE(RunIntegrityCheck(options).clean());
}

TEST_F(Installation, ProgressCountsTheFilesAndCancelStopsWithAnIncompleteReport) {
    CheckOptions options;
    options.programFolder = home.home();
    options.recordingRoots = RecordingRoots(home.home(), home.userHome());
    CheckProgress last;
    options.progress = [&](const CheckProgress& p) { last = p; };
    EXPECT_TRUE(RunIntegrityCheck(options).clean());
    EXPECT_EQ(last.filesTotal, 3);
    EXPECT_EQ(last.filesDone, 3);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    EXPECT_EQ(last.bytesTotal, QFileInfo(a).size() + QFileInfo(b).size() + QFileInfo(c).size());

    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    const CheckReport cancelled = RunIntegrityCheck(options);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.clean());
    EXPECT_TRUE(cancelled.summary().startsWith("Verifica interrotta"));
}

TEST(IntegrityCheck, RecordingsAreFoundTwoLevelsDownInAnyCaseAndHiddenOnesSkipped) {
    QTemporaryDir root;
    QDir(root.path()).mkpath("Quendral/1");
    QDir(root.path()).mkpath("Quendral/1/deeper");
    for (const QString name : {"Quendral/1/a.Ems", "Quendral/1/b.EMS", "Quendral/1/.c.Ems.part",
                               "Quendral/1/d.wav", "Quendral/1/deeper/e.Ems", "Quendral/f.Ems"})
        WriteBytes(root.filePath(name), "x");
    EXPECT_EQ(FindRecordings({root.path(), root.path() + "/none"}),
              (QStringList{root.filePath("Quendral/1/a.Ems"), root.filePath("Quendral/1/b.EMS"),
                           root.filePath("Quendral/f.Ems")}));
}

}  // namespace
