// Particle sources stepped and drawn, and a skinned mesh animated and drawn,
// through the render device, beside raw OpenGL drawing the same vertices.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <unistd.h>

#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "timed.h"
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
    bench::Timed(state, [&] { frame(); });
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
    bench::Timed(state, [&] { frame(); });
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

// The engine's frame of the skinned mesh. Depth cleared every frame, as a
// scene frame does: with the depth of the frame before left in place, every
// fragment would fail the test. Each frame moves the animation on by half a
// key step first.
void EngineSkinnedFrame(SkinnedScene* ss) {
    Device()->ClearDepth();
    ss->mesh->Render();
    glFinish();
}

// The same mesh in straight GL: each frame the animation moved on as the
// engine moves it, the bones posed from the same keys, the same 5,000
// vertices skinned by the same bones on the processor into a copy of the
// vertex buffer, uploaded whole and drawn indexed through the same view,
// lighting and depth test (a program that does what the engine's
// translated diffuse program does). GL is left as the device expects it
// when it goes.
class RawSkinned {
public:
    explicit RawSkinned(SkinnedScene* ss) : ss_(ss), dev_(Device()) {
        // What the mesh file gave: bind positions, influences, bone offsets
        // and key tracks, the vertices (normals, texture coordinates) and
        // indices.
        data_ = Resources().GetMesh(ss->mesh->hmesh);
        g_ = data_->geometry;
        vertices_.resize(size_t(g_->vertex_count) * g_->vertex_size);
        dev_->LockVertexBuffer(g_->vertex_buffer);
        std::memcpy(vertices_.data(), g_->vertex_buffer->position, vertices_.size());
        dev_->UnlockVertexBuffer(g_->vertex_buffer);
        idx_.resize(g_->index_buffer->count);
        dev_->LockIndexBuffer(g_->index_buffer);
        std::memcpy(idx_.data(), g_->index_buffer->locked, idx_.size() * 2);
        dev_->UnlockIndexBuffer(g_->index_buffer);
        // The skeleton of SkinnedGridText: Root and Bone1 stay as bound,
        // Bone2 below Bone1 follows the one key track.
        track_ = g_->animations.count ? g_->animations.data[0] : nullptr;
        if (!track_ || track_->scale_keys.count || g_->skin.count != g_->vertex_count) {
            track_ = nullptr;
            return;
        }
        follows_.resize(g_->bones.count);
        for (uint32_t b = 0; b < g_->bones.count; ++b) follows_[b] = g_->bones.data[b].name == track_->frame_name;
        skinning_.resize(g_->bones.count);
        steps_ = std::trunc(data_->anim_length);
        GetLightDirection(&ss->engine, &light_dir_, &light_world_);

        static unsigned made_in = 0;
        if (!prog_ || made_in != bench::KeptGeneration()) {
            made_in = bench::KeptGeneration();
            // Clip positions as the device makes them: y mirrored (the back
            // buffer is shown flipped), half-pixel centres, depth from 0..1.
            prog_ = Program("#version 330\nuniform mat4 wvp;\nuniform vec3 light;\n"
                            "layout(location=0) in vec3 p;\nlayout(location=1) in vec3 n;\n"
                            "out vec3 nn;\nout vec3 ll;\nvoid main(){ nn = n; ll = light - p;\n"
                            "  vec4 c = wvp * vec4(p, 1.0);\n"
                            "  gl_Position = vec4(c.x + c.w / 1024.0, -c.y + c.w / 768.0, 2.0 * c.z - c.w, c.w); }\n",
                            "#version 330\nuniform vec4 ambient;\nuniform vec4 diffuse;\nin vec3 nn;\nin vec3 ll;\n"
                            "out vec4 o;\nvoid main(){ float lit = clamp(dot(normalize(nn), normalize(ll)), 0.0, 1.0);\n"
                            "  o = vec4(ambient.rgb + diffuse.rgb * lit, 1.0); }\n",
                            &vao_, &vbo_);
            wvp_at_ = glGetUniformLocation(prog_, "wvp");
            light_at_ = glGetUniformLocation(prog_, "light");
            ambient_at_ = glGetUniformLocation(prog_, "ambient");
            diffuse_at_ = glGetUniformLocation(prog_, "diffuse");
            glGenBuffers(1, &ibo_);
        }
        glBindVertexArray(vao_);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo_);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(idx_.size() * 2), idx_.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices_.size()), nullptr, GL_DYNAMIC_DRAW);
        // Depth tested and written, the depth cleared every frame, back
        // faces culled, as the mesh is drawn.
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glFrontFace(GL_CCW);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_TRUE);
        glClearDepth(1.0);
        glDisable(GL_BLEND);
    }
    ~RawSkinned() {
        glDisable(GL_CULL_FACE);
        glBindVertexArray(0);
        glUseProgram(0);
        dev_->GetDevice()->ForgetGlState();
    }
    RawSkinned(const RawSkinned&) = delete;
    RawSkinned& operator=(const RawSkinned&) = delete;

    // False when the mesh is not the skinned grid.
    bool Ready() const { return track_ != nullptr; }
    // The animation's place (0..1) before the next frame moves it on.
    void SetPose(float pose) { pose_ = pose; }
    float KeyStep() const { return 1.0f / steps_; }

    void Frame() {
        glClear(GL_DEPTH_BUFFER_BIT);
        // The pose: half a key step on, Bone2's rotation and translation
        // sampled at it, then each bone's offset by its frame.
        pose_ = float(std::fmod(pose_ + 0.5f / steps_, 1.0f));
        const float t = pose_ * data_->anim_length;
        plat::Matrix local;
        const MeshArray<RotationKey>& r = track_->rotation_keys;
        uint32_t k = 0;
        while (k < r.count && r.data[k].time < t) ++k;
        plat::Quat q = r.count ? r.data[k == r.count ? k - 1 : k].q : plat::Quat{0, 0, 0, 1};
        if (k > 0 && k < r.count && r.data[k].time != t)
            plat::D3DXQuaternionSlerp(&q, &r.data[k - 1].q, &r.data[k].q,
                                      (t - r.data[k - 1].time) / (r.data[k].time - r.data[k - 1].time));
        plat::D3DXMatrixRotationQuaternion(&local, &q);
        const MeshArray<VectorKey>& m = track_->translation_keys;
        k = 0;
        while (k < m.count && m.data[k].time < t) ++k;
        const VectorKey b = m.count ? m.data[k == m.count ? k - 1 : k] : VectorKey{};
        float move[3] = {b.x, b.y, b.z};
        if (k > 0 && k < m.count && b.time != t) {
            const VectorKey& a = m.data[k - 1];
            const float f = (t - a.time) / (b.time - a.time);
            move[0] = a.x * (1 - f) + b.x * f, move[1] = a.y * (1 - f) + b.y * f, move[2] = a.z * (1 - f) + b.z * f;
        }
        for (int c = 0; c < 3; ++c) local.m[3][c] += move[c];
        for (uint32_t i = 0; i < g_->bones.count; ++i)
            if (follows_[i])
                plat::D3DXMatrixMultiply(&skinning_[i], &g_->bones.data[i].offset, &local);
            else
                skinning_[i] = g_->bones.data[i].offset;
        // The vertices: each bind position moved by its weighted bones.
        for (uint32_t i = 0; i < g_->vertex_count; ++i) {
            const plat::Vec3& p = g_->bind_positions.data[i];
            const SkinInfluence& s = g_->skin.data[i];
            float out[3] = {};
            for (int j = 0; j < s.count && j < 4; ++j) {
                const auto& w = skinning_[s.bones[j]].m;
                const float f = float(s.weights[j]) * 0.0039215689f;
                for (int c = 0; c < 3; ++c) out[c] += (p.x * w[0][c] + p.y * w[1][c] + p.z * w[2][c] + w[3][c]) * f;
            }
            std::memcpy(&vertices_[size_t(i) * g_->vertex_size], out, 12);
        }
        // The view: the mesh's world by the camera's view and projection,
        // the light brought into the mesh's space.
        plat::Matrix view_proj, wvp, inv;
        plat::D3DXMatrixMultiply(&view_proj, &ss_->camera->view, &ss_->camera->projection);
        plat::D3DXMatrixMultiply(&wvp, &ss_->mesh->world, &view_proj);
        plat::D3DXMatrixInverse(&inv, nullptr, &ss_->mesh->world);
        const plat::Vec3& lw = light_world_;
        const plat::Vec3 light{lw.x * inv.m[0][0] + lw.y * inv.m[1][0] + lw.z * inv.m[2][0] + inv.m[3][0],
                               lw.x * inv.m[0][1] + lw.y * inv.m[1][1] + lw.z * inv.m[2][1] + inv.m[3][1],
                               lw.x * inv.m[0][2] + lw.y * inv.m[1][2] + lw.z * inv.m[2][2] + inv.m[3][2]};
        glUseProgram(prog_);
        glUniformMatrix4fv(wvp_at_, 1, GL_FALSE, &wvp.m[0][0]);
        glUniform3f(light_at_, light.x, light.y, light.z);
        glUniform4f(ambient_at_, 0, 0, 0, 1);
        glUniform4f(diffuse_at_, 1, 1, 1, 1);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(vertices_.size()), vertices_.data());
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, GLsizei(g_->vertex_size), nullptr);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, GLsizei(g_->vertex_size), reinterpret_cast<void*>(12));
        glDrawElements(GL_TRIANGLES, GLsizei(idx_.size()), GL_UNSIGNED_SHORT, nullptr);
        glFinish();
    }

private:
    static inline GLuint prog_ = 0, vao_ = 0, vbo_ = 0, ibo_ = 0;
    static inline GLint wvp_at_ = -1, light_at_ = -1, ambient_at_ = -1, diffuse_at_ = -1;
    SkinnedScene* ss_;
    D3DRenderDevice* dev_;
    MeshData* data_ = nullptr;
    MeshGeometry* g_ = nullptr;
    const FrameAnimation* track_ = nullptr;
    std::vector<uint8_t> vertices_;
    std::vector<uint16_t> idx_;
    std::vector<int> follows_;
    std::vector<plat::Matrix> skinning_;
    float steps_ = 1, pose_ = 0;
    plat::Vec3 light_dir_{}, light_world_{};
    // Culling, depth and scissor as they were once it goes.
    RawGlState raw_;
};

// The pose the two sides of the skinned pair compare their pictures at.
constexpr float kCheckPose = 0.25f;

// The check of the skinned pair, whichever side ran and whether or not the
// other ran before it: the mesh at the check pose drawn on black by the
// engine and by raw GL. They must draw the same pixels (a few along the
// mesh's edge may round the other way).
bool SkinnedSidesDrawAlike(SkinnedScene* ss) {
    std::vector<uint8_t> engine(size_t(1024) * 768 * 4), raw(engine.size());
    Engine* saved = CurrentEngine();
    Device();
    SetCurrentEngine(&ss->engine);
    {
        RawSkinned side(ss);
        if (!side.Ready()) return false;
        side.SetPose(kCheckPose - 0.5f * side.KeyStep());
        DrawOnBlack([&] { side.Frame(); });
        glReadPixels(0, 0, 1024, 768, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
    }
    const MeshData* data = Resources().GetMesh(ss->mesh->hmesh);
    ss->mesh->position1 = kCheckPose - 0.5f / std::trunc(data->anim_length);
    DrawOnBlack([&] { EngineSkinnedFrame(ss); });
    glReadPixels(0, 0, 1024, 768, GL_RGBA, GL_UNSIGNED_BYTE, engine.data());
    SetCurrentEngine(saved);
    size_t lit = 0, differ = 0;
    for (size_t i = 0; i < raw.size(); i += 4) {
        lit += raw[i + 3] && (raw[i] | raw[i + 1] | raw[i + 2]);
        for (size_t c = 0; c < 3; ++c)
            if (std::abs(int(engine[i + c]) - int(raw[i + c])) > 2) {
                ++differ;
                break;
            }
    }
    return lit > 0 && differ * 200 < lit;
}

void BM_SkinnedMesh5kAnimateAndDraw(benchmark::State& state) {
    Engine* saved = CurrentEngine();
    SkinnedScene* ss = &bench::Kept<SkinnedScene>();
    Device();
    SetCurrentEngine(&ss->engine);
    auto frame = [ss] { EngineSkinnedFrame(ss); };
    bench::Timed(state, frame);
    bench::RequireDrawn(state, frame);
    SetCurrentEngine(saved);
    if (!SkinnedSidesDrawAlike(ss)) state.SkipWithError("the engine and raw GL drew different pictures");
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_SkinnedMesh5kAnimateAndDraw)->Unit(benchmark::kMillisecond);

void BM_RawGlPreSkinned5k(benchmark::State& state) {
    SkinnedScene* ss = &bench::Kept<SkinnedScene>();
    {
        RawSkinned side(ss);
        if (!side.Ready()) {
            state.SkipWithError("not the skinned grid");
            return;
        }
        auto frame = [&side] { side.Frame(); };
        bench::Timed(state, frame);
        bench::RequireDrawn(state, frame);
    }
    if (!SkinnedSidesDrawAlike(ss)) state.SkipWithError("the engine and raw GL drew different pictures");
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_RawGlPreSkinned5k)->Unit(benchmark::kMillisecond);

}  // namespace
