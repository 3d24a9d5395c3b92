#include "render/ScratchPages.h"

#include <sys/mman.h>

namespace {

// Advice only: a kernel without transparent huge pages refuses it and the
// block stays on small pages.
void AdviseHugePages(void* block, std::size_t bytes) {
    madvise(block, bytes, MADV_HUGEPAGE);
}

void ReleasePages(void* block, std::size_t bytes) {
    madvise(block, bytes, MADV_DONTNEED);
}

}  // namespace

LandGenerator::ScratchHooks SystemScratchHooks() {
    LandGenerator::ScratchHooks hooks;
    hooks.adviseFresh = &AdviseHugePages;
    hooks.releasePages = &ReleasePages;
    return hooks;
}
