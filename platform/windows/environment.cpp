#include "platform/environment.h"

#include <stdlib.h>

#include "platform/windows/win32.h"

namespace sorvane {

// Through the C runtime, which keeps its narrow and wide copies of the
// environment in step (getenv and _wgetenv both see the change).
void SetEnvironmentValue(const std::string& name, const std::string& value) {
    ::_wputenv_s(win::Wide(name).c_str(), win::Wide(value).c_str());
}

void RemoveEnvironmentValue(const std::string& name) { ::_wputenv_s(win::Wide(name).c_str(), L""); }

}  // namespace sorvane
