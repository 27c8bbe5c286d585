#include "platform/process_group.h"

#include <signal.h>
#include <unistd.h>

namespace sorvane {

void BecomeProcessGroupLeader() { setpgid(0, 0); }

int KillProcessGroup(int64_t leader) {
    if (leader <= 1) return 0;  // never the whole session or every process
    return kill(-static_cast<pid_t>(leader), SIGKILL) == 0 ? 1 : 0;
}

}  // namespace sorvane
