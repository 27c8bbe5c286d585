#include "platform/file_owner.h"

#include "platform/result_codes.h"

namespace sorvane {

// Windows raises rights in the same user's name: what is made stays that user's.
bool InvokingUser(uint32_t&, uint32_t&) { return false; }

int GiveToInvokingUser(const std::filesystem::path&) { return kSuccess; }

int GiveTreeToInvokingUser(const std::filesystem::path&) { return kSuccess; }

std::filesystem::path InvokingUserHome() { return {}; }

}  // namespace sorvane
