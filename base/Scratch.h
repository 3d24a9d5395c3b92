// Scratch.h - checked, non-throwing allocation for the core.
//
// Every buffer the core obtains (land scratch maps, spectral scratch, view
// tables, sky and object images) goes through AllocateArray: the byte count is
// checked against overflow before allocating, and a failure returns null for
// the caller to handle. Nothing throws.
//
// Tests can make allocations fail on purpose with FailAllocationsAfter(n):
// the next n allocations succeed, every later one fails, until
// FailAllocationsAfter(-1) switches the failures off again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace scratch {

// True when the next allocation may proceed (consumes one allowance when a
// failure countdown is active).
bool AllocationAllowed();

// True when injected failures have begun: the next allocation will fail.
// Consumes nothing (for checks ahead of the real allocations).
bool AllocationsFailing();

// Test seam: n >= 0 lets n more allocations succeed and fails the rest;
// n < 0 turns the failures off.
void FailAllocationsAfter(int32_t n);

// Allocations through AllocateArray and AllocateArrayForOverwrite that came
// back null, since the start or the last ResetFailureCount: a caller that must
// know whether everything it asked for was complete (the headless renderer)
// reads it after its run.
int64_t FailureCount();
void ResetFailureCount();
// Counts one failure; returns null for the callers' convenience.
std::nullptr_t CountFailure();

// The largest single allocation the core will attempt (bytes).
constexpr std::size_t kMaxAllocationBytes = std::size_t{1} << 31;

}  // namespace scratch

// count elements of T, value-initialised (zeroed for arithmetic types), or
// null when count is negative, the size overflows, exceeds
// scratch::kMaxAllocationBytes or the memory is not there.
template <typename T>
T* AllocateArray(int64_t count) {
    if (count < 0) return scratch::CountFailure();
    const auto n = static_cast<uint64_t>(count);
    if (n > scratch::kMaxAllocationBytes / sizeof(T)) return scratch::CountFailure();
    if (!scratch::AllocationAllowed()) return scratch::CountFailure();
    T* array = new (std::nothrow) T[static_cast<std::size_t>(n == 0 ? 1 : n)]();
    return array != nullptr ? array : scratch::CountFailure();
}

// Like AllocateArray, but the elements are default-initialised (left
// indeterminate for arithmetic types): for buffers the caller overwrites in
// full, so a large buffer is not written twice.
template <typename T>
T* AllocateArrayForOverwrite(int64_t count) {
    if (count < 0) return scratch::CountFailure();
    const auto n = static_cast<uint64_t>(count);
    if (n > scratch::kMaxAllocationBytes / sizeof(T)) return scratch::CountFailure();
    if (!scratch::AllocationAllowed()) return scratch::CountFailure();
    T* array = new (std::nothrow) T[static_cast<std::size_t>(n == 0 ? 1 : n)];
    return array != nullptr ? array : scratch::CountFailure();
}

// Releases what AllocateArray or AllocateArrayForOverwrite returned; null is fine.
template <typename T>
void FreeArray(T*& array) {
    delete[] array;
    array = nullptr;
}
