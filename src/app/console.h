#pragma once
// The in-game Lua console: a panel over the top of the screen showing the
// log and the results of typed statements, with an edit line in which Lua is
// typed, earlier input recalled and global names completed. It receives
// every log line while it exists.
#include <cstdint>
#include <vector>

#include "base/string_pool.h"
#include "base/text.h"

class GameFont;

class Console {
public:
    static constexpr int kHistorySize = 1024;
    static constexpr int kHistoryMask = kHistorySize - 1;
    static constexpr int kLineSize = 512;  // the edit line holds at most 511 characters
    static constexpr uint32_t kInputColour = 0xFF8080FFu;
    static constexpr uint32_t kBackgroundColour = 0x80000000u;
    static constexpr uint32_t kFrameColour = 0xFFFFFF00u;
    static constexpr int kMinHeight = 120;
    static constexpr int kMaxHeight = 600;

    struct HistoryEntry {
        uint32_t colour;
        const char* text;  // interned in the history pool
    };

    // Sets g_console and takes the log's lines.
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Stores both, hides the console and clears it.
    void SetRect(const Rect& rect, GameFont* font);
    void Toggle();
    bool IsVisible() const { return visible_; }
    // Splits the text at line ends ("\r\n" is one) into history lines.
    void AddText(const char* text, uint32_t colour);
    void Clear();
    void ClearLine();
    void OnChar(int code);
    void InsertChar(char c);
    void DeleteChar(int index);
    void FindWordStart();
    // A virtual key; true when the console used it.
    bool OnKey(int key);
    void Draw();

    int LineHeight() const;
    // The lengths of the rows a history text is drawn in at this width:
    // each row ends after its last blank that fits, or inside a word longer
    // than a row. Empty without a font or text.
    void WrapRows(const char* text, int width, std::vector<int>& rows) const;
    const Rect& GetRect() const { return rect_; }
    const char* Line() const { return line_; }
    int Cursor() const { return cursor_; }
    int Length() const { return length_; }
    int WordStart() const { return word_start_; }
    int WriteIndex() const { return write_index_; }
    const HistoryEntry& History(int index) const { return history_[index & kHistoryMask]; }

private:
    static void OnLogLine(const char* line, unsigned colour);
    void RunLine();
    void WalkHistory(bool up);
    void Complete();

    StringPool history_pool_;
    StringPool completion_pool_{16384};
    HistoryEntry history_[kHistorySize] = {};
    int write_index_ = 0;
    char line_[kLineSize] = {};
    int cursor_ = 0;
    int length_ = 0;
    int word_start_ = 0;
    int walk_ = 0;
    const char* completion_ = nullptr;  // the last name offered, in the completion pool
    Rect rect_;
    bool visible_ = false;
    bool changed_ = true;
    GameFont* font_ = nullptr;
};

// The one console; null when there is none.
extern Console* g_console;
