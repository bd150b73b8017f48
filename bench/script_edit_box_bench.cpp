// The script editor with a 1 MB script: one keystroke (insert, recolour the
// visible lines, draw) beside the draw alone, and opening the file beside
// reading it with fread and splitting its lines.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "timed.h"
#include "bench_device.h"
#include "kept.h"
#include "samples_drawn.h"
#include "temp_folder.h"
#include "media/text/game_font.h"
#include "media/resource_manager.h"
#include "render/d3d_render_device.h"
#include "scriptapi/script_edit_box.h"

namespace {

// The script and the font image, in a folder of the benchmark's own.
const bench::TempFolder& Folder() {
    static bench::TempFolder folder("quild-bench-editor");
    return folder;
}

// About 1 MB of Lua with comments, strings and numbers, CR LF line ends.
const std::string& ScriptFile() {
    static const std::string path = [] {
        std::string text;
        for (int i = 0; text.size() < (1u << 20); ++i)
            text += "local value" + std::to_string(i) + " = \"text\" .. " + std::to_string(i) +
                    ".5 -- a comment then\r\n\tif value then return end\r\n";
        const std::string script = Folder().file("editor.lua");
        std::FILE* f = std::fopen(script.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::abort();
        std::fclose(f);
        return script;
    }();
    return path;
}

D3DRenderDevice* Device() {
    // Current and the render device on every call: another benchmark may
    // have made its own so in between.
    static D3DRenderDevice* dev = CreateBenchDevice(1024, 768);
    bench::UseDevice(dev);
    return dev;
}

// A 128 x 128 font image of 8 x 8 cells, every cell a filled block, and its
// image declared; both go when dropped.
struct BenchFont {
    GameFont* font = Make();
    BenchFont() = default;
    BenchFont(const BenchFont&) = delete;
    BenchFont& operator=(const BenchFont&) = delete;
    ~BenchFont() {
        Device();
        delete font;
        Resources().UnloadByType(kResourceImage);
    }
    static GameFont* Make() {
        Device();
        std::string tga(18, '\0');
        tga[2] = 2;
        tga[12] = tga[14] = char(128);
        tga[16] = 32;
        tga.append(size_t(128) * 128 * 4, char(0xFF));
        const std::string image = Folder().file("font");
        std::FILE* f = std::fopen((image + ".tga").c_str(), "wb");
        if (!f || std::fwrite(tga.data(), 1, tga.size(), f) != tga.size()) std::abort();
        std::fclose(f);
        auto* g = new GameFont();
        g->Setup(Resources().DeclareImage(image.c_str(), 0), nullptr, 16, 16, 8, 8, 0, 0);
        if (!g->ImageTexture()) std::abort();
        return g;
    }
};

GameFont* Font() {
    return bench::Kept<BenchFont>().font;
}

std::unique_ptr<ScriptEditBox> OpenBox() {
    Device();
    auto box = std::make_unique<ScriptEditBox>(Font(), ScriptEditBox::kMultiLine | ScriptEditBox::kSyntaxColour,
                                               0xFFFFFFFFu, Rect(0, 0, 1024, 768));
    box->ImportFile(ScriptFile().c_str());
    box->HighlightLine(box->LineCount() / 2);  // the caret's line in the middle of the view
    box->SetCaret(box->LineStart(box->LineCount() / 2) + 10);
    box->SetFocus(true);
    return box;
}

// A character typed and taken back again (two keystrokes), each drawn.
void BM_EditorKeystroke1MB(benchmark::State& state) {
    std::unique_ptr<ScriptEditBox> box = OpenBox();
    auto frame = [&] {
        box->OnChar('x');
        box->Render(0);
        box->OnChar(8);
        box->Render(0);
        Device()->FlushBatch();
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_EditorKeystroke1MB)->Unit(benchmark::kMillisecond);

// Baseline: the same view drawn twice without editing.
void BM_EditorDrawOnly1MB(benchmark::State& state) {
    std::unique_ptr<ScriptEditBox> box = OpenBox();
    auto frame = [&] {
        box->Render(0);
        box->Render(0);
        Device()->FlushBatch();
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_EditorDrawOnly1MB)->Unit(benchmark::kMillisecond);

void BM_EditorOpen1MB(benchmark::State& state) {
    const std::string& path = ScriptFile();
    bench::Timed(state, [&] {
        ScriptEditBox box(nullptr, ScriptEditBox::kMultiLine, 0xFFFFFFFFu, Rect(0, 0, 1024, 768));
        box.ImportFile(path.c_str());
        benchmark::DoNotOptimize(box.LineCount());
    });
}
BENCHMARK(BM_EditorOpen1MB)->Unit(benchmark::kMillisecond);

// Baseline: fread the whole file and split it into lines.
void BM_FreadSplitLines1MB(benchmark::State& state) {
    const std::string& path = ScriptFile();
    bench::Timed(state, [&] {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        std::string text(size_t(size), '\0');
        if (std::fread(text.data(), 1, text.size(), f) != text.size()) std::abort();
        std::fclose(f);
        std::vector<uint32_t> starts{0};
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') starts.push_back(uint32_t(i + 1));
        benchmark::DoNotOptimize(starts.data());
    });
}
BENCHMARK(BM_FreadSplitLines1MB)->Unit(benchmark::kMillisecond);

}  // namespace
