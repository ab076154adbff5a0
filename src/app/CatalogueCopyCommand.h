#pragma once

#include <QString>

class QTextStream;

namespace kallomir {

// kallomir --catalogue-copy-to-server: copies the rows of the program folder's datirec.mdb
// to the catalogue server its RIZEDUZO.INI names, once, keeping their running numbers.
// Writes what it did to out and problems to err; returns the exit code (0 copied or nothing
// left to copy, 1 failed, 2 no server configured).
int CopyCatalogueToServer(const QString& programFolder, QTextStream& out, QTextStream& err);

// The whole command, without windows (it runs where there is no display).
int RunCatalogueCopyCommand(int argc, char** argv);

}  // namespace kallomir
