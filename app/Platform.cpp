#include "app/Platform.h"

#include "land/Scratch.h"

SaverPlatform::~SaverPlatform() = default;

uint32_t* SaverPlatform::CreatePixels(int32_t width, int32_t height) {
    // Both sides must be positive and the product is formed in 64 bits, so a
    // huge request fails in AllocateArray instead of wrapping around.
    if (width <= 0 || height <= 0) return nullptr;
    return AllocateArray<uint32_t>(static_cast<int64_t>(width) * static_cast<int64_t>(height));
}

void SaverPlatform::ReleasePixels(uint32_t* pixels) {
    FreeArray(pixels);
}
