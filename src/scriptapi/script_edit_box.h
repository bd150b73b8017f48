#pragma once
// The text editor of the in-game tools: a rectangle of fixed-pitch text in
// a bitmap font with a caret, keyboard and mouse selection, a line gutter
// with one highlighted line, undo and redo, completion of Lua names, Lua
// syntax colouring, and loading from and saving to files. Scripts own the
// boxes (edit_create / edit_destroy) and forward events to them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/memory.h"
#include "base/string_pool.h"
#include "base/text.h"

class GameFont;

class ScriptEditBox {
public:
    enum Flags : int32_t {
        kMultiLine = 1,     // Enter inserts a line feed; undo is recorded
        kSyntaxColour = 2,  // Lua colouring
    };
    // Run colours of the syntax colouring.
    static constexpr uint32_t kStringColour = 0xFF800000u;
    static constexpr uint32_t kCommentColour = 0xFF008000u;
    static constexpr uint32_t kNumberColour = 0xFF804080u;
    static constexpr uint32_t kKeywordColour = 0xFF4040FFu;
    static constexpr uint32_t kEventColour = 0xFF202080u;
    static constexpr uint32_t kHighlightColour = 0xFF0000FFu;
    // Two mouse-ups closer than this select the word.
    static constexpr int64_t kDoubleClickMs = 250;
    // The largest file ImportFile takes.
    static constexpr uint32_t kMaxImportBytes = 64u << 20;

    // The gutter is rect.w / 32 wide for a multi-line box.
    ScriptEditBox(GameFont* font, int32_t flags, uint32_t colour, const Rect& rect);
    ScriptEditBox(const ScriptEditBox&) = delete;
    ScriptEditBox& operator=(const ScriptEditBox&) = delete;

    // Text: null counts as empty; forgets the undo records.
    void SetText(const char* text);
    const std::string& Text() const { return text_; }
    // Moves the text's storage to the end of `parked` and goes on with a
    // copy: a pointer into a text longer than a string keeps in itself,
    // taken before, stays good while `parked` holds it.
    void ParkText(std::vector<std::string>& parked) {
        parked.push_back(std::move(text_));
        text_ = parked.back();
    }
    // The text before the first zero byte is what counts.
    void Paste(const char* text);
    std::string_view GetSelection() const;
    void ReplaceSelection(const char* text);
    void DeleteRange(int32_t offset, int32_t n);

    void SetRect(const Rect& rect);
    void SetFocus(bool focused) { focused_ = focused; }

    // Events; mouse positions are relative to the box's rectangle, gutter
    // included; now_ms is the frame time, for double clicks.
    void OnKeyDown(int32_t key);
    void OnKeyUp(int32_t key);
    void OnChar(int32_t c);
    void OnMouseDown(int32_t x, int32_t y);
    void OnMouseUp(int32_t x, int32_t y, int64_t now_ms);
    void Scroll(int32_t delta);
    void HighlightLine(int32_t line);
    // "undo", "redo" or "symbol"; anything else does nothing.
    void RunCommand(const char* command);
    void Undo();
    void Redo();
    void CompleteSymbol();

    // Appends the file's bytes (tabs and printable ASCII kept, line ends
    // made line feeds); a missing file empties the box.
    void ImportFile(const char* path);
    // The same over bytes in memory (no file name, "modified" untouched);
    // false when the text would grow past what a box holds.
    bool AppendImported(const char* data, size_t n);
    // Writes the text with CR LF line ends to the path, or to the imported
    // file without one; false when nothing was written (modified stays).
    bool SaveToFile(const char* path);
    // Draws with the render device; frame_count blinks the caret.
    void Render(uint32_t frame_count) const;

    // State.
    int32_t CaretLine() const { return cursor_line_; }
    int32_t CaretColumn() const { return cursor_col_; }
    int32_t CaretOffset() const;
    void SetCaret(int32_t offset) { OffsetToCursor(offset); }
    int32_t LineCount() const { return line_count_; }
    int32_t LineLength(int32_t line) const;
    int32_t LineStart(int32_t line) const;
    int32_t FirstVisibleLine() const { return first_visible_; }
    int32_t HighlightedLine() const { return highlighted_line_; }
    int32_t HorizontalScroll() const { return scroll_x_; }
    int32_t SelectionAnchor() const { return anchor_; }
    int32_t SelectionEnd() const { return sel_end_; }
    bool Modified() const { return modified_; }
    bool Selecting() const { return selecting_; }
    bool HasUndo() const { return current_ != nullptr; }
    const std::string& FileName() const { return file_name_; }
    const Rect& TextArea() const { return area_; }
    int32_t GutterWidth() const { return gutter_w_; }
    int32_t VisibleLines() const;

    // The colour the syntax colouring gives the text at the offset (the
    // run that covers it, as Render finds runs from the first visible line).
    uint32_t ColourAt(int32_t offset) const;

private:
    struct EditRecord {
        uint32_t kind;  // 0 insertion, 1 deletion
        uint32_t position;
        uint32_t length;
        EditRecord* older;
        EditRecord* newer;
        char text[1];  // length bytes and a zero
    };
    enum : uint32_t { kInsertion = 0, kDeletion = 1 };

    GameFont* Font() const;
    int32_t CharWidth() const;
    int32_t CharHeight() const;
    int32_t TextWidth(int32_t line, int32_t first, int32_t count) const;
    char At(int64_t i) const { return i >= 0 && i < int64_t(text_.size()) ? text_[size_t(i)] : '\0'; }

    void RebuildLines();
    void FilterImported(size_t from);
    void InsertChar(char c);
    void InsertText(const char* text, size_t n, int32_t offset);
    void DeleteSelection();
    void OffsetToCursor(int32_t offset);
    void MoveHorizontal(int32_t d);
    void MoveVertical(int32_t d);
    void FollowCaretDown();
    void ScrollToCaretColumn(bool right);
    int32_t HitTest(int32_t x, int32_t y);
    void SelectWord();
    void ClampState();
    void RecordEdit(int32_t offset, int32_t length, uint32_t kind);
    void ApplyEdit(const EditRecord* record, bool forward);
    void RewindUndo();

    // Where the coloured run that starts at offset i ends, and its colour
    // (the text colour for a run of plain word characters); false when no
    // run starts there.
    bool RunAt(size_t i, size_t* end, uint32_t* colour) const;

    // Completion.
    StringPool completions_{1024};
    const StringPool::Entry* candidate_ = nullptr;
    bool completing_ = false;
    int32_t completion_start_ = 0;
    int32_t completion_end_ = 0;

    int32_t highlighted_line_ = 0;
    std::string text_;
    std::vector<uint32_t> line_starts_;
    ChunkArena undo_arena_{1024};
    EditRecord* current_ = nullptr;
    bool undo_enabled_ = false;
    bool replaying_ = false;
    bool modified_ = false;
    Rect area_;
    int32_t cursor_col_ = 0;
    int32_t cursor_line_ = 0;
    int32_t line_count_ = 1;
    int32_t scroll_x_ = 0;
    int32_t first_visible_ = 0;
    int32_t anchor_ = 0;
    int32_t sel_end_ = 0;
    bool focused_ = false;
    bool selecting_ = false;
    int64_t last_mouse_up_ = 0;
    std::string file_name_;
    uint32_t colour_ = 0xFFFFFFFFu;
    GameFont* font_ = nullptr;
    int32_t flags_ = 0;
    int32_t gutter_w_ = 0;
};
