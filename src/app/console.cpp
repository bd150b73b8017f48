#include "app/console.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "base/log.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/text/game_font.h"
#include "script/lua_host.h"
#include "script/script_var.h"

Console* g_console = nullptr;

namespace {
constexpr int kNoFontLineHeight = 16;

// How many characters of the text, from its start, fit in the width (at
// least one of a text that is not empty, so that every row moves on).
int FitCount(const GameFont& font, const char* text, int width) {
    int n = 0;
    for (int64_t used = 0; text[n]; ++n) {
        used += font.GetCharWidth(static_cast<unsigned char>(text[n]));
        if (used > width && n > 0) break;
    }
    return n;
}
}  // namespace

Console::Console() {
    g_console = this;
    SetLogSink(&Console::OnLogLine);
}

Console::~Console() {
    if (g_console == this) {
        SetLogSink(nullptr);
        g_console = nullptr;
    }
}

void Console::OnLogLine(const char* line, unsigned colour) {
    if (g_console) g_console->AddText(line, colour);
}

// Without a font the console lays out 16-pixel lines.
int Console::LineHeight() const {
    return font_ ? font_->LineHeight() : kNoFontLineHeight;
}

void Console::SetRect(const Rect& rect, GameFont* font) {
    rect_ = rect;
    font_ = font;
    visible_ = false;
    walk_ = 0;
    completion_ = nullptr;
    Clear();
}

void Console::Toggle() {
    visible_ = !visible_;
    if (visible_) changed_ = true;
}

void Console::AddText(const char* text, uint32_t colour) {
    if (!text) return;
    bool has_lf = true;
    for (const char* p = text; *p;) {
        // A line ends at the first "\n", or at the first "\r" when there is
        // no "\n"; one more "\r" or "\n" behind it belongs to the same end.
        const char* end = has_lf ? std::strchr(p, '\n') : nullptr;
        has_lf = end != nullptr;
        if (!end) end = std::strchr(p, '\r');
        const char* next;
        if (!end) {
            end = next = p + std::strlen(p);
        } else {
            next = end + 1;
            if (*next == '\r' || *next == '\n') ++next;
            if (*end == '\n' && end > p && end[-1] == '\r') --end;
        }
        history_[write_index_] = {colour, history_pool_.InternBytes(p, static_cast<size_t>(end - p))};
        write_index_ = (write_index_ + 1) & kHistoryMask;
        p = next;
    }
}

void Console::Clear() {
    history_pool_.Clear();
    std::fill(std::begin(history_), std::end(history_), HistoryEntry{});
    ClearLine();
    walk_ = 0;
    completion_ = nullptr;
    write_index_ = 0;
}

void Console::ClearLine() {
    std::memset(line_, 0, sizeof line_);
    cursor_ = length_ = word_start_ = 0;
    completion_ = nullptr;
    changed_ = true;
}

void Console::OnChar(int code) {
    if (code >= 32 && code <= 126) InsertChar(static_cast<char>(code));
}

void Console::InsertChar(char c) {
    if (length_ >= kLineSize - 1) return;
    std::memmove(line_ + cursor_ + 1, line_ + cursor_, static_cast<size_t>(length_ - cursor_ + 1));
    line_[cursor_++] = c;
    ++length_;
    FindWordStart();
    completion_ = nullptr;
    changed_ = true;
}

void Console::DeleteChar(int index) {
    completion_ = nullptr;
    if (index < 0 || index >= length_) return;
    std::memmove(line_ + index, line_ + index + 1, static_cast<size_t>(length_ - index));
    --length_;
    if (cursor_ > index) --cursor_;
    FindWordStart();
    changed_ = true;
}

void Console::FindWordStart() {
    int i = cursor_;
    while (i > 0) {
        const unsigned char c = static_cast<unsigned char>(line_[i - 1]);
        if (!std::isalnum(c) && c != '_' && c != '.') break;
        --i;
    }
    word_start_ = i;
}

bool Console::OnKey(int key) {
    switch (key) {
        case 8:
            DeleteChar(cursor_ - 1);
            return true;
        case 13:
            RunLine();
            return true;
        case 33:
        case 34:
            rect_.h = int(std::clamp<int64_t>(int64_t(rect_.h) + (key == 33 ? -int64_t(LineHeight()) : LineHeight()),
                                              kMinHeight, kMaxHeight));
            return true;
        case 35:
            cursor_ = length_;
            return true;
        case 36:
            cursor_ = word_start_ = 0;
            return true;
        case 37:
            cursor_ = std::max(cursor_ - 1, 0);
            return true;
        case 39:
            cursor_ = std::min(cursor_ + 1, length_);
            return true;
        case 38:
        case 40:
            WalkHistory(key == 38);
            return true;
        case 46:
            DeleteChar(cursor_);
            return true;
        case 9:
            Complete();
            return true;
        default:
            // Printable keys arrive again as characters through OnChar.
            return key >= 32 && key <= 126;
    }
}

void Console::RunLine() {
    // A copy: the statement may clear the console while it runs.
    char text[kLineSize];
    const int length = length_;
    std::memcpy(text, line_, static_cast<size_t>(length) + 1);
    AddText(text, kInputColour);
    if (text[0] == '?') {
        // "?" and the character after it (normally a blank) are not part
        // of the expression; a lone "?" leaves an empty one.
        ScriptRunFormat("print(tostring(%s))", text + std::min(length, 2));
    } else {
        ScriptRun(text);
    }
    if (std::strchr(text, '=')) ReloadAllScriptVars();
    ClearLine();
}

// The walk position is an entry index below the write index: Up moves it
// one entry on, Down one back, both wrapping, until a typed line is met.
void Console::WalkHistory(bool up) {
    const int n = write_index_;
    if (n == 0) return;
    walk_ %= n;
    for (int i = 0; i < n; ++i) {
        walk_ = up ? (walk_ + 1) % n : (walk_ + n - 1) % n;
        const HistoryEntry& e = history_[walk_];
        if (e.colour != kInputColour || !e.text) continue;
        const size_t len = std::min(std::strlen(e.text), static_cast<size_t>(kLineSize - 1));
        std::memset(line_, 0, sizeof line_);
        std::memcpy(line_, e.text, len);
        cursor_ = length_ = static_cast<int>(len);
        FindWordStart();
        completion_ = nullptr;
        changed_ = true;
        return;
    }
}

void Console::Complete() {
    if (changed_) {
        ScriptCompleteNames(&completion_pool_, line_ + word_start_);
        changed_ = false;
        completion_ = nullptr;  // it pointed into the old names
    }
    const StringPool::Entry* first = completion_pool_.First();
    if (!first) return;
    // The first name, or the first that begins with the word; with no name
    // matching, the first name stands.
    const StringPool::Entry* pick = first;
    if (length_ > 0) {
        const char* word = line_ + word_start_;
        const size_t word_len = static_cast<size_t>(length_ - word_start_);
        const StringPool::Entry* match = nullptr;
        for (const StringPool::Entry* e = first; e && !match; e = e->next)
            if (strncasecmp(e->text, word, word_len) == 0) match = e;
        if (match) {
            pick = match;
            if (pick->text == completion_) pick = pick->next ? pick->next : first;
        }
    }
    completion_ = pick->text;
    const size_t len =
        std::min(static_cast<size_t>(pick->length), static_cast<size_t>(kLineSize - 1 - word_start_));
    std::memcpy(line_ + word_start_, pick->text, len);
    length_ = cursor_ = word_start_ + static_cast<int>(len);
    line_[length_] = 0;
}

void Console::WrapRows(const char* text, int width, std::vector<int>& rows) const {
    rows.clear();
    if (!text || !font_) return;
    while (*text) {
        int n = FitCount(*font_, text, width);
        if (text[n]) {
            // Broken after the row's last blank when it has one.
            int blank = n;
            while (blank > 0 && text[blank - 1] != ' ') --blank;
            if (blank > 0) n = blank;
        }
        rows.push_back(n);
        text += n;
    }
}

void Console::Draw() {
    // A font's line height may be any int: positions derived from it are
    // taken in 64 bits.
    const int64_t L = LineHeight();
    const int x = rect_.x, y = rect_.y, w = rect_.w, h = rect_.h;
    FillRect(x, y, w, h, kBackgroundColour);

    // The caret blinks: four frames on, four off.
    char text[kLineSize + 1];
    std::memcpy(text, line_, kLineSize);
    text[kLineSize] = 0;
    const Engine* e = CurrentEngine();
    const uint32_t frame = e && e->window ? e->window->GetFrameCount() : 0;
    if (frame % 8 < 4) {
        text[cursor_] = '_';
        if (cursor_ >= length_) text[cursor_ + 1] = 0;
    }

    DrawRectOutline(float(x + 9), float(y + h - L - 1), float(w - 18), float(L + 2), kFrameColour);
    if (!font_) return;
    // An edit line wider than its frame shows the part that ends at the
    // caret.
    const int width = w - 20;
    int first = 0;
    int64_t to_caret = font_->GetCharWidth('_');
    for (int i = 0; i < cursor_; ++i) to_caret += font_->GetCharWidth(static_cast<unsigned char>(line_[i]));
    for (; to_caret > width && first < cursor_; ++first)
        to_caret -= font_->GetCharWidth(static_cast<unsigned char>(line_[first]));
    text[first + FitCount(*font_, text + first, width)] = 0;
    font_->DrawString(text + first, x + 10, SaturateToInt(y + h - L), width, int(L), 0, 0xFFFFFFFFu, 0);
    // The history from the newest line up; a line wider than the panel
    // takes as many rows as it needs, so that a whole error can be read.
    int64_t line_y = y + h - 2 * L + 2;
    std::vector<int> rows;
    std::string row;
    for (int i = write_index_ - 1; i >= 0 && line_y > y; --i) {
        const HistoryEntry& entry = history_[i];
        WrapRows(entry.text, width, rows);
        if (rows.empty()) {
            line_y -= L;
            continue;
        }
        size_t end = std::strlen(entry.text);
        for (size_t r = rows.size(); r-- > 0 && line_y > y; line_y -= L) {
            end -= static_cast<size_t>(rows[r]);
            row.assign(entry.text + end, static_cast<size_t>(rows[r]));
            font_->DrawString(row.c_str(), x + 10, SaturateToInt(line_y), width, int(L), 0, entry.colour, 0);
        }
    }
}
