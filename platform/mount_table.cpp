#include "platform/mount_table.h"

#include <cstdlib>
#include <sstream>

#include "platform/system_root.h"

namespace sorvane {
namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            int v = 0;
            bool ok = true;
            for (size_t k = 1; k <= 3; ++k) {
                if (i + k >= s.size() || s[i + k] < '0' || s[i + k] > '7') {
                    ok = false;
                    break;
                }
                v = v * 8 + (s[i + k] - '0');
            }
            if (ok) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string word;
        while (fields >> word) f.push_back(word);
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        size_t dash = 0;
        for (size_t i = 6; i < f.size(); ++i)
            if (f[i] == "-") {
                dash = i;
                break;
            }
        if (f.size() < 7 || dash == 0 || dash + 2 >= f.size()) continue;
        MountEntry e;
        size_t colon = f[2].find(':');
        if (colon == std::string::npos) continue;
        e.major = static_cast<uint32_t>(std::strtoul(f[2].c_str(), nullptr, 10));
        e.minor = static_cast<uint32_t>(std::strtoul(f[2].c_str() + colon + 1, nullptr, 10));
        e.mountPoint = Unescape(f[4]);
        e.fsType = f[dash + 1];
        e.source = Unescape(f[dash + 2]);
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<MountEntry> ReadMountTable() {
    std::string text;
    if (!ReadTextFile(SystemPath("/proc/self/mountinfo"), text)) return {};
    return ParseMountInfo(text);
}

}  // namespace sorvane
