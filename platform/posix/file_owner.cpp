#include "platform/file_owner.h"

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/result_codes.h"

namespace sorvane {
namespace {

bool ParseId(const char* text, uint32_t& id) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFEul) return false;
    id = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool InvokingUser(uint32_t& uid, uint32_t& gid) {
    if (::geteuid() != 0) return false;
    if (!ParseId(std::getenv("PKEXEC_UID"), uid) && !ParseId(std::getenv("SUDO_UID"), uid)) return false;
    if (uid == 0) return false;  // root acting for root: nothing to hand over
    if (ParseId(std::getenv("SUDO_GID"), gid) && !std::getenv("PKEXEC_UID")) return true;
    struct passwd entry;
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        gid = found->pw_gid;
    } else {
        gid = uid;  // no entry for the user: the usual private group
    }
    return true;
}

int GiveToInvokingUser(const std::filesystem::path& path) {
    uint32_t uid = 0, gid = 0;
    if (!InvokingUser(uid, gid)) return kSuccess;
    if (::lchown(path.c_str(), uid, gid) != 0) return ResultFromErrno(errno);
    return kSuccess;
}

int GiveTreeToInvokingUser(const std::filesystem::path& top) {
    uint32_t uid = 0, gid = 0;
    if (!InvokingUser(uid, gid)) return kSuccess;
    int result = GiveToInvokingUser(top);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const int rc = GiveToInvokingUser(it->path());
        if (result == kSuccess) result = rc;
    }
    return result;
}

std::filesystem::path InvokingUserHome() {
    uint32_t uid = 0, gid = 0;
    if (!InvokingUser(uid, gid)) return {};
    struct passwd entry;
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return found->pw_dir;
}

}  // namespace sorvane
