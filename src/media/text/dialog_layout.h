#pragma once
// Word-wrapped text with inline codes, in lines and pages: "<n>" ends a
// line, "<p>" a page, "<b>", "<i>" and "</b>", "</i>" switch to the bold or
// italic font and back, "<$AARRGGBB>" changes the colour, and any other
// "<name>" ... "</name>" marks a named element whose place and text can be
// asked for.
#include <cstdint>

#include "base/string_pool.h"

class GameFont;
struct Rect;

class DialogLayout {
public:
    static constexpr int kMaxLines = 1024;
    static constexpr int kMaxPages = 256;
    static constexpr int kMaxElements = 32;
    static constexpr int kMaxLineLength = 4095;

    struct Line {
        const char* text;  // pooled, or kPageBreak
        float width;
    };
    struct PageSize {
        int16_t width;
        int16_t height;
    };
    struct Element {
        const char* name;  // pooled
        const char* text;  // pooled; null until the element is closed
        uint16_t start_line;
        uint16_t end_line;
        int16_t start_offset;
        int16_t end_offset;
    };

    // The text of a line that ends a page.
    static const char* const kPageBreak;

    DialogLayout() = default;
    DialogLayout(const DialogLayout&) = delete;
    DialogLayout& operator=(const DialogLayout&) = delete;

    // Lays the text out into lines of at most width pixels and pages of
    // height pixels (0: page 1's size; a size of 0 does not limit); returns
    // the line count.
    int Parse(GameFont* font, const char* text, int width, int height, int size);
    // Lays out the text when one is given (then all its lines are drawn),
    // and draws count lines from the first (negative: all that remain).
    void Draw(GameFont* font, const char* text, const Rect& rect, uint32_t flags, uint32_t colour, int size,
              int first, int count);
    // The element of exactly that name, or null.
    const Element* FindElement(const char* name) const;

    // Page entries: 0 is the default for pages without a size.
    void SetPageSize(int index, int width, int height);
    void ClearPageSizes();

    int LineCount() const { return line_count_; }
    int PageCount() const { return page_count_; }
    int ElementCount() const { return element_count_; }
    const Line& GetLine(int i) const { return lines_[i]; }
    const Element& GetElement(int i) const { return elements_[i]; }
    const PageSize& GetPageSize(int i) const { return pages_[i]; }
    const char* LastText() const { return last_text_; }

private:
    friend class DialogParser;

    StringPool pool_;
    Line lines_[kMaxLines] = {};
    PageSize pages_[kMaxPages] = {};
    Element elements_[kMaxElements] = {};
    int line_count_ = 0;
    int element_count_ = 0;
    int page_count_ = 0;
    const char* last_text_ = nullptr;
};
