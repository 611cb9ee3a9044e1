// The viewer's numbers are signed 32-bit and wrap; results of TruncateToInteger keep their low
// 32 bits (so an infinite quotient gives 0). Sums and products go through unsigned types so that
// wrapping is defined.
#pragma once

#include <cstdint>

#include "toolkit/runtime.h"

namespace viewer {

inline int32_t Low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

inline int32_t Add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t Sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline int32_t Mul32(int64_t a, int64_t b) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)));
}

// T(n / d): the quotient in double precision, truncated, low 32 bits.
inline int32_t Quotient(double numerator, double denominator) {
    return Low32(tk::T(numerator, denominator));
}

} // namespace viewer
