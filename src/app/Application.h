#pragma once

class QCoreApplication;
class QTranslator;

namespace kallomir {

// Qt's own texts (standard buttons, the file, print, font and colour dialogs) in Italian,
// from the translations installed with Qt; the program's own texts are not Qt's and stay as
// they are. False, and nothing installed, when the translation is not there.
bool InstallQtItalian(QCoreApplication& app, QTranslator& translator);

// Parses the command line, refuses a second instance, wires the real services and runs
// the program from its splash window to its end. Returns the process exit code.
int RunApplication(int argc, char** argv);

}  // namespace kallomir
