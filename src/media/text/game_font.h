#pragma once
// Bitmap fonts: characters cut from a grid image (an image resource), either
// all one width or each as wide as its glyph's alpha. A font may name others
// for bold, italic and underlined text. Text is drawn one line at a time with
// alignment, scaling and inline colour codes ("$" and eight hex digits).
#include <cstdint>

#include "script/object_model.h"

struct ResourceRecord;
struct Texture;

// Alignment flags of the text drawing.
enum TextAlign : uint32_t {
    kAlignCentreX = 1,
    kAlignCentreY = 2,
    kAlignRight = 4,
    kAlignBottom = 8,
};

// "$" followed by eight hexadecimal digits at p: the colour it names.
bool ReadColourCode(const char* p, uint32_t* colour);
constexpr int kColourCodeLength = 9;

// A scene-object class (class word "font").
class GameFont : public EObject {
public:
    class GameFont_Initializer : public EObject_Initializer {
    public:
        GameFont_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameFont();

    // Fixed width: every character char_w wide, cells image size / grid.
    // Neither set-up touches fixedWidth, which says how OnChanged redoes
    // the grid; the caller sets it.
    void Setup(ResourceRecord* image, const char* charset, int columns, int rows, int char_w, int char_h,
               int border_w, int border_h);
    // Proportional: a character per cell, widths measured from the alpha.
    void SetImage(ResourceRecord* image, const char* charset, int columns, int rows, int border_w,
                  int border_h);
    // Redoes the grid from the properties once the image is there.
    void OnChanged(uint32_t mask) override;
    void ComputeCharWidths();

    // The glyph of a character: its position in the charset (missing ones
    // take the blank's), or its code; -1 when there is none.
    int CharIndex(unsigned char c) const;
    // Glyph width + the border; the border may be any int a script set, so
    // the sums are taken in 64 bits and saturate to the int range.
    int GetCharWidth(unsigned char c) const;
    int GetStringWidth(const char* text) const;
    int LineHeight() const;
    // One line in the rectangle; returns the number of characters processed.
    int DrawString(const char* text, int x, int y, int w, int h, uint32_t flags, uint32_t colour, int size);

    // The font image's texture, loaded on demand; null when missing.
    Texture* ImageTexture() const;
    int Columns() const { return tilesPerW > 0 ? tilesPerW : 16; }
    int Rows() const { return tilesPerH > 0 ? tilesPerH : 16; }
    // Multiplier of every width and height at a drawing size (0: the font's own).
    float Scale(int size) const { return size != 0 && fontW > 0 ? float(size) / float(fontW) : 1.0f; }

    const char* charset = nullptr;  // interned
    int32_t fontW = 0;
    int32_t fontH = 0;
    uint32_t cellWidth = 0;
    uint32_t cellHeight = 0;
    int32_t tilesPerW = 0;
    int32_t tilesPerH = 0;
    ResourceRecord* font_image = nullptr;
    GameFont* bold_font = nullptr;
    GameFont* italic_font = nullptr;
    GameFont* underlined_font = nullptr;
    bool fixedWidth = false;
    uint16_t xOffsets[256] = {};
    uint8_t widths[256] = {};
    int32_t borderW = 0;
    int32_t borderH = 0;

private:
    void StoreGrid(ResourceRecord* image, const char* set, int columns, int rows, int border_w, int border_h);
    void FixedGrid();
};

// Draws characters of a base font and the fonts it switches to (which share
// the base image's size) in one batch: render mode 25, the colour, point
// filtering at the font's own size; the destructor flushes and restores
// linear filtering.
class GlyphWriter {
public:
    GlyphWriter(GameFont* base, uint32_t colour, int size);
    ~GlyphWriter();
    GlyphWriter(const GlyphWriter&) = delete;
    GlyphWriter& operator=(const GlyphWriter&) = delete;

    // False without a device or without the base font's image.
    bool Ok() const { return image_ != nullptr; }
    float Scale() const { return scale_; }
    float LineHeight() const;
    void SetColour(uint32_t colour);
    // Null returns to the base font; a font without an image is not taken.
    void UseFont(GameFont* font);
    // Draws the character with its top-left at (x, y); returns its advance.
    float Put(unsigned char c, float x, float y);

private:
    GameFont* base_;
    GameFont* font_;
    Texture* image_ = nullptr;       // the base font's
    Texture* font_image_ = nullptr;  // the current font's
    float scale_ = 1.0f;
    bool point_ = false;
};
