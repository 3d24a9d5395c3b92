// Checksum.h - the checksum of the golden frames, skies and tables: FNV-1a
// 64 over 32-bit words, low byte first (the same on every platform).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint64_t kFnv1a64Basis = 14695981039346656037ull;

// `basis` other than FNV's own only for the front-end tests' checksums, which
// were pinned with a basis one digit short.
inline uint64_t Fnv1a64(const uint32_t* words, size_t count, uint64_t basis = kFnv1a64Basis) {
    uint64_t hash = basis;
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) {
            hash ^= (words[i] >> (8 * b)) & 0xFFu;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}
