// Facts about how the program was started, for the command line: whether its
// error output is an interactive terminal (live progress there, quiet in
// scripts and logs), and whether it has root's rights.
#pragma once

namespace sorvane {

bool StandardErrorIsTerminal();
// True when the program runs with root's rights (so a refused device is not a
// question of rights the user could add).
bool RunningAsRoot();
// True when the program reads its standard input from a terminal (someone can answer).
bool StandardInputIsTerminal();
// Makes the standard output write bytes as they are (a line ends in "\n" on
// every system, so machine-readable output is the same everywhere) and a
// console show them as the UTF-8 they are.
void PrepareStandardOutput();

}  // namespace sorvane
