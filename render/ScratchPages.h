// ScratchPages.h - the land generator's scratch-block hooks on Linux
// (LandGenerator::ScratchHooks), for the front ends that run there.
//
// A fresh block asks for transparent huge pages (madvise MADV_HUGEPAGE; in
// the kernel's default "madvise" mode they are granted only on request), so
// the 256 MiB block of land 12 is mapped in 128 faults of 2 MiB instead of
// 65,536 of 4 KiB, and the passes over it miss the address-translation
// caches far less. Between landscapes its pages go back to the system
// (MADV_DONTNEED), so a flight does not hold them while it draws.
//
// Callers: RenderPlatform (render/RenderRun.cpp) and the benchmarks.
#pragma once

#include "land/LandGenerator.h"

LandGenerator::ScratchHooks SystemScratchHooks();
