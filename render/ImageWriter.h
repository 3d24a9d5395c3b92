// ImageWriter.h - writes frames and land maps as PNG pictures or raw words.
//
// Raw files hold the 32-bit words exactly as they lie in memory, each as four
// little-endian bytes, in memory order (frame row 0, the bottom row, first;
// maps row-major). PNG pictures are 8-bit RGB or greyscale and the right way
// up: the frame's row 0 becomes the picture's last row.
//
// Every writer returns false (and sets `error` to one line) when the file
// cannot be written, its memory included; a failed write leaves the
// destination as it was (see render/OutputFile.h).
#pragma once

#include <cstdint>
#include <string>

// True when `path` ends in ".png" (any letter case).
bool IsPngPath(const std::string& path);

bool WriteRawWords(const std::string& path, const uint32_t* words, int64_t count,
                   std::string& error);

// Frame pixels 0xAARRGGBB, row 0 at the bottom; alpha is dropped.
bool WriteFramePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                   std::string& error);
// Heights scaled from their lowest (black) to their highest (white) value.
bool WriteHeightsPng(const std::string& path, const int32_t* heights, int32_t width, int32_t height,
                     std::string& error);
// Colour cells 0x..RRGGBB as RGB, row 0 first.
bool WriteColoursPng(const std::string& path, const uint32_t* colours, int32_t width,
                     int32_t height, std::string& error);

// The three outputs as the command line asks: PNG for .png paths, else raw.
bool WriteFrame(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                std::string& error);
bool WriteHeights(const std::string& path, const int32_t* heights, int32_t width, int32_t height,
                  std::string& error);
bool WriteColours(const std::string& path, const uint32_t* colours, int32_t width, int32_t height,
                  std::string& error);
