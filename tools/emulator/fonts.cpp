#include "fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cstdlib>

namespace vdlemu {

namespace fontfile {
const char *const kTerminus = "/usr/share/fonts/opentype/terminus/terminus-normal.otb";
const char *const kTerminusBold = "/usr/share/fonts/opentype/terminus/terminus-bold.otb";
const char *const kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const kSansBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char *const kSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
const char *const kSerifBold = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
const char *const kMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const char *const kMonoBold = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
const char *const kCjk = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
const char *const kThai = "/usr/share/fonts/truetype/tlwg/Garuda.ttf";
}  // namespace fontfile

namespace {

constexpr int kGreyThreshold = 128;  // outline glyphs are rendered in grey, then cut to black and white
constexpr FT_Pos kItalicShear = 0x3000;  // about 0.19: the slant of a synthetic italic
constexpr std::size_t kMaxGlyphs = 2048;  // characters drawn of one text (zero-width marks never fill the line)

// Chooses the face's strike nearest the wanted pixel height.
void selectStrike(FT_Face face, int pixelHeight) {
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i) {
        if (std::abs(face->available_sizes[i].height - pixelHeight) <
            std::abs(face->available_sizes[best].height - pixelHeight))
            best = i;
    }
    FT_Select_Size(face, best);
}

void sizeFace(FT_Face face, const TextStyle &style) {
    if (!FT_IS_SCALABLE(face)) {
        selectStrike(face, style.strike > 0 ? style.strike : style.pixelHeight);
        return;
    }
    const int height = style.pixelHeight > 0 ? style.pixelHeight : style.strike;
    const int width = style.pixelWidth > 0 ? style.pixelWidth : height;
    FT_Set_Pixel_Sizes(face, FT_UInt(std::max(width, 1)), FT_UInt(std::max(height, 1)));
    FT_Matrix shear = {0x10000, kItalicShear, 0, 0x10000};
    FT_Set_Transform(face, style.italic ? &shear : nullptr, nullptr);
}

// Loads and renders one glyph in the face's slot; false when it has none.
bool renderGlyph(FT_Face face, FT_UInt index, const TextStyle &style) {
    if (!FT_IS_SCALABLE(face))
        return FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO) == 0;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0) return false;
    if (style.emboldened && face->glyph->format == FT_GLYPH_FORMAT_OUTLINE)
        FT_Outline_Embolden(&face->glyph->outline, face->size->metrics.y_ppem * 4);  // 1/16 em, in 26.6
    return FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0;
}

bool glyphPixel(const FT_Bitmap &bitmap, unsigned x, unsigned y) {
    const unsigned char *row = bitmap.buffer + std::ptrdiff_t(y) * bitmap.pitch;
    if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) return (row[x / 8] >> (7 - x % 8)) & 1;
    return row[x] >= kGreyThreshold;
}

struct PlacedGlyph {
    FT_Face face;
    FT_UInt index;
    int penX;
    int penY;  // the baseline of the glyph's cell
};

}  // namespace

FontLibrary::FontLibrary() { FT_Init_FreeType(&library_); }

FontLibrary::~FontLibrary() {
    for (auto &entry : faces_)
        if (entry.second != nullptr) FT_Done_Face(entry.second);
    if (library_ != nullptr) FT_Done_FreeType(library_);
}

FT_Face FontLibrary::face(const std::string &path, std::vector<std::string> &missing) {
    auto found = faces_.find(path);
    if (found == faces_.end()) {
        FT_Face opened = nullptr;
        if (library_ == nullptr || FT_New_Face(library_, path.c_str(), 0, &opened) != 0) opened = nullptr;
        found = faces_.emplace(path, opened).first;
    }
    if (found->second == nullptr) missing.push_back(path);
    return found->second;
}

TextImage FontLibrary::render(const std::vector<char32_t> &text, const TextStyle &style) {
    TextImage image;
    std::vector<FT_Face> faces;
    for (const std::string &path : style.faces)
        if (FT_Face f = face(path, image.missingFonts)) faces.push_back(f);
    if (faces.empty()) return image;
    for (FT_Face f : faces) sizeFace(f, style);

    // The first face sets the line: its ascent and descent make the cell.
    const FT_Size_Metrics &metrics = faces.front()->size->metrics;
    const int ascent = int(metrics.ascender >> 6);
    const int lineHeight = std::max(int((metrics.ascender - metrics.descender) >> 6), 1);
    const int cellWidth = std::max(int(metrics.max_advance >> 6), 1);

    // Room for slanted and emboldened strokes that reach past the advance.
    const int slack = style.italic || style.emboldened ? lineHeight / 4 : 0;
    // The line is cut where its image would pass kMaxTextDots.
    const int64_t across = int64_t(style.vertical ? cellWidth : lineHeight) + slack;
    const int64_t maxExtent = std::min<int64_t>(kMaxTextExtent, kMaxTextDots / across - slack);

    std::vector<PlacedGlyph> placed;
    int pen = 0;
    int extent = 0;
    for (char32_t c : text) {
        if (c < 0x20) continue;
        FT_Face chosen = faces.front();
        FT_UInt index = 0;
        for (FT_Face f : faces) {
            index = FT_Get_Char_Index(f, c);
            if (index != 0) {
                chosen = f;
                break;
            }
        }
        if (FT_Load_Glyph(chosen, index, FT_LOAD_DEFAULT) != 0) continue;
        const int advance = style.vertical ? lineHeight : int(chosen->glyph->advance.x >> 6);
        if (pen + advance > maxExtent || placed.size() == kMaxGlyphs) break;
        placed.push_back(style.vertical ? PlacedGlyph{chosen, index, 0, pen + ascent} : PlacedGlyph{chosen, index, pen, ascent});
        extent = pen + advance;
        pen = std::max(pen + advance + style.spacing, 0);
    }

    image.baseline = ascent;
    image.sprite = style.vertical ? Sprite(cellWidth + slack, std::max(extent, 1))
                                  : Sprite(std::max(extent, 1) + slack, lineHeight);
    for (const PlacedGlyph &glyph : placed) {
        if (!renderGlyph(glyph.face, glyph.index, style)) continue;
        const FT_GlyphSlot slot = glyph.face->glyph;
        const FT_Bitmap &bitmap = slot->bitmap;
        const int left = glyph.penX + slot->bitmap_left;
        const int top = glyph.penY - slot->bitmap_top;
        for (unsigned y = 0; y < bitmap.rows; ++y) {
            for (unsigned x = 0; x < bitmap.width; ++x) {
                const int px = left + int(x);
                const int py = top + int(y);
                if (px < 0 || py < 0 || px >= image.sprite.width || py >= image.sprite.height) continue;
                if (glyphPixel(bitmap, x, y)) image.sprite.set(px, py);
            }
        }
    }
    for (FT_Face f : faces) FT_Set_Transform(f, nullptr, nullptr);
    return image;
}

}  // namespace vdlemu
