// Helper programs that may start children of their own (an office suite's
// launcher starts the suite) are ended as a whole: each runs as the leader of
// a process group of its own, and ending it ends the group.
#pragma once

#include <cstdint>

namespace sorvane {

// Makes the calling process the leader of a new process group. Called in a
// freshly started child before it runs the helper program.
void BecomeProcessGroupLeader();

// Kills (SIGKILL) every process of the group that process `leader` leads.
// Returns how many groups were signalled: 1, or 0 when there is no such group.
int KillProcessGroup(int64_t leader);

}  // namespace sorvane
