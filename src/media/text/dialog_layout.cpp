#include "media/text/dialog_layout.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "base/text.h"
#include "media/text/game_font.h"

const char* const DialogLayout::kPageBreak = "<p>";

namespace {
bool IsBreakChar(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

bool TagIs(const char* tag, size_t n, const char* word) {
    return std::strlen(word) == n && std::memcmp(tag, word, n) == 0;
}
}  // namespace

// One run of DialogLayout::Parse.
class DialogParser {
public:
    DialogParser(DialogLayout& d, GameFont& font, const char* text, int width, int height, int size)
        : d_(d), font_(font), text_(text) {
        scale_ = font.Scale(size);
        line_height_ = float(font.LineHeight()) * scale_;
        first_width_ = width ? width : d.pages_[0].width;
        first_height_ = height ? height : d.pages_[0].height;
        SetLimits(first_width_, first_height_);
    }

    void Run() {
        size_t i = 0;
        bool line_start = true;
        while (!full_) {
            const char c = text_[i];
            // Blanks and line ends at the start of a line are skipped.
            if (line_start && c && IsBreakChar(c)) {
                ++i;
                continue;
            }
            line_start = false;
            if (!c || IsBreakChar(c)) {
                if (x_ <= width_limit_) {
                    if (len_ > 0) {
                        has_break_ = true;
                        break_pos_ = c ? i + 1 : i;
                        break_len_ = len_;
                        break_x_ = x_;
                    }
                } else {
                    line_start = true;
                    if (EndLine(&i)) continue;  // cut at the last break: go on from there
                    if (!c) break;
                    ++i;
                    continue;
                }
                if (!c) break;
                pending_blank_ = true;
                ++i;
                continue;
            }
            // Room for a blank and the longest code: otherwise the line ends here.
            if (len_ + 1 + kColourCodeLength > DialogLayout::kMaxLineLength) {
                line_start = true;
                EndLine(&i);
                continue;
            }
            if (c == '<') {
                // A tag runs to the next '>'; a '<' before it makes this one plain text.
                const char* end = std::strpbrk(text_ + i + 1, "<>");
                if (end && *end == '>') {
                    const size_t next = size_t(end - text_) + 1;
                    if (Tag(text_ + i + 1, size_t(end - text_) - i - 1, &i, next)) line_start = true;
                    continue;
                }
            }
            Append(&c, 1, float(font_.GetCharWidth(static_cast<unsigned char>(c))) * scale_);
            ++i;
        }
        if (!full_ && len_ > 0) EndLine(&i);
    }

private:
    void SetLimits(float w, float h) {
        width_limit_ = w > 0 ? w : std::numeric_limits<float>::infinity();
        height_limit_ = h;
    }

    // Handles the tag; *pos moves past it or, when the line was cut at an
    // earlier break, back to that break. True when a new line starts.
    bool Tag(const char* tag, size_t n, size_t* pos, size_t next) {
        const bool page = TagIs(tag, n, "p");
        if (page || TagIs(tag, n, "n")) {
            // Both end the line, an empty one too.
            if (EndLine(pos)) return true;  // the tag comes round again
            *pos = next;
            if (page) PageBreak();
            return true;
        }
        *pos = next;
        uint32_t colour;
        if (n > 0 && tag[0] == '$') {
            if (n == size_t(kColourCodeLength) && ReadColourCode(tag, &colour)) Append(tag, n, 0);
        } else if (TagIs(tag, n, "b")) {
            Append("$b", 2, 0);
        } else if (TagIs(tag, n, "i")) {
            Append("$i", 2, 0);
        } else if (TagIs(tag, n, "/b") || TagIs(tag, n, "/i")) {
            Append("$/", 2, 0);
        } else if (n > 1 && tag[0] == '/') {
            CloseElement(tag + 1, n - 1);
        } else if (n > 0) {
            OpenElement(tag, n);
        }
        return false;
    }

    void Append(const char* s, size_t n, float w) {
        if (pending_blank_ && len_ > 0) {
            buf_[len_++] = ' ';
            x_ += float(font_.GetCharWidth(' ')) * scale_;
        }
        pending_blank_ = false;
        std::memcpy(buf_ + len_, s, n);
        len_ += int(n);
        x_ += w;
    }

    DialogLayout::Element* FindElement(const char* name, size_t n) {
        for (int e = 0; e < d_.element_count_; ++e) {
            DialogLayout::Element& el = d_.elements_[e];
            if (std::strlen(el.name) == n && std::memcmp(el.name, name, n) == 0) return &el;
        }
        return nullptr;
    }

    void OpenElement(const char* name, size_t n) {
        Append("", 0, 0);  // a pending blank belongs before the element
        DialogLayout::Element* el = FindElement(name, n);
        if (!el) {
            if (d_.element_count_ >= DialogLayout::kMaxElements) return;
            el = &d_.elements_[d_.element_count_++];
            el->name = d_.pool_.InternBytes(name, n);
        }
        el->text = nullptr;
        el->start_line = uint16_t(d_.line_count_);
        el->start_offset = int16_t(len_);
        el->end_line = el->start_line;
        el->end_offset = el->start_offset;
    }

    // The element's text runs from its start to here, its lines joined by a blank.
    void CloseElement(const char* name, size_t n) {
        DialogLayout::Element* el = FindElement(name, n);
        if (!el) return;
        el->end_line = uint16_t(d_.line_count_);
        el->end_offset = int16_t(len_);
        std::string text;
        int offset = el->start_offset;
        for (int l = el->start_line; l < d_.line_count_; ++l) {
            const char* line = d_.lines_[l].text;
            if (line == DialogLayout::kPageBreak) continue;
            const int length = int(std::strlen(line));
            if (offset < length) {
                if (!text.empty()) text += ' ';
                text.append(line + offset, size_t(length - offset));
            }
            offset = 0;
        }
        if (offset < len_) {
            if (!text.empty()) text += ' ';
            text.append(buf_ + offset, size_t(len_ - offset));
        }
        el->text = d_.pool_.InternBytes(text.data(), text.size());
    }

    bool StoreLine(const char* text, float width) {
        if (d_.line_count_ >= DialogLayout::kMaxLines) {
            full_ = true;
            return false;
        }
        d_.lines_[d_.line_count_++] = {text, width};
        return true;
    }

    void PageBreak() {
        if (!StoreLine(DialogLayout::kPageBreak, 0)) return;
        y_ = 0;
        const int page = d_.page_count_++;
        const DialogLayout::PageSize next = page < DialogLayout::kMaxPages ? d_.pages_[page] : d_.pages_[0];
        SetLimits(next.width ? next.width : first_width_, next.height ? next.height : first_height_);
    }

    // Ends the current line: a page break first when the page is full, then
    // the line is stored whole, or cut at the last break when it is too wide
    // (true, *pos set to go on after that break).
    bool EndLine(size_t* pos) {
        if (height_limit_ > 0 && y_ > 0 && y_ > height_limit_ - line_height_) {
            // Elements begun on this line move with it.
            const int moved = d_.line_count_;
            PageBreak();
            for (int e = 0; e < d_.element_count_; ++e) {
                DialogLayout::Element& el = d_.elements_[e];
                if (el.start_line == moved) ++el.start_line;
                if (el.end_line == moved) ++el.end_line;
            }
        }
        bool cut = false;
        int length = len_;
        float width = x_;
        if (x_ > width_limit_ && has_break_) {
            cut = true;
            length = break_len_;
            width = break_x_;
            *pos = break_pos_;
        }
        if (StoreLine(d_.pool_.InternBytes(buf_, size_t(length)), width)) y_ += line_height_;
        len_ = 0;
        x_ = 0;
        has_break_ = false;
        pending_blank_ = false;
        return cut;
    }

    DialogLayout& d_;
    GameFont& font_;
    const char* text_;
    float scale_ = 1;
    float line_height_ = 0;
    float first_width_ = 0, first_height_ = 0;
    float width_limit_ = 0, height_limit_ = 0;
    char buf_[DialogLayout::kMaxLineLength + 1] = {};
    int len_ = 0;
    float x_ = 0;
    float y_ = 0;
    bool pending_blank_ = false;
    bool has_break_ = false;
    size_t break_pos_ = 0;
    int break_len_ = 0;
    float break_x_ = 0;
    bool full_ = false;
};

int DialogLayout::Parse(GameFont* font, const char* text, int width, int height, int size) {
    pool_.Clear();
    line_count_ = element_count_ = 0;
    page_count_ = 1;
    last_text_ = nullptr;
    if (!font || !text) return 0;
    last_text_ = pool_.Intern(text);
    DialogParser parser(*this, *font, text, width, height, size);
    parser.Run();
    return line_count_;
}

void DialogLayout::Draw(GameFont* font, const char* text, const Rect& rect, uint32_t flags, uint32_t colour,
                        int size, int first, int count) {
    if (!font) return;
    if (text) count = Parse(font, text, rect.w, rect.h, size);
    if (first < 0) first = 0;
    const int remaining = line_count_ - first;
    if (remaining <= 0 || count == 0) return;
    if (count < 0 || count > remaining) count = remaining;
    GlyphWriter pen(font, colour, size);
    if (!pen.Ok()) return;
    const float line_height = pen.LineHeight();
    const float total = line_height * float(count);
    float y = float(rect.y);
    if (flags & kAlignCentreY)
        y = float(rect.y) + float(rect.h) / 2 - total / 2;
    else if (flags & kAlignBottom)
        y = float(int64_t(rect.y) + rect.h) - total;
    y = std::floor(y);
    for (int l = first; l < first + count; ++l, y += line_height) {
        const Line& line = lines_[l];
        if (line.text == kPageBreak) continue;
        float x = float(rect.x);
        if (flags & kAlignCentreX)
            x = float(rect.x) + float(rect.w) / 2 - line.width / 2;
        else if (flags & kAlignRight)
            x = float(int64_t(rect.x) + rect.w) - line.width;
        x = std::floor(x);
        for (const char* p = line.text; *p;) {
            uint32_t c;
            if (ReadColourCode(p, &c)) {
                pen.SetColour(c);
                p += kColourCodeLength;
                continue;
            }
            if (p[0] == '$' && (p[1] == 'b' || p[1] == 'i' || p[1] == '/')) {
                pen.UseFont(p[1] == 'b' ? font->bold_font : p[1] == 'i' ? font->italic_font : nullptr);
                p += 2;
                continue;
            }
            if (*p != '|') x += pen.Put(static_cast<unsigned char>(*p), x, y);
            ++p;
        }
    }
}

const DialogLayout::Element* DialogLayout::FindElement(const char* name) const {
    if (!name) return nullptr;
    for (int e = 0; e < element_count_; ++e)
        if (std::strcmp(elements_[e].name, name) == 0) return &elements_[e];
    return nullptr;
}

void DialogLayout::SetPageSize(int index, int width, int height) {
    if (index < 0 || index >= kMaxPages) return;
    pages_[index] = {int16_t(width), int16_t(height)};
}

void DialogLayout::ClearPageSizes() {
    for (PageSize& p : pages_) p = {0, 0};
}
