// One function per command of the `sorvane` program. Each returns the exit
// status: 0 success, 1 when the target cannot be opened or read, 2 for a
// usage error, 130 when cancelled.
#pragma once

#include <string>
#include <vector>

namespace sorvane::cli {

int RunClassify(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
int RunRecover(const std::vector<std::string>& args);
int RunDisks(const std::vector<std::string>& args);
int RunImage(const std::vector<std::string>& args);

}  // namespace sorvane::cli
