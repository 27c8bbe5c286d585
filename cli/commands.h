// One function per command of the `sorvane` program. Each returns the exit
// status: 0 success, 1 when the target cannot be opened or read, 2 for a
// usage error, 130 when cancelled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::cli {

int RunClassify(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
int RunRecover(const std::vector<std::string>& args);
int RunDisks(const std::vector<std::string>& args);
int RunImage(const std::vector<std::string>& args);
int RunScans(const std::vector<std::string>& args);

// A kept scan's number as the command line takes it; false for anything else.
bool ParseScanId(const std::string& text, uint64_t& id);

}  // namespace sorvane::cli
