#include "app/Stretch.h"

#include <cstring>

void StretchColumns(int32_t width, int32_t destinationWidth, int32_t* columns) {
    for (int32_t x = 0; x < destinationWidth; ++x) {
        columns[x] = static_cast<int32_t>(static_cast<int64_t>(x) * width / destinationWidth);
    }
}

int32_t StretchSourceRow(int32_t y, int32_t height, int32_t destinationHeight) {
    const auto fromTop = static_cast<int32_t>(static_cast<int64_t>(y) * height / destinationHeight);
    return height - 1 - fromTop;
}

void StretchFrame(const uint32_t* pixels, int32_t width, int32_t height, size_t sourceStride,
                  uint32_t* destination, int32_t destinationWidth, int32_t destinationHeight,
                  size_t stride, int32_t* columns, uint32_t setBits, uint32_t keep) {
    StretchColumns(width, destinationWidth, columns);
    const size_t rowWords = static_cast<size_t>(destinationWidth);
    int32_t previousSource = -1;
    for (int32_t y = 0; y < destinationHeight; ++y) {
        uint32_t* out = destination + static_cast<size_t>(y) * stride;
        const int32_t sourceRow = StretchSourceRow(y, height, destinationHeight);
        if (sourceRow == previousSource) {
            // Enlarging repeats rows: copy the one just made.
            std::memcpy(out, out - stride, rowWords * sizeof(uint32_t));
            continue;
        }
        previousSource = sourceRow;
        const uint32_t* source = pixels + static_cast<size_t>(sourceRow) * sourceStride;
        StretchRow(source, width, columns, out, destinationWidth, keep, setBits);
    }
}

void StretchRow(const uint32_t* source, int32_t width, const int32_t* columns, uint32_t* out,
                int32_t destinationWidth, uint32_t keep, uint32_t setBits) {
    if (width > 0 && destinationWidth % width == 0) {
        // Column x shows x * width / destinationWidth = x / factor.
        const int32_t factor = destinationWidth / width;
        if (factor == 1) {
            for (int32_t x = 0; x < width; ++x) out[x] = (source[x] & keep) | setBits;
        } else if (factor == 2) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t pixel = (source[x] & keep) | setBits;
                out[2 * x] = pixel;
                out[2 * x + 1] = pixel;
            }
        } else {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t pixel = (source[x] & keep) | setBits;
                uint32_t* run = out + static_cast<size_t>(x) * static_cast<size_t>(factor);
                for (int32_t i = 0; i < factor; ++i) run[i] = pixel;
            }
        }
        return;
    }
    for (int32_t x = 0; x < destinationWidth; ++x) out[x] = (source[columns[x]] & keep) | setBits;
}
