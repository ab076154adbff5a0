// `kallomir --verify` and `--verify-export` as an operator or a script runs them: no window
// and no display, one line per finding, exit code 0 only when everything holds.
#include "EvidenceFixture.h"
#include "evidence/HandOverExport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

using namespace kallomir;
using namespace kallomir::test;

namespace {

struct Outcome {
    int exitCode = -1;
    QStringList lines;
};

class VerifyCommand : public Installation {
protected:
    Outcome kallomir(const QStringList& arguments) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Nothing to show a window on: the check must not need one.
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", home.userHome());
        process.setProcessEnvironment(env);
        process.start(KALLOMIR_BINARY, arguments);
        Outcome run;
        if (!process.waitForFinished(60000))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.lines =
            QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return run;
    }
};

TEST_F(VerifyCommand, AnUntouchedInstallationExitsZeroWithItsOutcome) {
    const Outcome run = kallomir({"--verify", "--home", home.home()});
    EXPECT_EQ(run.exitCode, 0) << run.lines.join('\n').toStdString();
    ASSERT_EQ(run.lines.size(), 2);
    EXPECT_EQ(run.lines[0],
              "Esito: tutto in ordine (registrazioni controllate: 3, righe del registro: 7).");
    EXPECT_EQ(run.lines[1],
              "Ultima riga del registro: n=7, SHA-256 " + Sha256Hex(logLines().last()));
}

TEST_F(VerifyCommand, EachProblemIsOneLineAndTheExitCodeIsOne) {
    patch(a, 2000, 'X');
    QFile::remove(c);
    auto lines = logLines();
    lines.swapItemsAt(2, 3);
    writeLog(lines);
    const Outcome run = kallomir({"--verify", "--home", home.home()});
    EXPECT_EQ(run.exitCode, 1);
    const QStringList expectedStarts = {"righe del registro scambiate: righe 3 e 4",
                                        "registrazione mancante: " + c,
                                        "registrazione modificata (audio): " + a};
    ASSERT_EQ(run.lines.size(), expectedStarts.size() + 2) << run.lines.join('\n').toStdString();
    for (int i = 0; i < expectedStarts.size(); ++i)
        EXPECT_TRUE(run.lines[i].startsWith(expectedStarts[i])) << run.lines[i].toStdString();
    EXPECT_TRUE(run.lines[3].startsWith("Esito: 3 problemi ("));
}

TEST_F(VerifyCommand, AMissingProgramFolderCannotBeCheckedExitTwo) {
    const Outcome run = kallomir({"--verify", "--home", home.home() + "/nessuna"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(home.home() + "/nessuna"));
}

TEST_F(VerifyCommand, AnExportedBundleVerifiesOnItsOwnUntilAFileInItChanges) {
    QTemporaryDir scratch;
    ExportRequest request;
    request.programFolder = home.home();
    request.recordings = {b, c};
    request.target = scratch.filePath("consegna.zip");
    request.now = QDateTime::currentDateTime();
    ASSERT_TRUE(ExportHandOver(request).refused.isEmpty());
    Outcome run = kallomir({"--verify-export", request.target});
    EXPECT_EQ(run.exitCode, 0) << run.lines.join('\n').toStdString();
    EXPECT_TRUE(
        run.lines.value(0).startsWith("Esito: tutto in ordine (registrazioni controllate: 2,"));

    request.target = scratch.filePath("consegna");
    ASSERT_TRUE(ExportHandOver(request).refused.isEmpty());
    const QString row = request.target + "/" + QFileInfo(c).completeBaseName() + "/catalogo.txt";
    WriteBytes(row, ReadBytes(row) + "aggiunta\n");
    run = kallomir({"--verify-export", request.target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.lines.value(0).startsWith(
        "file del pacchetto modificato: " + QFileInfo(c).completeBaseName() + "/catalogo.txt"))
        << run.lines.join('\n').toStdString();
}

}  // namespace
