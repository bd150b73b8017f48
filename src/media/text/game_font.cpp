#include "media/text/game_font.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "base/log.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/render_device.h"

namespace {

constexpr uint32_t kTextMode = RM_TEXTURED | RM_PRETRANSFORMED | RM_ALPHA_BLEND;  // 25

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A character width as the one byte the font keeps for it.
uint8_t WidthByte(int64_t w) {
    return static_cast<uint8_t>(std::clamp<int64_t>(w, 0, 255));
}

void SetPointFilter(RenderDevice* device, bool point) {
    device->SetTextureFilter(0, 0, point ? 0 : 1);
    device->SetTextureFilter(0, 1, point ? 0 : 1);
}

}  // namespace

bool ReadColourCode(const char* p, uint32_t* colour) {
    if (!p || p[0] != '$') return false;
    uint32_t v = 0;
    for (int i = 1; i < kColourCodeLength; ++i) {
        const int d = HexDigit(p[i]);  // stops at the terminator too
        if (d < 0) return false;
        v = (v << 4) | uint32_t(d);
    }
    if (colour) *colour = v;
    return true;
}

ClassDescriptor GameFont::s_descriptor;

namespace {
GameFont::GameFont_Initializer g_font_initializer;
}  // namespace

GameFont::GameFont_Initializer::GameFont_Initializer() : EObject_Initializer(&GameFont::s_descriptor) {}

EObject* GameFont::GameFont_Initializer::Create() {
    void* block = GameFont::operator new(sizeof(GameFont));
    return block ? ::new (block) GameFont() : nullptr;
}

void GameFont::GameFont_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameFont::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&EObject::name));
    d.AddProperty("charset", kPropertyString, ObjectFieldOffset(&GameFont::charset));
    d.AddProperty("fontW", kPropertyInt, ObjectFieldOffset(&GameFont::fontW));
    d.AddProperty("fontH", kPropertyInt, ObjectFieldOffset(&GameFont::fontH));
    d.AddProperty("tilesPerW", kPropertyInt, ObjectFieldOffset(&GameFont::tilesPerW));
    d.AddProperty("tilesPerH", kPropertyInt, ObjectFieldOffset(&GameFont::tilesPerH));
    d.AddProperty("font_image", kPropertyImage, ObjectFieldOffset(&GameFont::font_image));
    d.AddObjectReference("bold_font", "font", ObjectFieldOffset(&GameFont::bold_font));
    d.AddObjectReference("italic_font", "font", ObjectFieldOffset(&GameFont::italic_font));
    d.AddObjectReference("underlined_font", "font", ObjectFieldOffset(&GameFont::underlined_font));
    d.AddProperty("fixedWidth", kPropertyBool, ObjectFieldOffset(&GameFont::fixedWidth));
    d.AddProperty("borderW", kPropertyInt, ObjectFieldOffset(&GameFont::borderW));
    d.AddProperty("borderH", kPropertyInt, ObjectFieldOffset(&GameFont::borderH));
    d.AddConstant("class", "font");
}

GameFont::GameFont() : EObject(&s_descriptor) {}

Texture* GameFont::ImageTexture() const {
    Texture* t = font_image ? Resources().GetImage(font_image) : nullptr;
    return t && t->device_texture && t->width > 0 && t->height > 0 ? t : nullptr;
}

// Every character fontW wide at the start of its grid cell.
void GameFont::FixedGrid() {
    const int columns = Columns();
    for (int c = 0; c < 256; ++c) {
        widths[c] = static_cast<uint8_t>(fontW);  // its low byte
        xOffsets[c] = static_cast<uint16_t>(uint32_t(c % columns) * cellWidth);
    }
}

void GameFont::StoreGrid(ResourceRecord* image, const char* set, int columns, int rows, int border_w,
                         int border_h) {
    font_image = image;
    charset = set;
    tilesPerW = columns;
    tilesPerH = rows;
    borderW = border_w;
    borderH = border_h;
}

void GameFont::Setup(ResourceRecord* image, const char* set, int columns, int rows, int char_w, int char_h,
                     int border_w, int border_h) {
    StoreGrid(image, set, columns, rows, border_w, border_h);
    fontW = char_w;
    fontH = char_h;
    const Texture* t = ImageTexture();
    cellWidth = t ? uint32_t(t->width / Columns()) : 0;
    cellHeight = t ? uint32_t(t->height / Rows()) : 0;
    FixedGrid();
}

void GameFont::SetImage(ResourceRecord* image, const char* set, int columns, int rows, int border_w,
                        int border_h) {
    StoreGrid(image, set, columns, rows, border_w, border_h);
    const Texture* t = ImageTexture();
    if (!t) {
        fontW = fontH = 32;
        return;
    }
    cellWidth = uint32_t(t->width / Columns());
    cellHeight = uint32_t(t->height / Rows());
    fontW = int32_t(cellWidth);
    fontH = int32_t(cellHeight);
    ComputeCharWidths();
}

void GameFont::OnChanged(uint32_t) {
    const Texture* t = ImageTexture();
    if (!t) return;
    if (tilesPerW == 0) tilesPerW = 16;
    if (tilesPerH == 0) tilesPerH = 16;
    cellWidth = uint32_t(t->width / Columns());
    cellHeight = uint32_t(t->height / Rows());
    if (!fixedWidth) {
        fontW = int32_t(cellWidth);
        fontH = int32_t(cellHeight);
        ComputeCharWidths();
    } else {
        FixedGrid();
    }
}

void GameFont::ComputeCharWidths() {
    Texture* t = ImageTexture();
    if (!t || fontW <= 0 || fontH <= 0) return;
    ImageData image;
    if (!t->ReadPixels(image) || image.bits != kImageArgb || !image.pixels) {
        LogPrintf("[ERROR] - FONT : %s (the font image has no alpha to measure)", name ? name : "");
        return;
    }
    const uint8_t empty = WidthByte(int64_t(fontW / 3) - borderW);
    const uint32_t w = uint32_t(fontW), h = uint32_t(fontH);
    const uint32_t columns = uint32_t(Columns()), rows = uint32_t(Rows());
    auto alpha = [&](uint32_t x, uint32_t y) { return image.pixels[(size_t(y) * image.width + x) * 4 + 3]; };
    for (uint32_t k = 0; k < 256; ++k) {
        const uint32_t cx = (k % columns) * w, cy = (k / columns) * h;
        xOffsets[k] = 0;
        widths[k] = empty;
        if (k / columns >= rows || cx + w > image.width || cy + h > image.height) continue;
        auto column_used = [&](uint32_t x) {
            for (uint32_t y = cy; y < cy + h; ++y)
                if (alpha(x, y)) return true;
            return false;
        };
        uint32_t first = cx;
        while (first < cx + w && !column_used(first)) ++first;
        if (first == cx + w) continue;  // an empty cell
        uint32_t end = first + 1;
        while (end < cx + w && column_used(end)) ++end;
        xOffsets[k] = static_cast<uint16_t>(first);
        widths[k] = WidthByte(int(end - first + 1));
    }
    xOffsets[32] = 0;
    widths[32] = empty;
}

int GameFont::CharIndex(unsigned char c) const {
    if (!charset) return c;
    const char* hit = c ? std::strchr(charset, c) : nullptr;
    if (!hit) hit = std::strchr(charset, ' ');
    if (!hit) return -1;
    const ptrdiff_t i = hit - charset;
    return i < 256 ? int(i) : -1;  // a charset has 256 glyphs at most
}

int GameFont::GetCharWidth(unsigned char c) const {
    const int i = CharIndex(c);
    return SaturateToInt(int64_t(i >= 0 ? widths[i] : 0) + borderW);
}

int GameFont::GetStringWidth(const char* text) const {
    int64_t width = 0;
    for (const char* p = text; p && *p; ++p) width += GetCharWidth(static_cast<unsigned char>(*p));
    return SaturateToInt(width);
}

int GameFont::LineHeight() const {
    return SaturateToInt(int64_t(borderH) + fontH);
}

int GameFont::DrawString(const char* text, int x, int y, int w, int h, uint32_t flags, uint32_t colour,
                         int size) {
    if (!text) return 0;
    GlyphWriter pen(this, colour, size);
    if (!pen.Ok()) return 0;
    const float line = pen.LineHeight();
    float py = float(y);
    if (flags & kAlignCentreY)
        py = float(y) + float(h) / 2 - line / 2;
    else if (flags & kAlignBottom)
        py = float(int64_t(y) + h) - line;
    const float width = float(GetStringWidth(text)) * pen.Scale();
    float px = float(x);
    if (flags & kAlignCentreX)
        px = float(x) + float(w) / 2 - width / 2;
    else if (flags & kAlignRight)
        px = float(int64_t(x) + w) - width;
    // Whole pixels, so glyphs at the font's own size map texel to pixel.
    px = std::floor(px);
    py = std::floor(py);
    int i = 0;
    while (text[i]) {
        uint32_t c;
        if (ReadColourCode(text + i, &c)) {
            pen.SetColour(c);
            i += kColourCodeLength;
            continue;
        }
        px += pen.Put(static_cast<unsigned char>(text[i]), px, py);
        ++i;
    }
    return i;
}

GlyphWriter::GlyphWriter(GameFont* base, uint32_t colour, int size) : base_(base), font_(base) {
    RenderDevice* device = g_renderDevice;
    if (!device || !base) return;
    image_ = font_image_ = base->ImageTexture();
    if (!image_) return;
    scale_ = base->Scale(size);
    point_ = size == 0 || size == base->fontW;
    device->SetRenderMode(kTextMode, colour);
    device->SetTexture(0, image_->device_texture);
    if (point_) SetPointFilter(device, true);
}

GlyphWriter::~GlyphWriter() {
    RenderDevice* device = g_renderDevice;
    if (!image_ || !device) return;
    device->FlushBatch();
    SetPointFilter(device, false);
}

float GlyphWriter::LineHeight() const {
    return float(base_->LineHeight()) * scale_;
}

void GlyphWriter::SetColour(uint32_t colour) {
    if (!image_) return;
    g_renderDevice->FlushBatch();
    g_renderDevice->SetRenderMode(kTextMode, colour);
}

void GlyphWriter::UseFont(GameFont* font) {
    if (!image_) return;
    if (!font) font = base_;
    Texture* t = font->ImageTexture();
    if (!t || font == font_) return;
    font_ = font;
    font_image_ = t;
    g_renderDevice->SetTexture(0, t->device_texture);
}

float GlyphWriter::Put(unsigned char c, float x, float y) {
    const GameFont& f = *font_;
    const int index = f.CharIndex(c);
    const int width = index >= 0 ? f.widths[index] : 0;
    const float advance = float(int64_t(width) + f.borderW) * scale_;
    if (!image_ || c <= 32 || index < 0 || width == 0) return advance;
    const TextureRecord* rec = font_image_->device_texture;
    // Texture coordinates against the base image, which bold and italic
    // fonts share in size.
    float su = 1.0f / float(image_->width), sv = 1.0f / float(image_->height);
    if (rec->rescaled && rec->allocatedWidth > 0 && rec->allocatedHeight > 0) {
        su *= float(rec->width) / float(rec->allocatedWidth);
        sv *= float(rec->height) / float(rec->allocatedHeight);
    }
    const float top = float(uint32_t(index / f.Columns()) * f.cellHeight);
    const float u0 = float(f.xOffsets[index]) * su, u1 = float(f.xOffsets[index] + width) * su;
    const float v0 = top * sv, v1 = (top + float(f.fontH)) * sv;
    // Pixel centres lie half a pixel in, as in every pre-transformed quad.
    const float l = x - 0.5f, r = x + float(width) * scale_ - 0.5f;
    const float tp = y - 0.5f, b = y + float(f.fontH) * scale_ - 0.5f;
    const ScreenTexVertex v[6] = {{l, tp, 0, 1, u0, v0}, {r, tp, 0, 1, u1, v0}, {l, b, 0, 1, u0, v1},
                                  {r, tp, 0, 1, u1, v0}, {r, b, 0, 1, u1, v1},  {l, b, 0, 1, u0, v1}};
    g_renderDevice->SetVertexArray(v, sizeof(ScreenTexVertex));
    g_renderDevice->SetTexCoordArray(&v[0].u, sizeof(ScreenTexVertex));
    g_renderDevice->DrawImmediate(6);
    return advance;
}
