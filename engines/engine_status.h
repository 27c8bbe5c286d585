// What an engine operation answers: 0 for success, a result code, or
// kCancelCode when the user cancelled (the numbers the engines, the stored
// files and the windows agree on). The type cannot be dropped unnoticed: a
// caller that means to ignore an answer says so with a cast to void.
#pragma once

#include "carving/progress_callbacks.h"

namespace sorvane {

class [[nodiscard]] EngineStatus {
  public:
    constexpr EngineStatus() = default;
    // The numbers stay what they were: a result code converts both ways.
    constexpr EngineStatus(int code) : code_(code) {}  // NOLINT(google-explicit-constructor)
    constexpr operator int() const { return code_; }   // NOLINT(google-explicit-constructor)

    constexpr bool Ok() const { return code_ == 0; }
    constexpr bool Cancelled() const { return code_ == kCancelCode; }
    constexpr int Code() const { return code_; }

  private:
    int code_ = 0;
};

}  // namespace sorvane
