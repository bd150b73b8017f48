// Particle sources stepped and drawn, and a skinned mesh animated and drawn,
// through the render device, beside raw OpenGL drawing the same vertices.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tools/diffuse_shader.h"
#include "app/engine.h"
#include "bench_device.h"
#include "kept.h"
#include "samples_drawn.h"
#include "gl_program.h"
#include "temp_folder.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "media/mesh/mesh_data.h"
#include "render/shader_program.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/particle_source.h"

namespace {

constexpr int kParticles = 10000;

D3DRenderDevice* Device() {
    // Current and the render device on every call: another benchmark may
    // have made its own so in between.
    static D3DRenderDevice* dev = CreateBenchDevice(1024, 768);
    bench::UseDevice(dev);
    return dev;
}

// An 8 x 8 white 32-bit TGA in a temporary folder.
std::string SparkImage() {
    static std::string name = [] {
        static bench::TempFolder folder("quild-bench-objects");
        if (folder.path().empty()) std::abort();
        const std::string path = folder.file("spark.tga");
        uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 8};
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) std::abort();
        std::fwrite(header, 1, sizeof header, f);
        std::vector<uint8_t> px(8 * 8 * 4, 255);
        std::fwrite(px.data(), 1, px.size(), f);
        std::fclose(f);
        return folder.file("spark");
    }();
    return name;
}

struct ParticleScene {
    Engine engine;
    GameScene* scene = nullptr;
    Camera* camera = nullptr;
    GameParticleSource* source = nullptr;

    ParticleScene() {
        Device();
        SetCurrentEngine(&engine);
        engine.screenRect.Set(0, 0, 1024, 768);
        engine.virtualRect.Set(0, 0, 1024, 768);
        RegisterAllClassProperties();
        scene = ListAppendNew(engine.scenes);
        scene->viewtype = kViewCube;
        engine.currentScene = scene;
        camera = static_cast<Camera*>(CreateObjectByClass("view"));
        camera->LookAt({0, 0, 0}, {0, 0, 1});
        camera->SetPerspective(60, 4.0f / 3.0f, 1, 10000);
        camera->fov = 60;
        camera->dirty = true;
        camera->UpdateView();
        camera->Apply();
        engine.activeCamera = camera;
        source = static_cast<GameParticleSource*>(CreateObjectByClass("psource"));
        ListAppend(scene->points, static_cast<PointSceneObject*>(source));
        source->pimage = Resources().DeclareImage(SparkImage().c_str(), 0);
        source->distance = 400;
        source->source_size = {200, 150, 50};
        source->lifetime[0] = 30, source->lifetime[1] = 90;
        source->velX[0] = -1, source->velX[1] = 1;
        source->velY[0] = -1, source->velY[1] = 1;
        source->scaleU[0] = source->scaleU[1] = 1;
        source->scaleV[0] = source->scaleV[1] = 1;
        source->rotSpeed[0] = 1, source->rotSpeed[1] = 3;
        source->sAlphaKeys = CommonStrings().Intern("0,0,0.3,1,1,0");
        source->blendmode = 1;
        source->color = 0xFFFFA040u;
        source->particle_count = kParticles;
        source->OnChanged(0xFFFFFFFFu);
    }
    ParticleScene(const ParticleScene&) = delete;
    ParticleScene& operator=(const ParticleScene&) = delete;
    ~ParticleScene() {
        Device();
        SetCurrentEngine(&engine);
        scene->FreeObjects();
        delete camera;
        engine.activeCamera = nullptr;
        Resources().Clear();
        SetCurrentEngine(nullptr);
    }
};

void BM_Particles10kStepAndDraw(benchmark::State& state) {
    Engine* saved = CurrentEngine();
    ParticleScene* ps = &bench::Kept<ParticleScene>();
    Device();
    SetCurrentEngine(&ps->engine);
    auto frame = [&] {
        ps->source->Render();
        glFinish();
    };
    for (auto _ : state) frame();
    bench::RequireDrawn(state, frame);
    if (ps->source->ParticleCount() != size_t(kParticles)) state.SkipWithError("no particles");
    SetCurrentEngine(saved);
    state.SetItemsProcessed(state.iterations() * kParticles);
}
BENCHMARK(BM_Particles10kStepAndDraw)->Unit(benchmark::kMillisecond);

// Culling, depth and scissor off while it lives, then as they were.
class RawGlState {
public:
    RawGlState() {
        for (int i = 0; i < 3; ++i) {
            was_[i] = glIsEnabled(kCaps[i]);
            glDisable(kCaps[i]);
        }
    }
    ~RawGlState() {
        for (int i = 0; i < 3; ++i)
            if (was_[i]) glEnable(kCaps[i]);
    }
    RawGlState(const RawGlState&) = delete;
    RawGlState& operator=(const RawGlState&) = delete;

private:
    static constexpr GLenum kCaps[3] = {GL_CULL_FACE, GL_DEPTH_TEST, GL_SCISSOR_TEST};
    GLboolean was_[3] = {};
};

// A linked program of the two GLSL stages, with a vertex array and a
// vertex buffer for it.
GLuint Program(const char* vs, const char* fs, GLuint* vao, GLuint* vbo) {
    GLuint prog = LinkGlProgram(vs, fs);
    glGenVertexArrays(1, vao);
    glGenBuffers(1, vbo);
    return prog;
}

// The same 60,000 vertices (position, colour, texture coordinates) uploaded
// and drawn in one call, straight GL.
void BM_RawGlParticleVertices60k(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    struct V {
        float x, y, z;
        uint32_t c;
        float u, v;
    };
    std::vector<V> v;
    for (int i = 0; i < kParticles; ++i) {
        const float x = float((i * 7) % 400) - 200, y = float((i * 13) % 300) - 150;
        const V q[6] = {{x, y + 8, 400, 0xFFFFA040u, 0, 0},     {x + 8, y + 8, 400, 0xFFFFA040u, 1, 0},
                        {x, y, 400, 0xFFFFA040u, 0, 1},         {x, y, 400, 0xFFFFA040u, 0, 1},
                        {x + 8, y + 8, 400, 0xFFFFA040u, 1, 0}, {x + 8, y, 400, 0xFFFFA040u, 1, 1}};
        v.insert(v.end(), q, q + 6);
    }
    static GLuint prog = 0, vao = 0, vbo = 0, tex = 0;
    static unsigned made_in = 0;
    if (!prog || made_in != bench::KeptGeneration()) {
        made_in = bench::KeptGeneration();
        prog = Program("#version 330\nlayout(location=0) in vec3 p;\nlayout(location=1) in vec4 c;\n"
                       "layout(location=2) in vec2 t;\nout vec2 uv;\nout vec4 col;\n"
                       "void main(){ uv = t; col = c; gl_Position = vec4(p.x / 230.0, p.y / 173.0, 0.5, 1.0); }\n",
                       "#version 330\nuniform sampler2D s;\nin vec2 uv;\nin vec4 col;\n"
                       "out vec4 o;\nvoid main(){ o = texture(s, uv) * col; }\n",
                       &vao, &vbo);
        glGenTextures(1, &tex);
        std::vector<uint32_t> px(8 * 8, 0xFFFFFFFF);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 8, 8, 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    // Whatever the device left on (culling, depth) is off for the raw draw
    // and back on afterwards, so its caches still hold.
    RawGlState raw;
    auto frame = [&] {
        glUseProgram(prog);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * sizeof(V)), v.data(), GL_STREAM_DRAW);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(V), nullptr);
        glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(V), reinterpret_cast<void*>(12));
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(V), reinterpret_cast<void*>(16));
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, tex);
        glBindSampler(0, 0);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(v.size()));
        glFinish();
    };
    for (auto _ : state) frame();
    bench::RequireDrawn(state, frame);
    // Leave GL as the device expects it: its shadows no longer hold.
    glDisable(GL_BLEND);
    glUseProgram(0);
    dev->GetDevice()->ForgetGlState();
    state.SetItemsProcessed(state.iterations() * kParticles);
}
BENCHMARK(BM_RawGlParticleVertices60k)->Unit(benchmark::kMillisecond);

// A grid of 50 x 100 vertices bound to two bones that bend it, as .x text.
std::string SkinnedGridText() {
    constexpr int kCols = 50, kRows = 100;
    std::string t = "xof 0303txt 0032\nFrame Root {\n FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
                    " Frame Bone1 {\n  FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
                    "  Frame Bone2 {\n   FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,50,0,1;; }\n  }\n }\n"
                    " Frame Body {\n  FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n  Mesh Grid {\n";
    const int n = kCols * kRows, faces = (kCols - 1) * (kRows - 1) * 2;
    auto list = [](std::string& out, int count, auto item) {
        for (int i = 0; i < count; ++i) out += item(i) + (i + 1 < count ? ",\n" : ";\n");
    };
    t += std::to_string(n) + ";\n";
    list(t, n, [&](int i) { return std::to_string(i % kCols) + ";" + std::to_string(i / kCols) + ";0;"; });
    auto face = [&](int f) {
        const int q = f / 2, x = q % (kCols - 1), y = q / (kCols - 1), a = y * kCols + x;
        return f % 2 ? "3;" + std::to_string(a + 1) + "," + std::to_string(a + kCols) + "," + std::to_string(a + kCols + 1) + ";"
                     : "3;" + std::to_string(a) + "," + std::to_string(a + kCols) + "," + std::to_string(a + 1) + ";";
    };
    t += std::to_string(faces) + ";\n";
    list(t, faces, face);
    t += "MeshMaterialList {\n1;\n" + std::to_string(faces) + ";\n";
    for (int f = 0; f < faces; ++f) t += f + 1 < faces ? "0," : "0;;\n";
    t += "Material {\n1.0;1.0;1.0;1.0;;\n0.0;\n0.0;0.0;0.0;;\n0.0;0.0;0.0;;\n}\n}\n";
    t += "MeshNormals {\n" + std::to_string(n) + ";\n";
    list(t, n, [](int) { return std::string("0;0;-1;"); });
    t += std::to_string(faces) + ";\n";
    list(t, faces, face);
    t += "}\nMeshTextureCoords {\n" + std::to_string(n) + ";\n";
    list(t, n, [&](int i) { return std::to_string(float(i % kCols) / kCols) + ";" + std::to_string(float(i / kCols) / kRows) + ";"; });
    t += "}\nXSkinMeshHeader {\n2;\n4;\n2;\n}\n";
    for (int b = 0; b < 2; ++b) {
        t += std::string("SkinWeights {\n\"Bone") + char('1' + b) + "\";\n" + std::to_string(n) + ";\n";
        for (int i = 0; i < n; ++i) t += std::to_string(i) + (i + 1 < n ? "," : ";\n");
        for (int i = 0; i < n; ++i) {
            const float w = float(i / kCols) / float(kRows - 1);
            t += std::to_string(b ? w : 1.0f - w) + (i + 1 < n ? "," : ";\n");
        }
        t += b ? "1,0,0,0,0,1,0,0,0,0,1,0,0,-50,0,1;;\n}\n" : "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;\n}\n";
    }
    t += "}\n }\n}\nAnimationSet Bend {\n Animation {\n  AnimationKey {\n   4;\n   3;\n"
         "   0;16;1,0,0,0,0,1,0,0,0,0,1,0,0,50,0,1;;,\n"
         "   10;16;0,1,0,0,-1,0,0,0,0,0,1,0,0,50,0,1;;,\n"
         "   20;16;1,0,0,0,0,1,0,0,0,0,1,0,0,50,0,1;;;\n  }\n  {Bone2}\n }\n}\n";
    return t;
}

struct SkinnedScene : ParticleScene {
    GameMesh* mesh = nullptr;
    SkinnedScene() {
        const std::string folder = SparkImage().substr(0, SparkImage().rfind('/'));
        FILE* f = std::fopen((folder + "/grid.x").c_str(), "wb");
        if (!f) std::abort();
        const std::string text = SkinnedGridText();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        engine.shadersOn = true;
        if (!Device()->FindShaderProgram("diff")) Device()->CreateShaderProgram("diff", kDiffuseVs, kDiffusePs);
        mesh = ListAppendNew(scene->meshes);
        mesh->SetDefaults();
        mesh->hmesh = Resources().DeclareMesh((folder + "/grid").c_str(), 0);
        mesh->animated = true;
        mesh->SetWorldPosition({0, -40, 150});
        mesh->OnChanged(kMeshBitsPlacement | kMeshBitAnimated);
        MeshData* data = Resources().GetMesh(mesh->hmesh);
        if (!data || !data->Animated() || !data->geometry || data->geometry->vertex_count != 5000) std::abort();
    }
};

void BM_SkinnedMesh5kAnimateAndDraw(benchmark::State& state) {
    Engine* saved = CurrentEngine();
    SkinnedScene* ss = &bench::Kept<SkinnedScene>();
    Device();
    SetCurrentEngine(&ss->engine);
    // Depth cleared every frame, as a scene frame does: with the depth of
    // the frame before left in place, every fragment would fail the test.
    auto frame = [&] {
        Device()->ClearDepth();
        ss->mesh->Render();
        glFinish();
    };
    for (auto _ : state) frame();
    bench::RequireDrawn(state, frame);
    SetCurrentEngine(saved);
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_SkinnedMesh5kAnimateAndDraw)->Unit(benchmark::kMillisecond);

// The same 5,000 vertices, already skinned, uploaded and drawn indexed,
// straight GL.
void BM_RawGlPreSkinned5k(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    constexpr int kCols = 50, kRows = 100;
    std::vector<float> v;
    for (int i = 0; i < kCols * kRows; ++i) {
        const float x = float(i % kCols), y = float(i / kCols);
        const float q[8] = {x, y, 0, 0, 0, -1, x / kCols, y / kRows};
        v.insert(v.end(), q, q + 8);
    }
    std::vector<uint16_t> idx;
    for (int y = 0; y + 1 < kRows; ++y)
        for (int x = 0; x + 1 < kCols; ++x) {
            const uint16_t a = uint16_t(y * kCols + x);
            const uint16_t tri[6] = {a, uint16_t(a + kCols), uint16_t(a + 1), uint16_t(a + 1), uint16_t(a + kCols),
                                     uint16_t(a + kCols + 1)};
            idx.insert(idx.end(), tri, tri + 6);
        }
    static GLuint prog = 0, vao = 0, vbo = 0, ibo = 0;
    static unsigned made_in = 0;
    if (!prog || made_in != bench::KeptGeneration()) {
        made_in = bench::KeptGeneration();
        prog = Program("#version 330\nlayout(location=0) in vec3 p;\nlayout(location=1) in vec3 n;\n"
                       "out vec3 nn;\nvoid main(){ nn = n; gl_Position = vec4(p.x / 60.0, p.y / 120.0, 0.5, 1.0); }\n",
                       "#version 330\nin vec3 nn;\nout vec4 o;\n"
                       "void main(){ o = vec4(0.2 + 0.8 * clamp(dot(normalize(nn), vec3(0.0, 0.0, -1.0)), 0.0, 1.0)); }\n",
                       &vao, &vbo);
        glGenBuffers(1, &ibo);
    }
    glBindVertexArray(vao);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(idx.size() * 2), idx.data(), GL_STATIC_DRAW);
    RawGlState raw;
    // Depth tested and written, the depth cleared every frame, as the mesh
    // is drawn.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    auto frame = [&] {
        glClear(GL_DEPTH_BUFFER_BIT);
        glUseProgram(prog);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * 4), v.data(), GL_STREAM_DRAW);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 32, nullptr);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 32, reinterpret_cast<void*>(12));
        glDrawElements(GL_TRIANGLES, GLsizei(idx.size()), GL_UNSIGNED_SHORT, nullptr);
        glFinish();
    };
    for (auto _ : state) frame();
    bench::RequireDrawn(state, frame);
    glBindVertexArray(0);
    glUseProgram(0);
    dev->GetDevice()->ForgetGlState();
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_RawGlPreSkinned5k)->Unit(benchmark::kMillisecond);

}  // namespace
