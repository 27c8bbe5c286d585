// SHA-256 computed in the test process, the same on every system the tests run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvane::testkit {

class Sha256 {
  public:
    Sha256();
    void Update(const void* data, size_t length);
    // Lower-case hex of the digest; the object is spent afterwards.
    std::string HexDigest();

  private:
    void Block(const uint8_t* block);
    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace sorvane::testkit
