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
    const QCommandLineOption catalogueCopy(
        QStringLiteral("catalogue-copy-to-server"),
        QStringLiteral("Copy the rows of the program folder's datirec.mdb to the catalogue server "
                       "named in RIZEDUZO.INI [CATALOGO], keeping their running numbers; rows "
                       "already on the server are not copied again. Then leave."));
    parser.addOptions({help, version, home, lineScript, probe, catalogueCopy});
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
    }
    result.showHelp = parser.isSet(help);
    result.showVersion = parser.isSet(version);
    result.home = parser.value(home);
    result.lineScript = parser.value(lineScript);
    result.startupProbe = parser.isSet(probe);
    result.catalogueCopy = parser.isSet(catalogueCopy);
    if (!parser.positionalArguments().isEmpty() && result.error.isEmpty()) {
        result.error =
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
    }
    result.helpText = parser.helpText();
    return result;
}

}  // namespace kallomir
