#pragma once

#include <QString>
#include <QStringList>

namespace kallomir {

struct CommandLine {
    QString home;                // --home DIR
    QString lineScript;          // --line-script FILE: scenario for the simulated line
    bool startupProbe = false;   // --startup-probe: print the time to the login window and leave
    bool catalogueCopy = false;  // --catalogue-copy-to-server: copy datirec.mdb's rows and leave
    bool verify = false;         // --verify: check the program folder's integrity, no window
    QString verifyExport;        // --verify-export PATH: check a hand-over bundle, no window
    bool showVersion = false;
    bool showHelp = false;
    QString error;  // non-empty when the arguments could not be understood
    QString helpText;
};

CommandLine ParseCommandLine(const QStringList& arguments);
// The arguments as the process received them (before any application object exists).
QStringList ArgumentsOf(int argc, char** argv);

}  // namespace kallomir
