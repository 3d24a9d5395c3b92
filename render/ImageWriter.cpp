#include "render/ImageWriter.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "render/OutputFile.h"

namespace {

// Byte buffers of the writers come from a non-throwing allocation: a picture
// too large for the free memory is an error message, not an exception.
using Bytes = std::unique_ptr<uint8_t[]>;

bool AllocateBytes(Bytes& bytes, size_t count, const std::string& path, std::string& error) {
    bytes.reset(new (std::nothrow) uint8_t[count == 0 ? 1 : count]);
    if (bytes != nullptr) return true;
    error = "cannot write " + path + ": not enough memory for the picture";
    return false;
}

bool WritePng(const std::string& path, const uint8_t* bytes, int32_t width, int32_t height,
              bool grey, std::string& error) {
    OutputFile output;
    if (!output.Open(path, error)) return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    // The library reports its own failures (memory included) in the message;
    // a failed write of the stream also leaves the system's reason in errno.
    errno = 0;
    const bool written =
        png_image_write_to_stdio(&image, output.stream(), 0, bytes, 0, nullptr) != 0;
    const int code = errno;
    std::string reason;
    if (!written) {
        reason = image.message;
        if (code != 0) reason += std::string(" (") + std::strerror(code) + ")";
    }
    png_image_free(&image);
    return output.Commit(written, reason, error);
}

bool SizeOk(int32_t width, int32_t height, const std::string& path, std::string& error) {
    if (width > 0 && height > 0) return true;
    error = "cannot write " + path + ": empty image";
    return false;
}

}  // namespace

bool IsPngPath(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".png";
}

bool WriteRawWords(const std::string& path, const uint32_t* words, int64_t count,
                   std::string& error) {
    // Little-endian whatever the host's byte order, in chunks.
    constexpr int64_t kChunkWords = 1 << 16;
    Bytes chunk;
    if (!AllocateBytes(chunk, kChunkWords * 4, path, error)) return false;
    OutputFile output;
    if (!output.Open(path, error)) return false;
    bool ok = true;
    for (int64_t start = 0; ok && start < count; start += kChunkWords) {
        const int64_t n = std::min(kChunkWords, count - start);
        for (int64_t i = 0; i < n; ++i) {
            const uint32_t w = words[start + i];
            chunk[i * 4 + 0] = static_cast<uint8_t>(w);
            chunk[i * 4 + 1] = static_cast<uint8_t>(w >> 8);
            chunk[i * 4 + 2] = static_cast<uint8_t>(w >> 16);
            chunk[i * 4 + 3] = static_cast<uint8_t>(w >> 24);
        }
        const size_t bytes = static_cast<size_t>(n) * 4;
        ok = std::fwrite(chunk.get(), 1, bytes, output.stream()) == bytes;
    }
    return output.Commit(ok, "", error);
}

bool WriteFramePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                   std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    Bytes rgb;
    if (!AllocateBytes(rgb, static_cast<size_t>(width) * static_cast<size_t>(height) * 3, path,
                       error)) {
        return false;
    }
    size_t out = 0;
    for (int32_t row = height - 1; row >= 0; --row) {  // row 0 is the bottom of the picture
        const uint32_t* line = pixels + static_cast<size_t>(row) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            rgb[out++] = static_cast<uint8_t>(line[x] >> 16);
            rgb[out++] = static_cast<uint8_t>(line[x] >> 8);
            rgb[out++] = static_cast<uint8_t>(line[x]);
        }
    }
    return WritePng(path, rgb.get(), width, height, false, error);
}

bool WriteHeightsPng(const std::string& path, const int32_t* heights, int32_t width, int32_t height,
                     std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const auto [low, high] = std::minmax_element(heights, heights + count);
    const int64_t range = static_cast<int64_t>(*high) - *low;
    Bytes grey;
    if (!AllocateBytes(grey, count, path, error)) return false;
    for (size_t i = 0; i < count; ++i) {
        grey[i] =
            range == 0
                ? 0
                : static_cast<uint8_t>((static_cast<int64_t>(heights[i]) - *low) * 255 / range);
    }
    return WritePng(path, grey.get(), width, height, true, error);
}

bool WriteColoursPng(const std::string& path, const uint32_t* colours, int32_t width,
                     int32_t height, std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    Bytes rgb;
    if (!AllocateBytes(rgb, count * 3, path, error)) return false;
    for (size_t i = 0; i < count; ++i) {
        rgb[i * 3 + 0] = static_cast<uint8_t>(colours[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(colours[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(colours[i]);
    }
    return WritePng(path, rgb.get(), width, height, false, error);
}

bool WriteFrame(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                std::string& error) {
    if (IsPngPath(path)) return WriteFramePng(path, pixels, width, height, error);
    return WriteRawWords(path, pixels, static_cast<int64_t>(width) * height, error);
}

bool WriteHeights(const std::string& path, const int32_t* heights, int32_t width, int32_t height,
                  std::string& error) {
    if (IsPngPath(path)) return WriteHeightsPng(path, heights, width, height, error);
    return WriteRawWords(path, reinterpret_cast<const uint32_t*>(heights),
                         static_cast<int64_t>(width) * height, error);
}

bool WriteColours(const std::string& path, const uint32_t* colours, int32_t width, int32_t height,
                  std::string& error) {
    if (IsPngPath(path)) return WriteColoursPng(path, colours, width, height, error);
    return WriteRawWords(path, colours, static_cast<int64_t>(width) * height, error);
}
