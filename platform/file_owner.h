// Files made for the person who started the program. After a restart with
// administrator rights (pkexec, sudo) the program runs as root, but what it
// creates in that person's folders must still be theirs.
#pragma once

#include <cstdint>
#include <filesystem>

namespace sorvane {

// The user the program acts for while it runs as root on their behalf: the
// user id from PKEXEC_UID or SUDO_UID and that user's group (SUDO_GID when
// given). False when the program runs as itself (or on Windows).
bool InvokingUser(uint32_t& uid, uint32_t& gid);

// Gives `path` (a link itself, never what it points to) to the invoking user.
// Does nothing and returns 0 when there is none. Returns 0 or an error code.
int GiveToInvokingUser(const std::filesystem::path& path);
// The same for a folder and everything below it (links themselves, never
// followed). Returns 0 or the first error code; it goes on past errors.
int GiveTreeToInvokingUser(const std::filesystem::path& top);
// The home folder of the invoking user; empty when there is none.
std::filesystem::path InvokingUserHome();

}  // namespace sorvane
