// The nearest-neighbour stretch against painting: each frame pixel fills the
// picture pixels whose position falls into its share of the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/Stretch.h"

namespace {

// The picture painted frame pixel by frame pixel: column c covers picture
// columns x with c * dw <= x * w < (c + 1) * dw, and rows alike, counted
// from the top (the frame's last row).
std::vector<uint32_t> Painted(const std::vector<uint32_t>& frame, int32_t w, int32_t h, int32_t dw,
                              int32_t dh) {
    std::vector<uint32_t> picture(static_cast<size_t>(dw) * dh, 0xDEADBEEFu);
    for (int32_t fromTop = 0; fromTop < h; ++fromTop) {
        for (int32_t c = 0; c < w; ++c) {
            for (int32_t y = 0; y < dh; ++y) {
                if (!(int64_t{fromTop} * dh <= int64_t{y} * h &&
                      int64_t{y} * h < (fromTop + 1) * int64_t{dh}))
                    continue;
                for (int32_t x = 0; x < dw; ++x) {
                    if (int64_t{c} * dw <= int64_t{x} * w &&
                        int64_t{x} * w < (c + 1) * int64_t{dw}) {
                        picture[static_cast<size_t>(y) * dw + x] =
                            frame[static_cast<size_t>(h - 1 - fromTop) * w + c];
                    }
                }
            }
        }
    }
    return picture;
}

// Frames with padded rows (the savers' frames) show the same picture; their
// padding is never shown.
TEST(Stretch, EveryPictureSizeIsTheFramePaintedOverIt) {
    const int32_t sizes[][2] = {{1, 1}, {3, 2}, {5, 7}, {8, 4}, {13, 9}};
    for (const auto& frameSize : sizes) {
        const int32_t w = frameSize[0];
        const int32_t h = frameSize[1];
        std::vector<uint32_t> frame(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
        const size_t paddedStride = static_cast<size_t>(w) + 5;
        std::vector<uint32_t> padded(paddedStride * h, 0xBADu);
        for (int32_t r = 0; r < h; ++r) {
            std::copy(frame.begin() + r * w, frame.begin() + (r + 1) * w,
                      padded.begin() + static_cast<std::ptrdiff_t>(r * paddedStride));
        }
        for (int32_t dw = 1; dw <= 20; dw += 3) {
            for (int32_t dh = 1; dh <= 20; dh += 2) {
                const size_t stride = static_cast<size_t>(dw) + 3;  // rows with a gap
                std::vector<uint32_t> out(stride * dh, 0);
                std::vector<int32_t> columns(static_cast<size_t>(dw));
                StretchFrame(frame.data(), w, h, static_cast<size_t>(w), out.data(), dw, dh, stride,
                             columns.data());
                std::vector<uint32_t> fromPadded(stride * dh, 0);
                StretchFrame(padded.data(), w, h, paddedStride, fromPadded.data(), dw, dh, stride,
                             columns.data());
                ASSERT_EQ(fromPadded, out) << w << "x" << h << " onto " << dw << "x" << dh;
                const std::vector<uint32_t> expected = Painted(frame, w, h, dw, dh);
                for (int32_t y = 0; y < dh; ++y) {
                    for (int32_t x = 0; x < dw; ++x) {
                        ASSERT_EQ(out[static_cast<size_t>(y) * stride + x],
                                  expected[static_cast<size_t>(y) * dw + x])
                            << w << "x" << h << " onto " << dw << "x" << dh << " at " << x << ","
                            << y;
                    }
                    for (size_t gap = static_cast<size_t>(dw); gap < stride; ++gap) {
                        ASSERT_EQ(out[static_cast<size_t>(y) * stride + gap], 0u);
                    }
                }
            }
        }
    }
}

TEST(Stretch, TheFramesOwnSizeIsTheFrameUpsideDown) {
    const std::vector<uint32_t> frame = {1, 2, 3, 4, 5, 6};  // 3 x 2, row 0 at the bottom
    std::vector<uint32_t> out(6);
    std::vector<int32_t> columns(3);
    StretchFrame(frame.data(), 3, 2, 3, out.data(), 3, 2, 3, columns.data());
    EXPECT_EQ(out, (std::vector<uint32_t>{4, 5, 6, 1, 2, 3}));
    // Bits to set go into every pixel, repeated rows too.
    std::vector<uint32_t> tall(12);
    StretchFrame(frame.data(), 3, 2, 3, tall.data(), 3, 4, 3, columns.data(), 0xFF000000u);
    EXPECT_EQ(tall, (std::vector<uint32_t>{0xFF000004u, 0xFF000005u, 0xFF000006u, 0xFF000004u,
                                           0xFF000005u, 0xFF000006u, 0xFF000001u, 0xFF000002u,
                                           0xFF000003u, 0xFF000001u, 0xFF000002u, 0xFF000003u}));
}

// Rows of pictures a whole number of times as wide as the frame take a way
// of their own: the same pixels as the column table's, masks and set bits
// included, at every factor and beside ragged widths.
TEST(Stretch, WholeFactorRowsAreTheColumnTablesRows) {
    std::vector<uint32_t> frame(97);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint32_t>(i * 2654435761u);
    for (const int32_t width : {1, 2, 7, 97}) {
        for (int32_t destinationWidth = 1; destinationWidth <= 5 * width + 3; ++destinationWidth) {
            std::vector<int32_t> columns(static_cast<size_t>(destinationWidth));
            StretchColumns(width, destinationWidth, columns.data());
            for (const uint32_t keep : {0xFFFFFFFFu, 0x00FFFFFFu}) {
                std::vector<uint32_t> out(static_cast<size_t>(destinationWidth) + 1, 7u);
                StretchRow(frame.data(), width, columns.data(), out.data(), destinationWidth, keep,
                           0xFF000000u & ~keep);
                for (int32_t x = 0; x < destinationWidth; ++x) {
                    const uint32_t expected =
                        (frame[static_cast<size_t>(columns[static_cast<size_t>(x)])] & keep) |
                        (0xFF000000u & ~keep);
                    ASSERT_EQ(out[static_cast<size_t>(x)], expected)
                        << width << " onto " << destinationWidth << " at " << x;
                }
                EXPECT_EQ(out.back(), 7u) << "written past the row";
            }
        }
    }
}

TEST(Stretch, HugeSidesDoNotOverflow) {
    int32_t columns[4];
    StretchColumns(INT32_MAX, 4, columns);
    EXPECT_EQ(columns[3], static_cast<int32_t>(int64_t{3} * INT32_MAX / 4));
    EXPECT_EQ(StretchSourceRow(INT32_MAX - 1, INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(StretchSourceRow(0, INT32_MAX, 2), INT32_MAX - 1);
}

}  // namespace
