// Whether an output stream of the program is an interactive terminal, so the
// command line shows live progress there and stays quiet in scripts and logs.
#pragma once

namespace sorvane {

bool StandardErrorIsTerminal();

}  // namespace sorvane
