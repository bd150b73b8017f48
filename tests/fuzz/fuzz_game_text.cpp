// Feeds arbitrary bytes to the game-text file reader, then lays every text
// read out as a dialog (game texts are what dialogs show).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/text/dialog_layout.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    ObjectList<GameText> texts;
    ParseGameTexts(reinterpret_cast<const char*>(data), size, texts);

    // A font without an image: widths are all layout needs.
    static GameFont* font = nullptr;
    static DialogLayout* layout = nullptr;
    if (!font) {
        font = new GameFont();
        font->fontW = font->fontH = 8;
        for (int c = 0; c < 256; ++c) font->widths[c] = uint8_t(c % 7 + 1);
        layout = new DialogLayout();
        layout->SetPageSize(0, 40, 24);
        layout->SetPageSize(2, 10, 0);
    }
    volatile size_t sink = 0;
    int i = 0;
    for (GameText* t = texts.head; t; t = ListNext(t), ++i) {
        sink = sink + std::strlen(t->text);
        layout->Parse(font, t->text, i % 3 == 0 ? 0 : 30, i % 2 ? 0 : 16, i % 5 == 4 ? 16 : 0);
        for (int l = 0; l < layout->LineCount(); ++l) sink = sink + std::strlen(layout->GetLine(l).text);
        for (int e = 0; e < layout->ElementCount(); ++e) {
            const DialogLayout::Element& el = layout->GetElement(e);
            if (el.text) sink = sink + std::strlen(el.text);
        }
    }
    FreeAllGameTexts(texts);
    return 0;
}
