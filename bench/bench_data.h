// Data the benchmarks share.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

// A pseudo-random megabyte (xorshift), long enough that every position of a view lies inside it.
inline std::vector<uint8_t> SampleFile() {
    std::vector<uint8_t> bytes(1 << 20);
    uint32_t x = 2463534242u;
    for (uint8_t& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x);
    }
    return bytes;
}

} // namespace bench
