// Feeds arbitrary bytes to the script editor as an imported file, then
// replays the same bytes as keys, characters, clicks and commands, checking
// that the caret and selection stay inside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/text/game_font.h"
#include "scriptapi/script_edit_box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static GameFont* font = nullptr;
    if (!font) {
        font = new GameFont();
        font->fontW = 8;
        font->fontH = 10;
    }
    const int flags = size > 0 ? data[0] & 3 : 1;
    ScriptEditBox box(font, flags, 0xFFFFFFFFu, Rect(0, 0, 200, 60));
    box.AppendImported(reinterpret_cast<const char*>(data), size);
    static const char* const kCommands[] = {"undo", "redo", "symbol"};
    for (size_t i = 0; i + 1 < size && i < 4096; i += 2) {
        const int arg = data[i + 1];
        switch (data[i] % 10) {
            case 0: box.OnKeyDown(arg % 48); break;
            case 1: box.OnKeyUp(16); break;
            case 2: box.OnChar(arg); break;
            case 3: box.RunCommand(kCommands[arg % 3]); break;
            case 4: box.OnMouseDown(arg * 3 - 100, arg - 20); break;
            case 5: box.OnMouseUp(0, 0, int64_t(i) * 60); break;
            case 6: box.Scroll(arg - 128); break;
            case 7: box.HighlightLine(arg - 5); break;
            case 8: box.DeleteRange(arg * 5 - 50, arg % 17); break;
            default: box.ColourAt(arg * 7); break;
        }
        const int32_t len = int32_t(box.Text().size());
        if (box.CaretOffset() > len || box.SelectionAnchor() > len || box.SelectionEnd() > len ||
            box.CaretLine() >= box.LineCount() || box.CaretColumn() > box.LineLength(box.CaretLine()))
            std::abort();
    }
    (void)box.GetSelection();
    return 0;
}
