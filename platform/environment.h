// Setting the process's environment, which the data folder and the search
// path are read from. Values are UTF-8.
#pragma once

#include <string>

namespace sorvane {

void SetEnvironmentValue(const std::string& name, const std::string& value);
void RemoveEnvironmentValue(const std::string& name);

}  // namespace sorvane
