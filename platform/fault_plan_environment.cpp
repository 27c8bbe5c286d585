// Linked only into the builds of the programs that the tests run: there
// SORVANE_FAULT_PLAN rehearses failing media. An installed program never
// reads it, so no environment can make it report sectors that are not bad.
#include <cstdlib>

#include "platform/fault_plan.h"

namespace sorvane {
namespace {

bool LoadFaultPlanFromEnvironment() {
    const char* text = std::getenv("SORVANE_FAULT_PLAN");
    // A plan that does not parse injects no faults.
    return text && FaultPlan::Instance().Parse(text);
}

[[maybe_unused]] const bool kFaultPlanLoaded = LoadFaultPlanFromEnvironment();

}  // namespace
}  // namespace sorvane
