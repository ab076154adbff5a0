#pragma once

#include <QString>

#include <cstdio>

namespace kallomir {

// Exit codes of the verify commands.
inline constexpr int kVerifyClean = 0;     // everything holds
inline constexpr int kVerifyFindings = 1;  // at least one finding
inline constexpr int kVerifyCannot = 2;    // the check could not run (no such folder)

// `kallomir --verify [--home DIR]`: checks the program folder and writes one line per
// finding, then the outcome, to out. No window.
int RunVerifyCommand(const QString& programFolder, const QString& userHome, std::FILE* out);
// `kallomir --verify-export PATH`: checks a hand-over bundle on its own.
int RunVerifyExportCommand(const QString& bundle, std::FILE* out);

}  // namespace kallomir
