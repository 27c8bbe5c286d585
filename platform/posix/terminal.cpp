#include "platform/terminal.h"

#include <unistd.h>

namespace sorvane {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool RunningAsRoot() { return ::geteuid() == 0; }

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

void PrepareStandardOutput() {}

}  // namespace sorvane
