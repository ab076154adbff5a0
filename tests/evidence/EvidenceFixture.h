#pragma once

#include "catalogue/CatalogueStore.h"
#include "core/AppContext.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/IntegrityCheck.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"
#include "recorder/CaptureMarker.h"
#include "recorder/RecordingSaver.h"
#include "support/TempHome.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <set>

namespace kallomir::test {

// An installation with three recordings saved the way the recorder saves them and a
// transcription saved twice the way the player does: the log reads
//   1 recording A   2 recording B   3 transcription A (first)   4 marks A 1/0/0
//   5 recording C   6 transcription A (second)   7 marks A 1/1/0
class Installation : public ::testing::Test {
public:
    void SetUp() override {
        home.initConfiguration();
        catalogue().create();
        home.context->settings.save("progressivo", "0");
        a = save(QTime(9, 0, 0), 1.5);
        b = save(QTime(9, 10, 0), 1.0);
        transcribe(nameOf(a), "{\\rtf1 prima stesura}", true, false);
        c = save(QTime(9, 20, 0), 0.5);
        transcribe(nameOf(a), "{\\rtf1 stesura definitiva}", true, true);
    }

    CatalogueStore& catalogue() const { return *home.catalogue; }
    QString logPath() const { return IntegrityLog(home.home()).path(); }
    static QString nameOf(const QString& file) { return QFileInfo(file).fileName(); }

    // A recording saved, logged and catalogued as the recorder does it.
    QString save(const QTime& at, double seconds) {
        const QDateTime start(QDate(2024, 1, 31), at);
        const QString capture = home.path("Record.wav");
        WriteBytes(capture, MakeWav(seconds));
        CaptureMarker(capture).create(start);
        const SaveResult result = RecordingSaver().save(
            {capture, start, start.addSecs(qint64(seconds) + 1), home.config.dataPath,
             home.config.recFolder, home.userHome() + "/RIZEDUZO/"});
        EXPECT_TRUE(result.saved);
        LogRecordingSaved(home.home(), start, result.file, *result.fingerprint, QString(), false);
        catalogue().recorderInsert(result.catalogueName, home.context->settings);
        catalogue().setFingerprint(result.catalogueName,
                                   {result.fingerprint->sha256, result.fingerprint->bytes});
        CaptureMarker(capture).clear();
        return result.file;
    }
    // The player's Salva.
    void transcribe(const QString& nome, const QString& rtf, bool letto, bool scritto) {
        PlayerMarks marks{letto, scritto, false, rtf};
        catalogue().playerSave(nome, marks, "Not Set", "anna");
        LogTranscriptionSaved(*home.context, nome, rtf);
        LogMarksChanged(*home.context, nome, letto, scritto, false);
    }

    CheckReport check() const {
        CheckOptions options;
        options.programFolder = home.home();
        options.recordingRoots = RecordingRoots(home.home(), home.userHome());
        return RunIntegrityCheck(options);
    }
    static std::set<FindingKind> KindsOf(const CheckReport& report) {
        std::set<FindingKind> kinds;
        for (const Finding& f : report.findings) kinds.insert(f.kind);
        return kinds;
    }

    // Raw access for the tampering.
    void sql(const QString& statement) const {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
            db.setDatabaseName(catalogue().location());
            ASSERT_TRUE(db.open());
            QSqlQuery query(db);
            ASSERT_TRUE(query.exec(statement)) << statement.toStdString();
            db.close();
        }
        QSqlDatabase::removeDatabase("tamper");
    }
    QList<QByteArray> logLines() const {
        QList<QByteArray> lines = ReadBytes(logPath()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    void writeLog(const QList<QByteArray>& lines) const {
        WriteBytes(logPath(), lines.join('\n') + '\n');
    }
    static void patch(const QString& file, qint64 at, char value) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(at < 0 ? f.size() + at : at);
        f.write(&value, 1);
    }

    TempHome home;
    QString a, b, c;
};

// One more installation inside a test, for tables of cases that each need a fresh one.
struct FreshInstallation : Installation {
    FreshInstallation() { SetUp(); }
    void TestBody() override {}
};

}  // namespace kallomir::test
