#include "scriptapi/script_edit_box.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "base/file_stream.h"
#include "base/log.h"
#include "media/image/draw2d.h"
#include "media/text/game_font.h"
#include "media/image/texture.h"
#include "render/render_device.h"
#include "script/lua_host.h"
#include "script/object_model.h"

namespace {

// The longest text a box holds (offsets are 32-bit).
constexpr size_t kMaxTextBytes = 256u << 20;

// Glyphs carry their run's colour per vertex, so the whole view is one
// batch: textured, pre-transformed, alpha-blended and tinted by the vertex
// colour. A selected run is drawn without blending in white, so its glyph
// cells show solid in the texture's own colour.
constexpr uint32_t kTextMode = RM_TEXTURED | RM_VERTEX_COLOR | RM_PRETRANSFORMED | RM_ALPHA_BLEND;
constexpr uint32_t kSelectedMode = RM_TEXTURED | RM_VERTEX_COLOR | RM_PRETRANSFORMED;

// The vertex of kTextMode: position, colour, texture coordinates.
struct GlyphVertex {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};
static_assert(sizeof(GlyphVertex) == 28, "pre-transformed, coloured, textured vertex");

constexpr const char* kKeywords[] = {"if",    "break", "then",   "else",     "end", "elseif",
                                     "local", "function", "return", "and",  "or",  "not",
                                     "while", "for",   "do",     "true",     "false", "nil"};
constexpr const char* kEventNames[] = {
    "OnGameKeyDown",  "OnGameKeyUp",     "OnGameMouseDown", "OnGameMouseUp",    "OnGameMouseMove", "OnSceneEnter",
    "OnSceneLeave",   "OnSceneInit",     "OnSceneExit",     "OnSceneKeyUp",     "OnSceneKeyDown",  "OnSceneMouseDown",
    "OnSceneMouseUp", "OnSceneMouseMove", "OnSceneUpdate",  "OnSceneRender"};

bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

template <size_t N>
bool InTable(const char* const (&table)[N], std::string_view word) {
    for (const char* entry : table)
        if (word == entry) return true;
    return false;
}

int32_t Clamp(int64_t v, int64_t lo, int64_t hi) { return int32_t(std::max(lo, std::min(v, hi))); }

bool EqualIgnoringCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
    return true;
}

}  // namespace

ScriptEditBox::ScriptEditBox(GameFont* font, int32_t flags, uint32_t colour, const Rect& rect)
    : colour_(colour), font_(font), flags_(flags) {
    if (flags & kMultiLine) {
        gutter_w_ = rect.w / 32;
        undo_enabled_ = true;
    }
    SetRect(rect);
    RebuildLines();
}

// ------------------------------------------------------------ font metrics

GameFont* ScriptEditBox::Font() const {
    return IsLiveObject(font_) && font_->descriptor == &GameFont::s_descriptor ? font_ : nullptr;
}

int32_t ScriptEditBox::CharWidth() const {
    const GameFont* f = Font();
    return f ? std::max(f->fontW, 0) : 0;
}

int32_t ScriptEditBox::CharHeight() const {
    const GameFont* f = Font();
    return f ? std::max(f->fontH, 0) : 0;
}

int32_t ScriptEditBox::VisibleLines() const {
    const int32_t h = CharHeight();
    return h > 0 ? std::max(area_.h, 0) / h : 0;
}

int32_t ScriptEditBox::TextWidth(int32_t line, int32_t first, int32_t count) const {
    const int32_t length = LineLength(line);
    if (first < 0) first = 0;
    count = std::min(count, length - first);
    const int32_t w = CharWidth();
    int64_t width = 0;
    const size_t start = size_t(LineStart(line)) + size_t(first);
    for (int32_t i = 0; i < count; ++i) width += text_[start + size_t(i)] == '\t' ? 3 * w : w;
    return Clamp(width, 0, INT32_MAX);
}

// ------------------------------------------------------------------ lines

void ScriptEditBox::RebuildLines() {
    line_starts_.clear();
    line_starts_.push_back(0);
    const char* data = text_.data();
    const size_t n = text_.size();
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(data + n - p))));) {
        ++p;
        line_starts_.push_back(uint32_t(p - data));
    }
    line_count_ = int32_t(line_starts_.size());
    line_starts_.push_back(uint32_t(n + 1));
}

int32_t ScriptEditBox::LineStart(int32_t line) const {
    return line >= 0 && line < line_count_ ? int32_t(line_starts_[size_t(line)]) : 0;
}

int32_t ScriptEditBox::LineLength(int32_t line) const {
    if (line < 0 || line >= line_count_) return 0;
    return int32_t(line_starts_[size_t(line) + 1] - line_starts_[size_t(line)] - 1);
}

int32_t ScriptEditBox::CaretOffset() const {
    return Clamp(int64_t(LineStart(cursor_line_)) + cursor_col_, 0, int64_t(text_.size()));
}

void ScriptEditBox::OffsetToCursor(int32_t offset) {
    offset = Clamp(offset, 0, int64_t(text_.size()));
    auto it = std::upper_bound(line_starts_.begin(), line_starts_.begin() + line_count_, uint32_t(offset));
    cursor_line_ = int32_t(it - line_starts_.begin()) - 1;
    cursor_col_ = std::min(offset - LineStart(cursor_line_), LineLength(cursor_line_));
}

// Keeps caret, selection and view inside the text.
void ScriptEditBox::ClampState() {
    const int64_t len = int64_t(text_.size());
    cursor_line_ = Clamp(cursor_line_, 0, line_count_ - 1);
    cursor_col_ = Clamp(cursor_col_, 0, LineLength(cursor_line_));
    anchor_ = Clamp(anchor_, 0, len);
    sel_end_ = Clamp(sel_end_, 0, len);
    first_visible_ = Clamp(first_visible_, 0, line_count_ - 1);
    if (highlighted_line_ > line_count_) highlighted_line_ = 0;
}

// ------------------------------------------------------------------- edits

void ScriptEditBox::RewindUndo() {
    undo_arena_.Rewind();
    current_ = nullptr;
}

void ScriptEditBox::RecordEdit(int32_t offset, int32_t length, uint32_t kind) {
    if (!undo_enabled_ || replaying_ || length <= 0) return;
    auto* r = static_cast<EditRecord*>(undo_arena_.Alloc(offsetof(EditRecord, text) + size_t(length) + 1));
    if (!r) {  // out of memory: the history can no longer be trusted
        RewindUndo();
        return;
    }
    r->kind = kind;
    r->position = uint32_t(offset);
    r->length = uint32_t(length);
    std::memcpy(r->text, text_.data() + offset, size_t(length));
    r->text[length] = 0;
    r->older = current_;
    r->newer = nullptr;
    if (current_) current_->newer = r;
    current_ = r;
}

void ScriptEditBox::SetText(const char* text) {
    const size_t n = text ? std::min(std::strlen(text), kMaxTextBytes) : 0;
    text_.assign(text ? text : "", n);
    RebuildLines();
    RewindUndo();
    modified_ = true;
    ClampState();
}

void ScriptEditBox::InsertChar(char c) {
    if (text_.size() >= kMaxTextBytes) return;
    const int32_t at = CaretOffset();
    text_.insert(size_t(at), 1, c);
    RecordEdit(at, 1, kInsertion);
    modified_ = true;
}

void ScriptEditBox::InsertText(const char* text, size_t n, int32_t offset) {
    if (!text || n == 0 || n > kMaxTextBytes - std::min(text_.size(), kMaxTextBytes)) return;
    offset = Clamp(offset, 0, int64_t(text_.size()));
    text_.insert(size_t(offset), text, n);
    RecordEdit(offset, int32_t(n), kInsertion);
    modified_ = true;
}

void ScriptEditBox::Paste(const char* text) {
    if (!text) return;
    std::string kept;
    int32_t lines = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r') continue;
        kept += *p;
        lines += *p == '\n';
    }
    InsertText(kept.data(), kept.size(), CaretOffset());
    RebuildLines();
    MoveVertical(lines);
    modified_ = true;
}

void ScriptEditBox::DeleteRange(int32_t offset, int32_t n) {
    const int64_t len = int64_t(text_.size());
    if (n <= 0 || offset < 0 || offset >= len) return;
    n = int32_t(std::min<int64_t>(n, len - offset));
    RecordEdit(offset, n, kDeletion);
    text_.erase(size_t(offset), size_t(n));
    RebuildLines();
    modified_ = true;
    ClampState();
}

std::string_view ScriptEditBox::GetSelection() const {
    const int32_t lo = std::min(anchor_, sel_end_), hi = std::max(anchor_, sel_end_);
    return std::string_view(text_).substr(size_t(lo), size_t(hi - lo));
}

void ScriptEditBox::DeleteSelection() {
    if (anchor_ == sel_end_) return;
    const int32_t lo = std::min(anchor_, sel_end_);
    DeleteRange(lo, std::abs(sel_end_ - anchor_));
    OffsetToCursor(lo);
    anchor_ = sel_end_ = 0;
    selecting_ = false;
}

void ScriptEditBox::ReplaceSelection(const char* text) {
    DeleteSelection();
    if (text && *text) {
        InsertText(text, std::strlen(text), CaretOffset());
        RebuildLines();
    }
}

// ------------------------------------------------------------ caret moves

void ScriptEditBox::FollowCaretDown() {
    const int32_t visible = VisibleLines();
    if (cursor_line_ > first_visible_ + visible - 1) first_visible_ = std::max(cursor_line_ - visible + 1, 0);
}

// Scrolls so that the caret's column is in view: to the right when it
// passed the right edge, to the left when it is left of the view.
void ScriptEditBox::ScrollToCaretColumn(bool right) {
    const int32_t width = TextWidth(cursor_line_, 0, cursor_col_);
    if (right && int64_t(width) >= int64_t(scroll_x_) + area_.w)
        scroll_x_ = Clamp(int64_t(CharWidth()) - area_.w + width, 0, INT32_MAX);
    if (width < scroll_x_) scroll_x_ = width;
}

void ScriptEditBox::MoveVertical(int32_t d) {
    cursor_line_ = Clamp(int64_t(cursor_line_) + d, INT32_MIN, INT32_MAX);
    if (d >= 0) {
        cursor_line_ = std::min(cursor_line_, line_count_ - 1);
        cursor_col_ = std::min(cursor_col_, LineLength(cursor_line_));
        ScrollToCaretColumn(true);
        FollowCaretDown();
    } else {
        if (cursor_line_ < 0) cursor_line_ = first_visible_ = 0;
        cursor_col_ = std::min(cursor_col_, LineLength(cursor_line_));
        ScrollToCaretColumn(false);
        if (cursor_line_ < first_visible_) first_visible_ = cursor_line_;
    }
}

void ScriptEditBox::MoveHorizontal(int32_t d) {
    cursor_col_ = Clamp(int64_t(cursor_col_) + d, INT32_MIN, INT32_MAX);
    if (d >= 0) {
        if (cursor_col_ > LineLength(cursor_line_)) {
            if (cursor_line_ >= line_count_ - 1) {
                cursor_col_ = LineLength(cursor_line_);
            } else {
                ++cursor_line_;
                cursor_col_ = 0;
                scroll_x_ = 0;
                FollowCaretDown();
            }
        }
        ScrollToCaretColumn(true);
    } else {
        if (cursor_col_ < 0) {
            if (cursor_line_ <= 0) {
                cursor_col_ = 0;
                scroll_x_ = 0;
            } else {
                --cursor_line_;
                cursor_col_ = LineLength(cursor_line_);
                if (cursor_line_ < first_visible_) first_visible_ = cursor_line_;
                ScrollToCaretColumn(true);
            }
        }
        ScrollToCaretColumn(false);
    }
}

void ScriptEditBox::SetRect(const Rect& rect) {
    area_.Set(Clamp(int64_t(rect.x) + gutter_w_, INT32_MIN, INT32_MAX), rect.y,
              Clamp(int64_t(rect.w) - gutter_w_, INT32_MIN, INT32_MAX), rect.h);
}

// ------------------------------------------------------------------ mouse

int32_t ScriptEditBox::HitTest(int32_t x, int32_t y) {
    const int32_t h = CharHeight();
    if (h <= 0) return CaretOffset();
    cursor_line_ = Clamp(int64_t(y / h) + first_visible_, 0, line_count_ - 1);
    const int32_t w = CharWidth();
    const int64_t limit = int64_t(x) + scroll_x_;
    const size_t start = size_t(LineStart(cursor_line_));
    int64_t sum = 0;
    int32_t passed = 0;
    for (size_t p = start; p < text_.size() && text_[p] != '\n'; ++p, ++passed) {
        sum += text_[p] == '\t' ? 3 * w : w;
        if (sum > limit) break;
    }
    cursor_col_ = passed;
    return int32_t(start) + passed;
}

void ScriptEditBox::OnMouseDown(int32_t x, int32_t y) {
    x = Clamp(int64_t(x) - gutter_w_, INT32_MIN, INT32_MAX);
    if (selecting_) {
        sel_end_ = HitTest(x, y);
    } else {
        anchor_ = sel_end_ = HitTest(x, y);
        selecting_ = true;
    }
}

void ScriptEditBox::OnMouseUp(int32_t, int32_t, int64_t now_ms) {
    selecting_ = false;
    if (last_mouse_up_ != 0 && now_ms - last_mouse_up_ < kDoubleClickMs) {
        SelectWord();
        last_mouse_up_ = 0;
    } else {
        last_mouse_up_ = now_ms;
    }
}

void ScriptEditBox::SelectWord() {
    const int64_t line_start = LineStart(cursor_line_);
    const int64_t next_start = cursor_line_ + 1 < line_count_ ? LineStart(cursor_line_ + 1) : int64_t(text_.size());
    int64_t s = anchor_;
    while (s >= line_start && IsWordChar(At(s))) --s;
    const int64_t start = s + 1;
    int64_t e = int64_t(anchor_) + 1;
    while (e < next_start && IsWordChar(At(e))) ++e;
    if (start <= e) {
        anchor_ = Clamp(start, 0, int64_t(text_.size()));
        sel_end_ = Clamp(e, 0, int64_t(text_.size()));
        selecting_ = false;
    }
}

void ScriptEditBox::Scroll(int32_t delta) {
    if (delta >= 1) {
        first_visible_ = std::max(first_visible_ - 3, 0);
        return;
    }
    const int32_t max = line_count_ - VisibleLines() - 1;
    first_visible_ = max < 1 ? 0 : std::min(first_visible_ + 3, max);
}

void ScriptEditBox::HighlightLine(int32_t n) {
    if (n < 1 || n > line_count_) {
        highlighted_line_ = 0;
        return;
    }
    const int32_t visible = VisibleLines();
    if (n < first_visible_ + 1 || int64_t(n) - 1 > int64_t(first_visible_) + visible)
        first_visible_ = std::max(n - 1 - visible / 2, 0);
    highlighted_line_ = n;
}

// ------------------------------------------------------------------- keys

void ScriptEditBox::OnKeyDown(int32_t key) {
    if (key != 112) completing_ = false;
    switch (key) {
        case 16:
            if (!selecting_) {
                anchor_ = sel_end_ = CaretOffset();
                selecting_ = true;
            }
            return;
        case 17:
            return;
        case 33:
            MoveVertical(-VisibleLines());
            break;
        case 34:
            MoveVertical(VisibleLines());
            break;
        case 35:
            cursor_col_ = LineLength(cursor_line_);
            scroll_x_ = Clamp(int64_t(TextWidth(cursor_line_, 0, cursor_col_)) + CharWidth() - area_.w, 0, INT32_MAX);
            break;
        case 36:
            cursor_col_ = 0;
            scroll_x_ = 0;
            break;
        case 37:
            MoveHorizontal(-1);
            break;
        case 38:
            MoveVertical(-1);
            break;
        case 39:
            MoveHorizontal(1);
            break;
        case 40:
            MoveVertical(1);
            break;
        case 46:
            if (anchor_ == sel_end_)
                DeleteRange(CaretOffset(), 1);
            else
                ReplaceSelection("");
            break;
        default:
            break;
    }
    if (key >= 33 && key <= 40 && selecting_) {
        sel_end_ = CaretOffset();
    } else {
        selecting_ = false;
        sel_end_ = anchor_;
    }
}

void ScriptEditBox::OnKeyUp(int32_t key) {
    if (key == 16) selecting_ = false;
}

void ScriptEditBox::OnChar(int32_t c) {
    completing_ = false;
    if (c < 0 || c > 255) return;  // not a byte
    if (c == 13) {
        if (!(flags_ & kMultiLine)) return;
        DeleteSelection();
        InsertChar('\n');
        RebuildLines();
        cursor_col_ = 0;
        scroll_x_ = 0;
        MoveVertical(1);
        return;
    }
    if (c == 8) {
        if (anchor_ != sel_end_) {
            DeleteSelection();
        } else if (CaretOffset() > 0) {
            MoveHorizontal(-1);
            DeleteRange(CaretOffset(), 1);
        }
        return;
    }
    if (c < 32 && c != 9) return;
    DeleteSelection();
    InsertChar(char(c));
    RebuildLines();
    MoveHorizontal(1);
}

// -------------------------------------------------------- undo and redo

void ScriptEditBox::ApplyEdit(const EditRecord* record, bool forward) {
    replaying_ = true;
    const bool remove = (record->kind == kInsertion) != forward;
    if (remove) {
        DeleteRange(int32_t(record->position), int32_t(record->length));
    } else {
        InsertText(record->text, record->length, int32_t(record->position));
        RebuildLines();
    }
    replaying_ = false;
    modified_ = true;
}

void ScriptEditBox::Undo() {
    if (!current_ || !undo_enabled_) return;
    ApplyEdit(current_, false);
    current_ = current_->older;
    ClampState();
}

void ScriptEditBox::Redo() {
    if (!current_ || !undo_enabled_ || !current_->newer) return;
    ApplyEdit(current_->newer, true);
    current_ = current_->newer;
    ClampState();
}

void ScriptEditBox::RunCommand(const char* command) {
    if (!command) return;
    if (std::strcmp(command, "undo") == 0)
        Undo();
    else if (std::strcmp(command, "redo") == 0)
        Redo();
    else if (std::strcmp(command, "symbol") == 0)
        CompleteSymbol();
}

// ------------------------------------------------------------- completion

void ScriptEditBox::CompleteSymbol() {
    ClampState();
    // A word the text no longer holds (replaced meanwhile) starts afresh.
    if (completion_end_ > int32_t(text_.size()) || completion_start_ < 0 || completion_start_ > completion_end_)
        completing_ = false;
    if (!completing_) {
        completion_end_ = CaretOffset();
        int32_t s = completion_end_;
        while (s > 0) {
            const char c = text_[size_t(s) - 1];
            if (!IsWordChar(c) && c != '.') break;
            --s;
        }
        completion_start_ = s;
        const std::string word = text_.substr(size_t(s), size_t(completion_end_ - s));
        ScriptCompleteNames(&completions_, word.c_str());
        candidate_ = nullptr;
        completing_ = true;
    }
    const size_t n = size_t(completion_end_ - completion_start_);
    const char* word = text_.data() + completion_start_;
    const StringPool::Entry* match = nullptr;
    for (const StringPool::Entry* e = completions_.First(); e; e = e->next) {
        if (e->length >= n && EqualIgnoringCase(e->text, word, n)) {
            match = e;
            break;
        }
    }
    if (!match) return;
    if (match == candidate_) match = match->next ? match->next : completions_.First();
    // Recorded like any edit, so that undo steps back over the completion
    // instead of replaying the typing at offsets that moved.
    DeleteRange(completion_start_, int32_t(n));
    InsertText(match->text, match->length, completion_start_);
    completion_end_ = completion_start_ + int32_t(match->length);
    RebuildLines();
    OffsetToCursor(completion_end_);
    candidate_ = match;
    modified_ = true;
}

// ------------------------------------------------------------ files

void ScriptEditBox::ImportFile(const char* path) {
    if (!path) return;
    FileStream file;
    if (!file.OpenRead(path)) {
        text_.clear();
        text_.reserve(1024);
        RewindUndo();  // the records name text that is gone
        RebuildLines();
        ClampState();
    } else {
        const uint32_t size = file.Size();
        if (size > kMaxImportBytes) {
            LogPrintf("[ERROR] - EDIT : %s (%u bytes, more than the editor takes)", path, size);
            return;
        }
        // Read straight behind the text and filtered there, in place.
        const size_t old_size = text_.size();
        if (size > kMaxTextBytes - std::min(old_size, kMaxTextBytes)) {
            LogPrintf("[ERROR] - EDIT : %s (the text would grow too long)", path);
            return;
        }
        text_.resize(old_size + size);
        const uint32_t got = size ? file.Read(text_.data() + old_size, size) : 0;
        text_.resize(old_size + got);
        FilterImported(old_size);
    }
    file_name_ = path;
    modified_ = false;
}

bool ScriptEditBox::AppendImported(const char* data, size_t n) {
    if (n > kMaxTextBytes - std::min(text_.size(), kMaxTextBytes)) return false;
    const size_t old_size = text_.size();
    text_.append(data, n);
    FilterImported(old_size);
    return true;
}

// Filters the bytes from the offset on, in place: tabs and printable ASCII
// stay, CR, CR LF and a lone LF become one line end (a blank in a
// single-line box), everything else is dropped.
void ScriptEditBox::FilterImported(size_t from) {
    const char line_end = (flags_ & kMultiLine) ? '\n' : ' ';
    char* const data = text_.data();
    const char* in = data + from;
    const char* const end = data + text_.size();
    char* out = data + from;
    auto plain = [](char c) { return static_cast<unsigned char>(c) - 32u <= 95u; };
    bool after_cr = false;
    while (in < end) {
        // A run of printable bytes moves as a whole.
        const char* run = in;
        // Eight bytes at a time while none is below 32 or above 127.
        constexpr uint64_t kOnes = 0x0101010101010101ull;
        while (end - in >= 8) {
            uint64_t word;
            std::memcpy(&word, in, 8);
            if ((((word - kOnes * 32) & ~word) | word) & (kOnes * 128)) break;
            in += 8;
        }
        while (in < end && plain(*in)) ++in;
        if (in > run) {
            if (out != run) std::memmove(out, run, size_t(in - run));
            out += in - run;
            after_cr = false;
        }
        if (in == end) break;
        const unsigned char b = static_cast<unsigned char>(*in++);
        if (b == 9)
            *out++ = '\t';
        else if (b == 13 || (b == 10 && !after_cr))
            *out++ = line_end;  // a line feed of its own ends a line too
        after_cr = b == 13;
    }
    text_.resize(size_t(out - data));
    RebuildLines();
    ClampState();
}

bool ScriptEditBox::SaveToFile(const char* path) {
    if (!path || !*path) path = file_name_.empty() ? nullptr : file_name_.c_str();
    if (!path) return false;
    std::string out;
    out.reserve(text_.size() + size_t(line_count_));
    for (const char c : text_) {
        if (c == '\n') out += '\r';
        out += c;
    }
    if (!WriteFileAtomic(path, out.data(), out.size())) {
        LogPrintf("[ERROR] - EDIT : can't write %s", path);
        return false;
    }
    modified_ = false;
    return true;
}

// ----------------------------------------------------------------- colour

bool ScriptEditBox::RunAt(size_t i, size_t* end, uint32_t* colour) const {
    const size_t len = text_.size();
    const char c = text_[i];
    if (c == '"') {
        const size_t q = text_.find('"', i + 1);
        *end = q == std::string::npos ? len : q + 1;
        *colour = kStringColour;
        return true;
    }
    if (c == '-' && At(int64_t(i) + 1) == '-') {
        const size_t nl = text_.find('\n', i + 2);
        *end = nl == std::string::npos ? len : nl;
        *colour = kCommentColour;
        return true;
    }
    if (c == '[' && At(int64_t(i) + 1) == '[') {
        const size_t close = text_.find("]]", i + 2);
        *end = close == std::string::npos ? len : close + 2;
        *colour = kStringColour;
        return true;
    }
    if (!IsWordChar(c)) return false;
    size_t j = i;
    while (j < len && IsWordChar(text_[j])) ++j;
    const std::string_view word(text_.data() + i, j - i);
    *end = j;
    *colour = colour_;
    if (c >= '0' && c <= '9') {
        // The number as the float conversion reads it: "12.5" is one run.
        double value = 0;
        const char* first = text_.data() + i;
        const auto r = std::from_chars(first, first + std::min<size_t>(len - i, 64), value);
        if (r.ec == std::errc() || r.ec == std::errc::result_out_of_range)
            *end = std::max(j, size_t(r.ptr - text_.data()));
        *colour = kNumberColour;
    } else if (InTable(kKeywords, word)) {
        *colour = kKeywordColour;
    } else if (c == 'O' && InTable(kEventNames, word)) {
        *colour = kEventColour;
    }
    return true;
}

uint32_t ScriptEditBox::ColourAt(int32_t offset) const {
    if (!(flags_ & kSyntaxColour) || offset < 0 || size_t(offset) >= text_.size()) return colour_;
    size_t run_end = 0;
    uint32_t run_colour = colour_;
    for (size_t i = size_t(LineStart(first_visible_)); i <= size_t(offset); ++i) {
        if (i >= run_end) {
            run_colour = colour_;
            if (!RunAt(i, &run_end, &run_colour)) run_end = 0;
        }
    }
    return size_t(offset) < run_end ? run_colour : colour_;
}

// ----------------------------------------------------------------- render

void ScriptEditBox::Render(uint32_t frame_count) const {
    RenderDevice* device = g_renderDevice;
    GameFont* font = Font();
    Texture* image = font ? font->ImageTexture() : nullptr;
    const int32_t w = CharWidth(), h = CharHeight();
    if (!device || !image || !image->device_texture || w <= 0 || h <= 0 || image->width <= 0 ||
        image->height <= 0)
        return;  // nothing to draw with

    device->SetRenderMode(kTextMode, 0xFFFFFFFFu);
    device->SetTexture(0, image->device_texture);
    device->SetTextureFilter(0, 0, 0);
    device->SetTextureFilter(0, 1, 0);

    const int64_t left = int64_t(area_.x) - scroll_x_;
    const int64_t right = int64_t(area_.x) + area_.w, bottom = int64_t(area_.y) + area_.h;
    int64_t x = left, y = area_.y;
    const size_t lo = size_t(std::min(anchor_, sel_end_)), hi = size_t(std::max(anchor_, sel_end_));
    const bool colouring = (flags_ & kSyntaxColour) != 0;
    // Texture coordinates per pixel of the image (of its used part when the
    // device enlarged it).
    float su = 1.0f / float(image->width), sv = 1.0f / float(image->height);
    const TextureRecord* rec = image->device_texture;
    if (rec->rescaled && rec->allocatedWidth > 0 && rec->allocatedHeight > 0) {
        su *= float(rec->width) / float(rec->allocatedWidth);
        sv *= float(rec->height) / float(rec->allocatedHeight);
    }
    bool in_selection = false;
    size_t run_end = 0;
    uint32_t run_colour = colour_;

    for (size_t i = size_t(LineStart(first_visible_)); i < text_.size() && y < bottom; ++i) {
        if (lo != hi) {
            if (!in_selection && i >= lo && i < hi) {
                in_selection = true;
                device->SetRenderMode(kSelectedMode, 0xFFFFFFFFu);
            } else if (in_selection && i >= hi) {
                in_selection = false;
                device->SetRenderMode(kTextMode, 0xFFFFFFFFu);
            }
        }
        if (colouring && i >= run_end) {
            run_colour = colour_;
            if (!RunAt(i, &run_end, &run_colour)) run_end = 0;
        }
        const unsigned char c = static_cast<unsigned char>(text_[i]);
        if (c == '\t') {
            x += 3 * w;
        } else if (c == '\n') {
            x = left;
            y += h;
        } else if (c <= 32) {
            x += w;
        } else {
            const int index = font->CharIndex(c);
            if (index >= 0 && x >= area_.x && x + w <= right && y + h <= bottom) {
                const float u0 = float(font->xOffsets[index]) * su, u1 = u0 + float(w) * su;
                const float v0 = float(uint32_t(index / font->Columns()) * font->cellHeight) * sv;
                const float v1 = v0 + float(h) * sv;
                // Pixel centres lie half a pixel in.
                const float l = float(x) - 0.5f, r = float(x + w) - 0.5f;
                const float t = float(y) - 0.5f, b = float(y + h) - 0.5f;
                const uint32_t k = in_selection ? 0xFFFFFFFFu : run_colour;
                const GlyphVertex v[6] = {{l, t, 0, 1, k, u0, v0}, {r, t, 0, 1, k, u1, v0}, {l, b, 0, 1, k, u0, v1},
                                          {r, t, 0, 1, k, u1, v0}, {r, b, 0, 1, k, u1, v1}, {l, b, 0, 1, k, u0, v1}};
                device->SetVertexArray(v, sizeof(GlyphVertex));
                device->DrawImmediate(6);
            }
            x += w;
        }
    }
    device->FlushBatch();

    if (focused_ && frame_count % 16 < 8) {
        const int64_t cx = left + TextWidth(cursor_line_, 0, cursor_col_);
        const int64_t cy = int64_t(cursor_line_ - first_visible_) * h + area_.y;
        FillRect(Clamp(cx, INT32_MIN, INT32_MAX), Clamp(cy, INT32_MIN, INT32_MAX), 2, h, colour_);
    }
    if (gutter_w_ > 0) {
        const int32_t gx = area_.x - gutter_w_;
        FillRect(gx, area_.y, gutter_w_, area_.h, ~colour_ | 0xFF000000u);
        const int64_t row = int64_t(highlighted_line_) - 1 - first_visible_;
        if (highlighted_line_ > 0 && row >= 0 && row * h + h <= area_.h)
            FillRect(gx + 2, Clamp(int64_t(area_.y) + row * h + 2, INT32_MIN, INT32_MAX), gutter_w_ - 4, h - 4,
                     kHighlightColour);
    }
    device->SetTextureFilter(0, 0, 1);
    device->SetTextureFilter(0, 1, 1);
}
