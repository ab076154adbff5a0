#pragma once

namespace kallomir {

// Parses the command line, refuses a second instance, wires the real services and runs
// the program from its splash window to its end. Returns the process exit code.
int RunApplication(int argc, char** argv);

}  // namespace kallomir
