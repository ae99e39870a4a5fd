// Text to one-bit pixels with FreeType: the device fonts (a bitmap font, or a
// CJK outline font rendered without grey levels) and the vector fonts.
#ifndef VDL_EMULATOR_FONTS_H
#define VDL_EMULATOR_FONTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "canvas.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace vdlemu {

struct TextStyle {
    // Font files in order of preference; a character comes from the first
    // that has it (the CJK and Thai fonts stand in for what the first lacks).
    std::vector<std::string> faces;
    int strike = -1;          // bitmap fonts: the pixel height of the strike to use
    int pixelWidth = 0;       // outline fonts: the em size in pixels
    int pixelHeight = 0;
    bool emboldened = false;  // outline fonts: thicken the strokes
    bool italic = false;      // outline fonts: slant
    int spacing = 0;          // extra pixels after each character
    bool vertical = false;    // characters stacked top to bottom
};

struct TextImage {
    Sprite sprite;
    int baseline = 0;             // row of the baseline in the sprite
    std::vector<std::string> missingFonts;  // font files that could not be opened
};

class FontLibrary {
public:
    FontLibrary();
    ~FontLibrary();
    FontLibrary(const FontLibrary &) = delete;
    FontLibrary &operator=(const FontLibrary &) = delete;

    // Lays out one line of text; lines wider (or, vertical, taller) than
    // kMaxTextExtent pixels, longer than 2048 characters, or whose image
    // would pass kMaxTextDots (as many as the largest paper), are cut there.
    TextImage render(const std::vector<char32_t> &text, const TextStyle &style);

    static constexpr int kMaxTextExtent = 16384;
    static constexpr int64_t kMaxTextDots = int64_t(6000) * 6000;

private:
    FT_FaceRec_ *face(const std::string &path, std::vector<std::string> &missing);

    FT_LibraryRec_ *library_ = nullptr;
    std::map<std::string, FT_FaceRec_ *> faces_;  // null for files that failed to open
};

// The font files the emulator draws with (Debian's packages).
namespace fontfile {
extern const char *const kTerminus;       // fonts-terminus-otb: the bitmap device fonts
extern const char *const kTerminusBold;
extern const char *const kSans;           // fonts-dejavu-core: the vector fonts
extern const char *const kSansBold;
extern const char *const kSerif;
extern const char *const kSerifBold;
extern const char *const kMono;
extern const char *const kMonoBold;
extern const char *const kCjk;            // fonts-wqy-zenhei: Korean, Chinese, Japanese
extern const char *const kThai;           // fonts-tlwg-garuda-ttf
}  // namespace fontfile

}  // namespace vdlemu

#endif
