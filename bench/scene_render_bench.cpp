// Scene rendering, picking and screenshots beside their baselines: a
// 1024 x 768 panorama frame (six faces, ten hotspots, hover picking) against
// raw OpenGL drawing the same textured quads; a panorama with 20 patches,
// 10 surface effects and 5 flares against raw OpenGL drawing their quads;
// picking among 1,000 screen hotspots against a bare loop over their
// rectangles; a JPEG screenshot against libjpeg-turbo encoding the same
// pixels.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include "timed.h"
#include "bench_jpeg.h"
#include "engine_entry.h"
#include "kept.h"
#include "samples_drawn.h"
#include "gl_program.h"
#include "temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_render.h"
#include "app/scene_switch.h"
#include "base/file_stream.h"
#include "base/memory.h"
#include "base/string_pool.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/patch.h"
#include "scene/surface_effect.h"
#include "script/lua_host.h"



namespace {

// The raw baselines' program and vertex stream: clip-space positions (4
// floats) and texture coordinates (2), 24 bytes a vertex, texture unit 0.
void BindRawQuadStream(GLuint prog, GLuint vao, GLuint vbo) {
    glUseProgram(prog);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 24, nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(16));
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, 0);
}

constexpr int kW = 1024, kH = 768, kFace = 512, kHotspots = 10;

// Its own device and data root; entered and left around each benchmark, so
// the other scene benchmarks keep theirs.
struct RenderBench : bench::OwnDevice {
    Engine* e = nullptr;
    std::string root;

    RenderBench() : OwnDevice(kW, kH) {
        static bench::TempFolder folder("quild-bench-render");
        root = folder.path();
        std::filesystem::create_directories(root + "/stages/pano");
        std::string data = "cubefaces()\n";
        for (int f = 1; f <= 6; ++f) WriteJpeg(root + "/stages/pano/0" + std::to_string(f) + ".jpg", kFace, kFace, f);
        WriteJpeg(root + "/stages/pano/sign.jpg", 64, 64, 9);
        for (int i = 0; i < kHotspots; ++i)
            data += "hotspot{name='h" + std::to_string(i) + "', rect='" + std::to_string(40 + i * 90) + ",300,80,80'," +
                    "bgimage='stages/pano/sign'}\n";
        if (!WriteFileAtomic((root + "/stages/pano/data.lua").c_str(), data.data(), data.size())) std::abort();
    }
};

RenderBench& Bench() {
    return bench::Kept<RenderBench>();
}

// Enters the bench's device, folder and the engine; leaves them as found.
class Entered {
public:
    Entered() : b_(Bench()), entered_(b_.dev, b_.camera, b_.root) {
        b_.e = entered_.engine();
        b_.dev->BeginScene();
        b_.dev->EnableDepth(false);
        b_.e->screenRect.Set(0, 0, kW, kH);
        b_.e->virtualRect.Set(0, 0, kW, kH);
        b_.e->sceneInputEnabled = b_.e->hotspotEventsEnabled = true;
        InstallSceneRenderer();
        ScriptRun("DIR_STAGES = 'stages' Display = {fov = 90, aspect = 1.3333} Gameplay = {pagefxtime = 500}");
    }
    RenderBench& bench() { return b_; }

private:
    RenderBench& b_;
    bench::EngineEntered entered_;
};

// The engine's side of the panorama pair: the panorama entered, the view
// turned, the mouse over a hotspot. False when there is no panorama.
bool EnterPanorama(Engine* e) {
    NodeSwitch("pano", false);
    if (!e->currentScene || e->currentScene->viewtype != kViewCube) return false;
    g_lookYaw = 30, g_lookPitch = 10;
    g_mouseX = 500, g_mouseY = 330;
    return true;
}

// One frame of the panorama: hover picking, then the scene drawn.
void EnginePanoramaFrame(Entered& in) {
    in.bench().e->UpdateHover();
    RenderCurrentScene(in.bench().e);
    in.bench().dev->FlushBatch();
    glFinish();
}

// The same quads in raw OpenGL: the six faces of the cube through the same
// view and projection, then ten textured screen quads. GL is left as the
// device expects it when it goes.
class RawPanorama {
public:
    explicit RawPanorama(Entered& in) : in_(in) {
        Engine* e = in.bench().e;
        NodeSwitch("pano", false);
        if (!e->currentScene || e->currentScene->viewtype != kViewCube || !e->currentScene->cubeFaces ||
            !e->currentScene->hotspots.head) {
            failure_ = "no panorama";
            return;
        }
        g_lookYaw = 30, g_lookPitch = 10;
        RenderCurrentScene(e);  // the camera of that view
        in.bench().dev->FlushBatch();
        hotspots_blended_ = glIsEnabled(GL_BLEND);  // as the engine drew them
        plat::Matrix vp;
        plat::D3DXMatrixMultiply(&vp, &e->defaultCamera->view, &e->defaultCamera->projection);
        // The same pixels as the engine's textures: the six faces, then the
        // hotspots' image.
        ImageData pictures[7];
        for (int i = 0; i < 7; ++i) {
            Texture* t = Resources().GetImage(i < 6 ? e->currentScene->cubeFaces->faces[i]
                                                    : e->currentScene->hotspots.head->bgimage);
            if (!t || !t->ReadPixels(pictures[i])) {
                failure_ = "no face pixels";
                return;
            }
        }
        NodeSwitch(nullptr, false);
        Resources().UnloadByType(kResourceImage);

        // The device keeps its own bindings in shadows: they are put back
        // after.
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &saved_vao_);
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &saved_buffer_);
        glGetIntegerv(GL_CURRENT_PROGRAM, &saved_program_);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &saved_texture_);
        saved_blend_ = glIsEnabled(GL_BLEND);
        prog_ = LinkGlProgram("#version 330\nlayout(location=0) in vec4 p;\nlayout(location=1) in vec2 t;\n"
                              "out vec2 uv;\nvoid main(){ uv = t; gl_Position = p; }\n",
                              "#version 330\nuniform sampler2D s;\nin vec2 uv;\nout vec4 o;\n"
                              "void main(){ o = texture(s, uv); }\n");
        glGenVertexArrays(1, &vao_);
        glGenBuffers(1, &vbo_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        // Clip-space corners (x, y, z, w, u, v): the cube through the same
        // view and projection, then the ten hotspot quads. The device's
        // frame is stored top row first, so y is mirrored as it does.
        std::vector<float> v;
        for (const CubeVertex& c : g_cubeVertices) {
            const float in4[4] = {c.x, c.y, c.z, 1};
            float out4[4] = {};
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) out4[j] += in4[i] * vp.m[i][j];
            // The device's rule for clip positions: y mirrored, and the D3D
            // pixel centres (half a pixel, in clip units).
            v.insert(v.end(), {out4[0] + out4[3] / kW, -out4[1] + out4[3] / kH, out4[2], out4[3], c.u, c.v});
        }
        for (int i = 0; i < kHotspots; ++i) {
            const float x0 = (40.0f + i * 90) / kW * 2 - 1, x1 = x0 + 160.0f / kW, y0 = 300.0f / kH * 2 - 1,
                        y1 = 380.0f / kH * 2 - 1;
            v.insert(v.end(), {x0, y0, 0, 1, 0, 0, x1, y0, 0, 1, 1, 0, x0, y1, 0, 1, 0, 1, x1, y1, 0, 1, 1, 1});
        }
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * sizeof(float)), v.data(), GL_STATIC_DRAW);
        for (int i = 0; i < 7; ++i) {
            glGenTextures(1, &tex_[i]);
            glBindTexture(GL_TEXTURE_2D, tex_[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(pictures[i].width), GLsizei(pictures[i].height), 0,
                         GL_BGRA, GL_UNSIGNED_BYTE, pictures[i].pixels);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        }
    }
    ~RawPanorama() {
        if (!prog_) return;
        glDisable(GL_BLEND);
        glBindVertexArray(GLuint(saved_vao_));
        glBindBuffer(GL_ARRAY_BUFFER, GLuint(saved_buffer_));
        glUseProgram(GLuint(saved_program_));
        glBindTexture(GL_TEXTURE_2D, GLuint(saved_texture_));
        if (saved_blend_) glEnable(GL_BLEND);
        glDeleteTextures(7, tex_);
        glDeleteBuffers(1, &vbo_);
        glDeleteVertexArrays(1, &vao_);
        glDeleteProgram(prog_);
        in_.bench().dev->GetDevice()->ForgetGlState();
    }
    RawPanorama(const RawPanorama&) = delete;
    RawPanorama& operator=(const RawPanorama&) = delete;

    // Why the set-up failed, or null.
    const char* Failure() const { return failure_; }

    void Frame() const {
        glClear(GL_COLOR_BUFFER_BIT);
        BindRawQuadStream(prog_, vao_, vbo_);
        glDisable(GL_BLEND);
        for (int f = 0; f < 6; ++f) {
            glBindTexture(GL_TEXTURE_2D, tex_[f]);
            glDrawArrays(GL_TRIANGLE_STRIP, f * 4, 4);
        }
        if (hotspots_blended_) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
        glBindTexture(GL_TEXTURE_2D, tex_[6]);
        for (int i = 0; i < kHotspots; ++i) glDrawArrays(GL_TRIANGLE_STRIP, 24 + i * 4, 4);
        glFinish();
    }

private:
    Entered& in_;
    const char* failure_ = nullptr;
    bool hotspots_blended_ = false;
    GLint saved_vao_ = 0, saved_buffer_ = 0, saved_program_ = 0, saved_texture_ = 0;
    GLboolean saved_blend_ = GL_FALSE;
    GLuint prog_ = 0, vao_ = 0, vbo_ = 0, tex_[7] = {};
};

// The check of the panorama pair, whichever side ran and whether or not the
// other ran before it: both sides' frames drawn on black here, sampled at a
// few pixels (faces, hotspots, the hovered one). The engine and raw GL must
// give the same picture for the comparison to be fair. The engine is left
// in the panorama.
bool PanoramaSidesDrawAlike(Entered& in) {
    const std::vector<std::pair<int, int>> at = {{100, 100}, {512, 200}, {900, 650},
                                                 {300, 700}, {80, 340},  {530, 340}};
    std::vector<uint8_t> raw;
    {
        RawPanorama side(in);
        if (side.Failure()) return false;
        raw = SamplesOnBlack([&side] { side.Frame(); }, at);
    }
    if (!EnterPanorama(in.bench().e)) return false;
    const std::vector<uint8_t> engine = SamplesOnBlack([&in] { EnginePanoramaFrame(in); }, at);
    // Scissor and clear colour were set behind the device's back.
    in.bench().dev->GetDevice()->ForgetGlState();
    return SameSamples(engine, raw, 2);
}

void BM_PanoramaFrame(benchmark::State& state) {
    Entered in;
    Engine* e = in.bench().e;
    if (!EnterPanorama(e)) {
        state.SkipWithError("no panorama");
        return;
    }
    auto frame = [&in] { EnginePanoramaFrame(in); };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    if (state.error_occurred()) return;
    if (!e->hoveredHotspot) state.SkipWithError("nothing hovered");
    else if (!PanoramaSidesDrawAlike(in)) state.SkipWithError("the engine and raw GL drew different pictures");
}
BENCHMARK(BM_PanoramaFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RawGlPanoramaQuads(benchmark::State& state) {
    Entered in;
    {
        RawPanorama side(in);
        if (side.Failure()) {
            state.SkipWithError(side.Failure());
            return;
        }
        auto frame = [&side] { side.Frame(); };
        bench::Timed(state, [&] { frame(); });
        bench::RequireDrawn(state, frame);
    }
    if (!state.error_occurred() && !PanoramaSidesDrawAlike(in))
        state.SkipWithError("the engine and raw GL drew different pictures");
}
BENCHMARK(BM_RawGlPanoramaQuads)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 1,000 screen hotspots of a page scene in memory (no device needed).
struct PickScene {
    Engine engine;
    GameScene* scene = nullptr;
    PickScene() {
        engine.screenRect.Set(0, 0, kW, kH);
        engine.virtualRect.Set(0, 0, kW, kH);
        engine.sceneInputEnabled = engine.hotspotEventsEnabled = true;
        scene = ListAppendNew(engine.scenes);
        scene->viewtype = kViewPage;
        for (int i = 0; i < 1000; ++i) {
            HotSpot* h = ListAppendNew(scene->hotspots);
            h->SetDefaults();
            h->owner = &scene->hotspots;
            h->rect[0] = (i % 40) * 25, h->rect[1] = (i / 40) * 30, h->rect[2] = 20, h->rect[3] = 25;
        }
    }
};

void BM_PickAmong1000Hotspots(benchmark::State& state) {
    PickScene* p = &bench::Kept<PickScene>();
    Engine* saved = CurrentEngine();
    SetCurrentEngine(&p->engine);
    p->engine.currentScene = p->scene;
    p->engine.BuildRenderList();
    HotSpot* hit = nullptr;
    bench::Timed(state, [&] {
        hit = p->engine.PickHotspot(990, 725);
        benchmark::DoNotOptimize(hit);
    });
    if (!hit) state.SkipWithError("nothing picked");
    SetCurrentEngine(saved);
}
BENCHMARK(BM_PickAmong1000Hotspots)->Unit(benchmark::kMicrosecond);

// The baseline: the containment test over the same 1,000 rectangles.
void BM_RectLoop1000(benchmark::State& state) {
    std::vector<int32_t> rects;
    for (int i = 0; i < 1000; ++i) rects.insert(rects.end(), {(i % 40) * 25, (i / 40) * 30, 20, 25});
    bench::Timed(state, [&] {
        int found = -1;
        for (int i = 0; i < 1000; ++i) {
            const int32_t* r = &rects[size_t(i) * 4];
            if (990 >= r[0] && 990 < r[0] + r[2] && 725 >= r[1] && 725 < r[1] + r[3]) found = i;
        }
        benchmark::DoNotOptimize(found);
    });
}
BENCHMARK(BM_RectLoop1000)->Unit(benchmark::kMicrosecond);

// libjpeg-turbo encoding kW x kH RGB pixels into memory at quality 90; with
// a path, the bytes are then written as the engine writes its files.
bool EncodeRgbJpeg(const uint8_t* rgb, const char* path = nullptr) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kW;
    c.image_height = kH;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(c.next_scanline) * kW * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    benchmark::DoNotOptimize(size);
    const bool ok = !path || WriteFileAtomic(path, out, size);
    free(out);
    return ok;
}

// A 1024 x 768 JPEG screenshot of a filled render target, written to the
// per-user folder.
void BM_SaveScreenshotJpeg(benchmark::State& state) {
    Entered in;
    RenderBench& b = in.bench();
    if (b.dev->BeginRenderTarget(b.target) == 1) {
        b.dev->Clear(0xFF336699);
        b.dev->EndRenderTarget();
    }
    bench::Timed(state, [&] {
        if (b.e->SaveScreenshot(b.target, "bench_shot.jpg", 90) != 0) state.SkipWithError("not written");
    });
}
BENCHMARK(BM_SaveScreenshotJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: libjpeg-turbo encoding the same pixels (locked once) into
// memory at the same quality.
void BM_LibjpegEncode1024x768(benchmark::State& state) {
    Entered in;
    RenderBench& b = in.bench();
    b.dev->LockTexture(b.target);
    std::vector<uint8_t> rgb(size_t(kW) * kH * 3);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t* s = static_cast<const uint8_t*>(b.target->bits) + size_t(y) * b.target->pitch + x * 4;
            uint8_t* d = &rgb[(size_t(y) * kW + x) * 3];
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
        }
    b.dev->UnlockTexture(b.target);
    bench::Timed(state, [&] { EncodeRgbJpeg(rgb.data()); });
}
BENCHMARK(BM_LibjpegEncode1024x768)->Unit(benchmark::kMillisecond)->UseRealTime();

// A panorama with 20 patches and 10 surface effects on the front face and 5
// glow flares, written into the bench root on first use.
constexpr int kPatches = 20, kSurfaces = 10, kFlares = 5;

void WriteEffectsScene(const std::string& root) {
    const std::string dir = root + "/stages/effects";
    if (std::filesystem::exists(dir + "/data.lua")) return;
    std::filesystem::create_directories(dir);
    for (int f = 1; f <= 6; ++f) WriteJpeg(dir + "/0" + std::to_string(f) + ".jpg", kFace, kFace, f);
    WriteJpeg(dir + "/sign.jpg", 64, 64, 7);
    WriteJpeg(dir + "/water.jpg", 64, 64, 8);
    WriteJpeg(dir + "/glow.jpg", 32, 32, 9);
    std::string data = "cubefaces()\n";
    for (int i = 0; i < kPatches; ++i)
        data += "patch{name='p" + std::to_string(i) + "', image='stages/effects/sign', face=0, x=" +
                std::to_string(100 + (i % 5) * 170) + ", y=" + std::to_string(150 + (i / 5) * 180) + ", size=2}\n";
    for (int i = 0; i < kSurfaces; ++i)
        data += "surffx{name='s" + std::to_string(i) + "', texture='stages/effects/water', face=0, width=60, " +
                "height=40, distance=450, tiling1=2, scroll_speed=0.5, position='" +
                std::to_string((i % 5) * 200 - 400) + "," + std::to_string((i / 5) * 150 - 75) + ",0'}\n";
    for (int i = 0; i < kFlares; ++i)
        data += "fx{name='f" + std::to_string(i) + "', file='stages/effects/glow', x=" + std::to_string(330 + i * 15) +
                ", y=-10, scale=2, power=0, opacity=255}\n";
    if (!WriteFileAtomic((dir + "/data.lua").c_str(), data.data(), data.size())) std::abort();
}

// One frame of the effects panorama through the scene render.
void BM_EffectsFrame(benchmark::State& state) {
    Entered in;
    Engine* e = in.bench().e;
    WriteEffectsScene(in.bench().root);
    NodeSwitch("effects", false);
    GameScene* s = e->currentScene;
    if (!s || ListCount(s->patches) != kPatches || ListCount(s->surfaces) != kSurfaces ||
        ListCount(s->fx) != kFlares) {
        state.SkipWithError("no effects scene");
        return;
    }
    g_lookYaw = g_lookPitch = 0;
    auto frame = [&] {
        RenderCurrentScene(e);
        in.bench().dev->FlushBatch();
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
}
BENCHMARK(BM_EffectsFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same quads in raw OpenGL: the faces of the cube the scene draws (those
// in view), each patch and surface at the corners the scene computes, each
// flare as a screen rectangle of its size; one texture bind per quad,
// blending as the scene draws them (its patch and surface pictures are
// opaque, so unblended; the flares added).
void BM_RawGlEffectsQuads(benchmark::State& state) {
    Entered in;
    Engine* e = in.bench().e;
    WriteEffectsScene(in.bench().root);
    NodeSwitch("effects", false);
    g_lookYaw = g_lookPitch = 0;
    RenderCurrentScene(e);  // the camera of that view, and the faces in it
    bool face_drawn[6];
    for (int f = 0; f < 6; ++f) face_drawn[f] = g_cubeFaceVisible[f] != 0;
    plat::Matrix vp;
    plat::D3DXMatrixMultiply(&vp, &e->defaultCamera->view, &e->defaultCamera->projection);
    std::vector<float> v;
    const auto world = [&](float x, float y, float z, float u, float t) {
        const float in4[4] = {x, y, z, 1};
        float out4[4] = {};
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) out4[j] += in4[i] * vp.m[i][j];
        v.insert(v.end(), {out4[0], -out4[1], out4[2], out4[3], u, t});
    };
    for (const CubeVertex& c : g_cubeVertices) world(c.x, c.y, c.z, c.u, c.v);
    const float S = CubeHalfEdge();
    for (Patch* p = e->currentScene ? e->currentScene->patches.head : nullptr; p; p = ListNext(p)) {
        const float px[4] = {p->x, p->x, p->x + 128, p->x + 128}, py[4] = {p->y + 128, p->y, p->y + 128, p->y};
        for (int i = 0; i < 4; ++i) {
            plat::Vec3 c;
            FacePixelToCube(p->face, px[i], py[i], S, &c);
            world(c.x, c.y, c.z, float(i / 2), float(1 - i % 2));
        }
    }
    for (SurfaceEffect* f = e->currentScene ? e->currentScene->surfaces.head : nullptr; f; f = ListNext(f)) {
        float c[4][5];
        f->BuildCorners(c);
        for (auto& k : c) world(k[0], k[1], k[2], k[3], k[4]);
    }
    for (int i = 0; i < kFlares; ++i) {
        const float x0 = (300.0f + i * 60) / kW * 2 - 1, x1 = x0 + 64.0f / kW * 2, y0 = 200.0f / kH * 2 - 1,
                    y1 = y0 + 64.0f / kH * 2;
        v.insert(v.end(), {x0, y0, 0, 1, 0, 0, x1, y0, 0, 1, 1, 0, x0, y1, 0, 1, 0, 1, x1, y1, 0, 1, 1, 1});
    }
    NodeSwitch(nullptr, false);
    Resources().UnloadByType(kResourceImage);
    if (v.size() != size_t(6 + kPatches + kSurfaces + kFlares) * 4 * 6) {
        state.SkipWithError("no effects scene");
        return;
    }

    GLint saved_vao = 0, saved_buffer = 0, saved_program = 0, saved_texture = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &saved_vao);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &saved_buffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &saved_program);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &saved_texture);
    const GLboolean saved_blend = glIsEnabled(GL_BLEND);
    GLuint prog = LinkGlProgram("#version 330\nlayout(location=0) in vec4 p;\nlayout(location=1) in vec2 t;\n"
                                "out vec2 uv;\nvoid main(){ uv = t; gl_Position = p; }\n",
                                "#version 330\nuniform sampler2D s;\nuniform vec4 k;\nin vec2 uv;\nout vec4 o;\n"
                                "void main(){ o = texture(s, uv) * k; }\n");
    const GLint tint = glGetUniformLocation(prog, "k");
    GLuint vao = 0, vbo = 0, tex[9] = {};
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * sizeof(float)), v.data(), GL_STATIC_DRAW);
    for (int i = 0; i < 9; ++i) tex[i] = SolidGlTexture(i < 6 ? kFace : 64, i < 6 ? kFace : 64, 0xFF406080);
    auto frame = [&] {
        glClear(GL_COLOR_BUFFER_BIT);
        BindRawQuadStream(prog, vao, vbo);
        glUniform4f(tint, 1, 1, 1, 1);
        glDisable(GL_BLEND);
        int quad = 0;
        for (; quad < 6; ++quad) {
            if (!face_drawn[quad]) continue;
            glBindTexture(GL_TEXTURE_2D, tex[quad]);
            glDrawArrays(GL_TRIANGLE_STRIP, quad * 4, 4);
        }
        for (; quad < 6 + kPatches + kSurfaces; ++quad) {
            glBindTexture(GL_TEXTURE_2D, tex[quad < 6 + kPatches ? 6 : 7]);
            glDrawArrays(GL_TRIANGLE_STRIP, quad * 4, 4);
        }
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        for (; quad < 6 + kPatches + kSurfaces + kFlares; ++quad) {
            glBindTexture(GL_TEXTURE_2D, tex[8]);
            glDrawArrays(GL_TRIANGLE_STRIP, quad * 4, 4);
        }
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    glBindVertexArray(GLuint(saved_vao));
    glBindBuffer(GL_ARRAY_BUFFER, GLuint(saved_buffer));
    glUseProgram(GLuint(saved_program));
    glBindTexture(GL_TEXTURE_2D, GLuint(saved_texture));
    if (!saved_blend) glDisable(GL_BLEND);
    glDeleteTextures(9, tex);
    glDeleteBuffers(1, &vbo);
    glDeleteVertexArrays(1, &vao);
    glDeleteProgram(prog);
    in.bench().dev->GetDevice()->ForgetGlState();
}
BENCHMARK(BM_RawGlEffectsQuads)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The second baseline: the same target read back by raw glReadPixels, in
// the RGB layout the encoder takes, then encoded the same way; with the
// argument 1 the bytes are also written the way the engine writes every
// file (a temporary file, flushed to disk, renamed).
void BM_ReadBackAndLibjpegEncode(benchmark::State& state) {
    Entered in;
    RenderBench& b = in.bench();
    if (b.dev->BeginRenderTarget(b.target) != 1) {
        state.SkipWithError("no target");
        return;
    }
    b.dev->Clear(0xFF336699);  // binds the target's framebuffer for reading too
    std::vector<uint8_t> rgb(size_t(kW) * kH * 3);
    const bool write = state.range(0) != 0;
    std::string path;
    GetUserFilePath("bench_shot_raw.jpg", path);
    bench::Timed(state, [&] {
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        if (!EncodeRgbJpeg(rgb.data(), write ? path.c_str() : nullptr)) state.SkipWithError("not written");
    });
    b.dev->EndRenderTarget();
    b.dev->GetDevice()->ForgetGlState();
}
BENCHMARK(BM_ReadBackAndLibjpegEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
