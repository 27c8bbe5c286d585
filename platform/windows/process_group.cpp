#include "platform/process_group.h"

#include <string>
#include <vector>

#include "platform/windows/win32.h"

namespace sorvane {

namespace {

// The group of a leader is a job object named after its process id. Processes
// it starts join the job by themselves, so the group holds the leader's
// children and theirs, as a process group does.
std::wstring GroupName(int64_t leader) { return L"Local\\SorvaneGroup-" + std::to_wstring(leader); }

// Ends `root` and every process descended from it, children first seen in one
// snapshot of the process table. Used for a leader that made no job.
int TerminateTree(DWORD root) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    std::vector<PROCESSENTRY32W> table;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        table.push_back(entry);
    }
    ::CloseHandle(snapshot);

    bool rootFound = false;
    for (const auto& e : table) rootFound = rootFound || e.th32ProcessID == root;
    if (!rootFound) return 0;
    std::vector<DWORD> tree{root};
    for (size_t i = 0; i < tree.size(); ++i) {
        for (const auto& e : table) {
            // Ids are reused: a "child" that is the parent's own id again, or the
            // caller, is never taken for part of the group.
            if (e.th32ParentProcessID == tree[i] && e.th32ProcessID != tree[i] &&
                e.th32ProcessID != ::GetCurrentProcessId()) {
                bool seen = false;
                for (DWORD id : tree) seen = seen || id == e.th32ProcessID;
                if (!seen) tree.push_back(e.th32ProcessID);
            }
        }
    }
    int ended = 0;
    for (DWORD id : tree) {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (process == nullptr) continue;
        if (::TerminateProcess(process, 1)) ++ended;
        ::CloseHandle(process);
    }
    return ended > 0 ? 1 : 0;
}

}  // namespace

void BecomeProcessGroupLeader() {
    HANDLE job = ::CreateJobObjectW(nullptr, GroupName(::GetCurrentProcessId()).c_str());
    if (job == nullptr) return;
    // The handle stays open for the life of the process, which keeps the name;
    // a process already in a job the system refuses to move is left as it is,
    // and KillProcessGroup then ends its tree instead.
    if (!::AssignProcessToJobObject(job, ::GetCurrentProcess())) ::CloseHandle(job);
}

int KillProcessGroup(int64_t leader) {
    if (leader <= 0 || leader > 0xFFFFFFFFLL) return 0;
    const auto id = static_cast<DWORD>(leader);
    if (id == ::GetCurrentProcessId()) return 0;  // never the caller's own group
    if (HANDLE job = ::OpenJobObjectW(JOB_OBJECT_TERMINATE, FALSE, GroupName(leader).c_str())) {
        const BOOL ended = ::TerminateJobObject(job, 1);
        ::CloseHandle(job);
        if (ended) return 1;
    }
    return TerminateTree(id);
}

}  // namespace sorvane
