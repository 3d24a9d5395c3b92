// Checksum.h - the checksum of the golden frames, skies and tables: FNV-1a
// 64 over 32-bit words, low byte first (the same on every platform).
#pragma once

#include <cstddef>
#include <cstdint>

inline uint64_t Fnv1a64(const uint32_t* words, size_t count) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) {
            hash ^= (words[i] >> (8 * b)) & 0xFFu;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}
