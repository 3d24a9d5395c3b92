#include "render/ImageWriter.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool WritePng(const std::string& path, const std::vector<uint8_t>& bytes, int32_t width,
              int32_t height, bool grey, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr) == 0) {
        error = "cannot write " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
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
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    // Little-endian whatever the host's byte order, in chunks.
    std::vector<uint8_t> chunk;
    bool ok = true;
    constexpr int64_t kChunkWords = 1 << 16;
    for (int64_t start = 0; ok && start < count; start += kChunkWords) {
        const int64_t n = std::min(kChunkWords, count - start);
        chunk.resize(static_cast<size_t>(n) * 4);
        for (int64_t i = 0; i < n; ++i) {
            const uint32_t w = words[start + i];
            chunk[i * 4 + 0] = static_cast<uint8_t>(w);
            chunk[i * 4 + 1] = static_cast<uint8_t>(w >> 8);
            chunk[i * 4 + 2] = static_cast<uint8_t>(w >> 16);
            chunk[i * 4 + 3] = static_cast<uint8_t>(w >> 24);
        }
        ok = std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
    }
    if (std::fclose(file) != 0) ok = false;
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

bool WriteFramePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                   std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    size_t out = 0;
    for (int32_t row = height - 1; row >= 0; --row) {  // row 0 is the bottom of the picture
        const uint32_t* line = pixels + static_cast<size_t>(row) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            rgb[out++] = static_cast<uint8_t>(line[x] >> 16);
            rgb[out++] = static_cast<uint8_t>(line[x] >> 8);
            rgb[out++] = static_cast<uint8_t>(line[x]);
        }
    }
    return WritePng(path, rgb, width, height, false, error);
}

bool WriteHeightsPng(const std::string& path, const int32_t* heights, int32_t width, int32_t height,
                     std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const auto [low, high] = std::minmax_element(heights, heights + count);
    const int64_t range = static_cast<int64_t>(*high) - *low;
    std::vector<uint8_t> grey(count);
    for (size_t i = 0; i < count; ++i) {
        grey[i] =
            range == 0
                ? 0
                : static_cast<uint8_t>((static_cast<int64_t>(heights[i]) - *low) * 255 / range);
    }
    return WritePng(path, grey, width, height, true, error);
}

bool WriteColoursPng(const std::string& path, const uint32_t* colours, int32_t width,
                     int32_t height, std::string& error) {
    if (!SizeOk(width, height, path, error)) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> rgb(count * 3);
    for (size_t i = 0; i < count; ++i) {
        rgb[i * 3 + 0] = static_cast<uint8_t>(colours[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(colours[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(colours[i]);
    }
    return WritePng(path, rgb, width, height, false, error);
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
