// Pixel rows from pixel columns: eight bytes, each one column of eight pixels, turned into eight
// bytes, each one row of them (the renderer's column layouts).
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace viewer {

// Transposes the 8 x 8 bit matrix of eight bytes, the first in the top byte of `bits`: afterwards
// byte 7 - t (from the top) holds bit t of each, the first byte's in bit 7.
inline uint64_t Transpose8x8(uint64_t bits) {
    uint64_t t = (bits ^ (bits >> 7)) & 0x00AA00AA00AA00AAull;
    bits ^= t ^ (t << 7);
    t = (bits ^ (bits >> 14)) & 0x0000CCCC0000CCCCull;
    bits ^= t ^ (t << 14);
    t = (bits ^ (bits >> 28)) & 0x00000000F0F0F0F0ull;
    bits ^= t ^ (t << 28);
    return bits;
}

// The eight pixel rows of two groups of eight bytes (each group's in one word, its first byte on
// top): row r (bit r of the bytes, bit 7 - r with msb) of the first group goes to
// rows[r x pitch], of the second to rows[r x pitch + 1], the first byte's bit in bit 7.
inline void PairRowsPortable(uint64_t first, uint64_t second, bool msb, uint8_t* rows,
                             int64_t pitch) {
    const uint64_t a = Transpose8x8(first), b = Transpose8x8(second);
    for (int r = 0; r < 8; ++r) {
        const int shift = msb ? 56 - 8 * r : 8 * r;
        rows[r * pitch] = uint8_t(a >> shift);
        rows[r * pitch + 1] = uint8_t(b >> shift);
    }
}

// The same, with SSE2 where there is SSE2 (every x86-64 processor).
inline void PairRows(uint64_t first, uint64_t second, bool msb, uint8_t* rows, int64_t pitch) {
#if defined(__SSE2__)
    // A byte's bit t moved to its top by a shift left of 7 - t; movemask takes the 16 tops.
    const __m128i v = _mm_set_epi64x(int64_t(second), int64_t(first));
    const int flip = msb ? 7 : 0; // row r shows bit r ^ flip
    for (int t = 0; t < 8; ++t) {
        const auto mask = uint16_t(_mm_movemask_epi8(_mm_sll_epi64(v, _mm_cvtsi32_si128(7 - t))));
        std::memcpy(rows + (t ^ flip) * pitch, &mask, 2);
    }
#else
    PairRowsPortable(first, second, msb, rows, pitch);
#endif
}

} // namespace viewer
