// Scene switching and the dissolve beside their baselines: a node switch to
// a cube scene of six 1024 x 1024 JPEG faces against decoding and uploading
// those faces alone, and a dissolve frame against raw OpenGL drawing the
// same two textured quads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "timed.h"
#include "bench_jpeg.h"
#include "gl_program.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/file_stream.h"
#include "base/memory.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "script/lua_host.h"

#include "engine_entry.h"
#include "kept.h"
#include "samples_drawn.h"
#include "temp_folder.h"

namespace {

constexpr int kFace = 1024;
constexpr int kScreenW = 1024, kScreenH = 768;
constexpr int kDissolveTime = 100000000;  // ms: the fade never ends while timed

// A data root of two scenes: "cube" with six JPEG faces and "book" with one
// full-screen page; the headless device, whose target is the dissolve
// picture.
struct SceneBench : bench::OwnDevice {
    std::string root;

    SceneBench() : OwnDevice(kScreenW, kScreenH) {
        static bench::TempFolder folder("quild-bench-scenes");
        root = folder.path();
        std::filesystem::create_directories(root + "/stages/cube");
        std::filesystem::create_directories(root + "/stages/book");
        for (int f = 1; f <= 6; ++f)
            WriteJpeg(root + "/stages/cube/0" + std::to_string(f) + ".jpg", kFace, kFace, f);
        WriteJpeg(root + "/stages/book/page.jpg", kScreenW, kScreenH, 7);
        if (!WriteFileAtomic((root + "/stages/book/data.lua").c_str(), "page{name='p', image='stages/book/page'}\n", 41))
            std::abort();
    }
};

// The engine without a "main", entered in the bench's root and device for
// one benchmark.
class Entered {
public:
    Entered() : b_(Bench()), entered_(b_.dev, b_.camera, b_.root) {
        Engine* e = entered_.engine();
        e->screenRect.Set(0, 0, kScreenW, kScreenH);
        e->virtualRect.Set(0, 0, kScreenW, kScreenH);
        e->dissolveBuffer = b_.target;
        const std::string setup = "DIR_STAGES = 'stages' Display = {fov = 90, aspect = 1.3333} "
                                  "Gameplay = {dissolvefxtime = " +
                                  std::to_string(kDissolveTime) + ", pagefxtime = 500}";
        ScriptRun(setup.c_str());
        b_.dev->BeginScene();
        b_.dev->EnableDepth(false);
    }
    ~Entered() {
        Engine* e = entered_.engine();
        e->dissolveState = 0;
        if (e->dissolveBuffer == b_.target) e->dissolveBuffer = nullptr;
    }
    SceneBench& bench() { return b_; }
    Engine* engine() const { return entered_.engine(); }

private:
    static SceneBench& Bench() { return bench::Kept<SceneBench>(); }
    SceneBench& b_;
    bench::EngineEntered entered_;
};

void BM_NodeSwitchToCubeScene(benchmark::State& state) {
    Entered in;
    Engine* e = in.engine();
    bench::Timed(
        state,
        [] {
            NodeSwitch(nullptr, false);
            Resources().UnloadByType(kResourceImage);
            glFinish();
        },
        [] {
            NodeSwitch("cube", true);
            glFinish();
        });
    if (!e->currentScene) state.SkipWithError("no scene");
}
BENCHMARK(BM_NodeSwitchToCubeScene)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the six faces decoded and uploaded, nothing else.
void BM_DecodeUploadSixFaces(benchmark::State& state) {
    Entered in;
    bench::Timed(state, [&] {
        for (int f = 1; f <= 6 && !state.error_occurred(); ++f) {
            Texture* t = Texture::New();
            std::string name = "stages/cube/0" + std::to_string(f) + ".jpg";
            const bool loaded = LoadTexture(t, name.c_str(), 16);
            Texture::Delete(t);
            if (!loaded) state.SkipWithError("no face");
        }
        glFinish();
    });
}
BENCHMARK(BM_DecodeUploadSixFaces)->Unit(benchmark::kMillisecond)->UseRealTime();

// A frame of a dissolve onto the page scene: the page, then the captured
// picture faded over it.
void BM_DissolveFrame(benchmark::State& state) {
    Entered in;
    Engine* e = in.engine();
    NodeSwitch("book", false);
    if (!e->currentScene) {
        state.SkipWithError("no page scene");
        return;
    }
    e->dissolveState = 3;
    auto frame = [&] {
        // Half way through the fade: the picture blended at about 50%, as
        // the baseline blends it.
        e->dissolveTime = kDissolveTime / 2;
        RenderCurrentScene(e);  // clears, then draws the page
        e->TransitionStep();
        in.bench().dev->FlushBatch();
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
}
BENCHMARK(BM_DissolveFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same two screen quads in raw OpenGL: an opaque textured one and a
// textured one blended with a constant alpha.
void BM_RawGlTwoTexturedQuads(benchmark::State& state) {
    Entered in;
    SceneBench& b = in.bench();
    static GLuint prog = 0, vao = 0, vbo = 0, tex[2] = {};
    static unsigned made_in = 0;
    static GLint alpha_at = -1;
    if (!prog || made_in != bench::KeptGeneration()) {
        made_in = bench::KeptGeneration();
        prog = LinkGlProgram("#version 330\nlayout(location=0) in vec4 p;\nout vec2 uv;\n"
                       "void main(){ uv = p.zw; gl_Position = vec4(p.xy, 0, 1); }\n",
                       "#version 330\nuniform sampler2D t;\nuniform float a;\nin vec2 uv;\nout vec4 o;\n"
                       "void main(){ o = vec4(texture(t, uv).rgb, a); }\n");
        alpha_at = glGetUniformLocation(prog, "a");
        const float quad[] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &vbo);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
        for (GLuint& t : tex) t = SolidGlTexture(kScreenW, kScreenH, 0xFF406080);
    }
    auto frame = [&] {
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(prog);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 16, nullptr);
        glActiveTexture(GL_TEXTURE0);
        glBindSampler(0, 0);
        glDisable(GL_BLEND);
        glBindTexture(GL_TEXTURE_2D, tex[0]);
        glUniform1f(alpha_at, 1.0f);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBindTexture(GL_TEXTURE_2D, tex[1]);
        glUniform1f(alpha_at, 0.5f);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    // Leave GL as the device expects it: its shadows no longer hold.
    glUseProgram(0);
    glDisable(GL_BLEND);
    b.dev->GetDevice()->ForgetGlState();
}
BENCHMARK(BM_RawGlTwoTexturedQuads)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
