#include "land/Scratch.h"

namespace scratch {
namespace {
int32_t allowance = -1;  // < 0: no failures injected
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
