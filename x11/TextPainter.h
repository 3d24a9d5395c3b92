// TextPainter.h - lines of text drawn into 32-bit pixels with FreeType, in a
// font that fontconfig finds.
//
// The Wayland saver has no server-side font: its progress texts and messages
// are drawn into its shared-memory buffers here. Open asks fontconfig for a
// sans-serif font (DejaVu Sans on Debian) and FreeType opens it at a pixel
// size; Draw paints only the glyphs, each pixel mixed toward the colour by the
// glyph's coverage (anti-aliased), so redrawing a text in another colour
// recolours it. Texts are ASCII or Latin-1 bytes, one line. Without a font
// (none found, FreeType failing) Draw does nothing.
//
// One per process, shared by every surface; not thread-safe. Used by
// x11/WaylandPlatform.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

struct FT_LibraryRec_;
struct FT_FaceRec_;

class TextPainter {
public:
    TextPainter() = default;
    ~TextPainter();
    TextPainter(const TextPainter&) = delete;
    TextPainter& operator=(const TextPainter&) = delete;

    // Finds and opens the font at `pixelSize` pixels; false when there is none.
    bool Open(int32_t pixelSize);
    bool IsOpen() const { return face_ != nullptr; }
    // Pixels from the top of a line to its baseline.
    int32_t Ascent() const { return ascent_; }

    // Draws `text` with the top left of its line at (x, y) into `pixels`
    // (height rows of width words, `stride` words apart, 0x00RRGGBB), clipped
    // to them, in `colour` (0x00RRGGBB).
    void Draw(uint32_t* pixels, int32_t width, int32_t height, size_t stride, const char* text,
              int32_t x, int32_t y, uint32_t colour) const;

private:
    FT_LibraryRec_* library_ = nullptr;
    FT_FaceRec_* face_ = nullptr;
    int32_t ascent_ = 0;
};
