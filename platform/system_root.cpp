#include "platform/system_root.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace sorvane {
namespace {

std::mutex gRootMutex;
std::filesystem::path& RootStorage() {
    static std::filesystem::path root = [] {
        const char* env = std::getenv("SORVANE_SYSTEM_ROOT");
        return std::filesystem::path(env && *env ? env : "/");
    }();
    return root;
}

}  // namespace

std::filesystem::path SystemRoot() {
    std::lock_guard lock(gRootMutex);
    return RootStorage();
}

void SetSystemRoot(const std::filesystem::path& root) {
    std::lock_guard lock(gRootMutex);
    RootStorage() = root;
}

std::filesystem::path SystemPath(std::string_view absolute) {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    return SystemRoot() / std::filesystem::path(absolute);
}

bool ReadTextFile(const std::filesystem::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return true;
}

}  // namespace sorvane
