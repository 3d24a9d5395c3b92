#include "base/Scratch.h"

#include <atomic>

namespace scratch {
namespace {
int32_t allowance = -1;  // < 0: no failures injected
// Atomic: worker threads may allocate too.
std::atomic<int64_t> failures{0};
}  // namespace

int64_t FailureCount() {
    return failures.load(std::memory_order_relaxed);
}

void ResetFailureCount() {
    failures.store(0, std::memory_order_relaxed);
}

std::nullptr_t CountFailure() {
    failures.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
}

bool AllocationsFailing() {
    return allowance == 0;
}

bool AllocationAllowed() {
    if (allowance < 0) return true;
    if (allowance == 0) return false;
    --allowance;
    return true;
}

void FailAllocationsAfter(int32_t n) {
    allowance = n < 0 ? -1 : n;
}

}  // namespace scratch
