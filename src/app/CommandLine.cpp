#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace kallomir {

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine result;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kallomir telephone-call recorder and transcription workstation"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and leave."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and leave."));
    const QCommandLineOption home(
        QStringLiteral("home"),
        QStringLiteral(
            "Program folder (RIZEDUZO.INI, 2001Kallomir.Emx, datirec.mdb, Record.wav, report.rpt). "
            "Default: $KALLOMIR_HOME, else $XDG_DATA_HOME/kallomir."),
        QStringLiteral("DIR"));
    const QCommandLineOption lineScript(
        QStringLiteral("line-script"),
        QStringLiteral("Drive the simulated telephone line from a scenario file."),
        QStringLiteral("FILE"));
    const QCommandLineOption probe(
        QStringLiteral("startup-probe"),
        QStringLiteral(
            "Print the milliseconds from start to the login window, then leave (for benchmarks)."));
    const QCommandLineOption verify(
        QStringLiteral("verify"),
        QStringLiteral("Check the recordings, the catalogue and the integrity log of the program "
                       "folder, print one line per problem and leave: exit code 0 when "
                       "everything holds, 1 otherwise. No window."));
    const QCommandLineOption verifyExport(
        QStringLiteral("verify-export"),
        QStringLiteral("Check a hand-over bundle (folder or ZIP archive) on its own, as --verify "
                       "does. No window."),
        QStringLiteral("PATH"));

    const QCommandLineOption catalogueCopy(
        QStringLiteral("catalogue-copy-to-server"),
        QStringLiteral("Copy the rows of the program folder's datirec.mdb to the catalogue server "
                       "named in RIZEDUZO.INI [CATALOGO], keeping their running numbers; rows "
                       "already on the server are not copied again. Then leave."));
    parser.addOptions(
        {help, version, home, lineScript, probe, verify, verifyExport, catalogueCopy});
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
    }
    result.showHelp = parser.isSet(help);
    result.showVersion = parser.isSet(version);
    result.home = parser.value(home);
    result.lineScript = parser.value(lineScript);
    result.startupProbe = parser.isSet(probe);
    result.verify = parser.isSet(verify);
    result.verifyExport = parser.value(verifyExport);
    if (result.verify && parser.isSet(verifyExport) && result.error.isEmpty())
        result.error = QStringLiteral("--verify and --verify-export cannot be used together");
    result.catalogueCopy = parser.isSet(catalogueCopy);
    if (!parser.positionalArguments().isEmpty() && result.error.isEmpty()) {
        result.error =
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
    }
    result.helpText = parser.helpText();
    return result;
}

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace kallomir
