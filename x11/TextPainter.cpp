#include "x11/TextPainter.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>

namespace {

// The file and face index of the font fontconfig picks for sans-serif text.
bool FindFont(std::string& file, int& index) {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (config == nullptr) return false;
    bool found = false;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (pattern != nullptr) {
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        if (match != nullptr) {
            FcChar8* path = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr) {
                file = reinterpret_cast<const char*>(path);
                if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
                found = true;
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

// Each colour channel of `under` moved toward `colour` by coverage / 255; the
// top byte (alpha or X) is kept.
uint32_t Mix(uint32_t under, uint32_t colour, uint32_t coverage) {
    uint32_t out = under & 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t a = (under >> shift) & 0xFFu;
        const uint32_t b = (colour >> shift) & 0xFFu;
        out |= ((a * (255u - coverage) + b * coverage + 127u) / 255u) << shift;
    }
    return out;
}

}  // namespace

TextPainter::~TextPainter() {
    if (face_ != nullptr) FT_Done_Face(face_);
    if (library_ != nullptr) FT_Done_FreeType(library_);
}

bool TextPainter::Open(int32_t pixelSize) {
    if (face_ != nullptr || pixelSize <= 0) return face_ != nullptr;
    std::string file;
    int index = 0;
    if (!FindFont(file, index)) return false;
    if (FT_Init_FreeType(&library_) != 0) {
        library_ = nullptr;
        return false;
    }
    if (FT_New_Face(library_, file.c_str(), index, &face_) != 0) {
        face_ = nullptr;
        return false;
    }
    if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        FT_Done_Face(face_);
        face_ = nullptr;
        return false;
    }
    // 26.6 fixed point, rounded up to whole pixels.
    ascent_ = static_cast<int32_t>((face_->size->metrics.ascender + 63) >> 6);
    return true;
}

void TextPainter::Draw(uint32_t* pixels, int32_t width, int32_t height, size_t stride,
                       const char* text, int32_t x, int32_t y, uint32_t colour) const {
    if (face_ == nullptr || pixels == nullptr || text == nullptr || width <= 0 || height <= 0) {
        return;
    }
    colour &= 0xFFFFFFu;
    // Pen position in 26.6 pixels; the baseline lies `ascent_` below y.
    int64_t penX = static_cast<int64_t>(x) * 64;
    const int64_t baseline = static_cast<int64_t>(y) + ascent_;
    FT_UInt previous = 0;
    const bool kerning = FT_HAS_KERNING(face_) != 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const FT_ULong code = static_cast<unsigned char>(*p);
        const FT_UInt glyph = FT_Get_Char_Index(face_, code);
        if (kerning && previous != 0 && glyph != 0) {
            FT_Vector delta{};
            if (FT_Get_Kerning(face_, previous, glyph, FT_KERNING_DEFAULT, &delta) == 0) {
                penX += delta.x;
            }
        }
        previous = glyph;
        if (FT_Load_Glyph(face_, glyph, FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot slot = face_->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer != nullptr) {
            const int64_t left = ((penX + 32) >> 6) + slot->bitmap_left;
            const int64_t top = baseline - slot->bitmap_top;
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                const int64_t py = top + row;
                if (py < 0 || py >= height) continue;
                const unsigned char* coverage =
                    bitmap.buffer + static_cast<int64_t>(row) * bitmap.pitch;
                uint32_t* out = pixels + static_cast<size_t>(py) * stride;
                for (unsigned column = 0; column < bitmap.width; ++column) {
                    const int64_t px = left + column;
                    if (px < 0 || px >= width || coverage[column] == 0) continue;
                    out[px] = Mix(out[px], colour, coverage[column]);
                }
            }
        }
        penX += slot->advance.x;
    }
}
