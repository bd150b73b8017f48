#include "platform/gpu/device.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/gpu/direct3d.h"
#include "platform/gpu/ffp_program.h"
#include "platform/gpu/driver_modules.h"
#include "platform/gpu/gl_api.h"
#include "platform/gpu/gl_formats.h"
#include "platform/gpu/hlsl/shader_code.h"
#include "platform/gpu/pixel_convert.h"

namespace plat::gpu {

// A linked GL program and where its uniforms are.
struct FfpProgram {
    GLuint program = 0;
    uint32_t version = 0;
    GLint worldView = -1, proj = -1, normal = -1, viewport = -1, tfactor = -1, alphaRef = -1;
    GLint matDiffuse = -1, matAmbient = -1, matSpecular = -1, matEmissive = -1, matPower = -1;
    GLint globalAmbient = -1, lightPos = -1, lightDir = -1, lightDiffuse = -1, lightSpecular = -1,
          lightAmbient = -1, lightAtten = -1;
    GLint pixel = -1;
};

namespace {

constexpr size_t kStreamBytes = 4u << 20;

// A viewport coordinate or edge (unsigned, and a script may ask for any) as
// GL's signed int: far ones stop at the int range, past every screen.
int32_t ViewportInt(uint64_t v) { return int32_t(std::min<uint64_t>(v, INT32_MAX)); }

Matrix Mul(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
            r.m[i][j] = s;
        }
    return r;
}

// The matrix that carries normals for positions carried by m's upper 3 x 3
// (row vectors): the inverse transpose, stored row by row.
void NormalMatrix(const Matrix& m, float out[9]) {
    const float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
    const float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
    const float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float det = a * A + b * B + c * C;
    const float s = std::fabs(det) > 1e-20f ? 1.0f / det : 0.0f;
    // Inverse transpose = cofactor matrix / det.
    const float cof[9] = {A, B, C, -(b * i - c * h), a * i - c * g, -(a * h - b * g),
                          b * f - c * e, -(a * f - c * d), a * e - b * d};
    for (int k = 0; k < 9; ++k) out[k] = cof[k] * s;
}

Vec3 TransformPoint(const Vec3& p, const Matrix& m) {
    return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
            p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
            p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

Vec3 TransformVector(const Vec3& p, const Matrix& m) {
    return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0],
            p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1],
            p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2]};
}

void ColorToFloats(uint32_t argb, float out[4]) {
    out[0] = float((argb >> 16) & 255) / 255.0f;
    out[1] = float((argb >> 8) & 255) / 255.0f;
    out[2] = float(argb & 255) / 255.0f;
    out[3] = float(argb >> 24) / 255.0f;
}

GLenum BlendFactor(uint32_t b) {
    switch (b) {
        case blend::Zero: return GL_ZERO;
        case blend::One: return GL_ONE;
        case blend::SrcColor: return GL_SRC_COLOR;
        case blend::InvSrcColor: return GL_ONE_MINUS_SRC_COLOR;
        case blend::SrcAlpha: return GL_SRC_ALPHA;
        case blend::InvSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
        case blend::DestAlpha: return GL_DST_ALPHA;
        case blend::InvDestAlpha: return GL_ONE_MINUS_DST_ALPHA;
        case blend::DestColor: return GL_DST_COLOR;
        case blend::InvDestColor: return GL_ONE_MINUS_DST_COLOR;
        case blend::SrcAlphaSat: return GL_SRC_ALPHA_SATURATE;
        default: return GL_ONE;
    }
}

GLenum BlendEquation(uint32_t op) {
    switch (op) {
        case 2: return GL_FUNC_SUBTRACT;
        case 3: return GL_FUNC_REVERSE_SUBTRACT;
        case 4: return GL_MIN;
        case 5: return GL_MAX;
        default: return GL_FUNC_ADD;
    }
}

GLenum CompareFunc(uint32_t f) {
    switch (f) {
        case cmp::Never: return GL_NEVER;
        case cmp::Less: return GL_LESS;
        case cmp::Equal: return GL_EQUAL;
        case cmp::LessEqual: return GL_LEQUAL;
        case cmp::Greater: return GL_GREATER;
        case cmp::NotEqual: return GL_NOTEQUAL;
        case cmp::GreaterEqual: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

GLenum AddressMode(uint32_t a) {
    switch (a) {
        case tadd::Mirror: return GL_MIRRORED_REPEAT;
        case tadd::Clamp:
        case tadd::MirrorOnce: return GL_CLAMP_TO_EDGE;
        case tadd::Border: return GL_CLAMP_TO_BORDER;
        default: return GL_REPEAT;
    }
}

GLenum GlPrimitive(PrimitiveType t) {
    switch (t) {
        case PrimitiveType::PointList: return GL_POINTS;
        case PrimitiveType::LineList: return GL_LINES;
        case PrimitiveType::LineStrip: return GL_LINE_STRIP;
        case PrimitiveType::TriangleStrip: return GL_TRIANGLE_STRIP;
        case PrimitiveType::TriangleFan: return GL_TRIANGLE_FAN;
        default: return GL_TRIANGLES;
    }
}

uint32_t VertexCount(PrimitiveType t, uint32_t primitives) {
    switch (t) {
        case PrimitiveType::PointList: return primitives;
        case PrimitiveType::LineList: return primitives * 2;
        case PrimitiveType::LineStrip: return primitives + 1;
        case PrimitiveType::TriangleList: return primitives * 3;
        case PrimitiveType::TriangleStrip:
        case PrimitiveType::TriangleFan: return primitives + 2;
        default: return 0;
    }
}

GLuint CompileStage(GLenum type, const std::string& src, std::string* log) {
    GLuint s = glCreateShader(type);
    const char* p = src.c_str();
    glShaderSource(s, 1, &p, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buf[4096] = {};
        glGetShaderInfoLog(s, sizeof buf - 1, nullptr, buf);
        if (log) *log = buf;
        glDeleteShader(s);
        return 0;
    }
    return s;
}

GLuint LinkProgram(const std::string& vs, const std::string& fs, std::string* log) {
    GLuint v = CompileStage(GL_VERTEX_SHADER, vs, log);
    if (!v) return 0;
    GLuint f = CompileStage(GL_FRAGMENT_SHADER, fs, log);
    if (!f) {
        glDeleteShader(v);
        return 0;
    }
    GLuint p = glCreateProgram();
    glAttachShader(p, v);
    glAttachShader(p, f);
    glLinkProgram(p);
    glDeleteShader(v);
    glDeleteShader(f);
    GLint ok = 0;
    glGetProgramiv(p, GL_LINK_STATUS, &ok);
    if (!ok) {
        char buf[4096] = {};
        glGetProgramInfoLog(p, sizeof buf - 1, nullptr, buf);
        if (log) *log = buf;
        glDeleteProgram(p);
        return 0;
    }
    return p;
}

const char* kPresentVertex = R"(#version 330
out vec2 v_uv;
void main() {
    vec2 p = vec2(float((gl_VertexID & 1) * 4 - 1), float((gl_VertexID & 2) * 2 - 1));
    v_uv = p * 0.5 + 0.5;
    gl_Position = vec4(p, 0.0, 1.0);
}
)";

const char* kPresentFragment = R"(#version 330
uniform sampler2D u_image;
uniform sampler2D u_ramp;
in vec2 v_uv;
out vec4 o_color;
void main() {
    vec3 c = texture(u_image, v_uv).rgb;
    ivec3 i = ivec3(clamp(c, 0.0, 1.0) * 255.0 + 0.5);
    o_color = vec4(texelFetch(u_ramp, ivec2(i.r, 0), 0).r, texelFetch(u_ramp, ivec2(i.g, 0), 0).g,
                   texelFetch(u_ramp, ivec2(i.b, 0), 0).b, 1.0);
}
)";

// The GL state the device last set, so equal settings cost no GL call.
// When it is not valid nothing in it is known: the next ApplyRenderStates
// starts from values no setting has, so a value it does not set this time
// (the scissor box while the scissor is off, say) is still unknown later,
// and is set when it is next needed.
struct GlShadow {
    static constexpr GLenum kUnknownEnum = 0xFFFFFFFFu;
    static constexpr GLint kUnknownInt = -1;

    bool valid = false;
    bool blend = false;
    GLenum src = kUnknownEnum, dst = kUnknownEnum, srcA = kUnknownEnum, dstA = kUnknownEnum, eq = kUnknownEnum,
           eqA = kUnknownEnum;
    bool depthTest = false;
    GLint depthMask = kUnknownInt;
    GLenum depthFunc = kUnknownEnum;
    bool cull = false;
    GLenum cullFace = kUnknownEnum;
    bool scissor = false;
    GLint sx = 0, sy = 0;
    GLsizei sw = kUnknownInt, sh = kUnknownInt;
    uint32_t colorMask = 0xFFFFFFFFu;
    GLenum polygonMode = kUnknownEnum;
    GLint vx = -1, vy = -1;
    GLsizei vw = -1, vh = -1;
    float zmin = -1, zmax = -1;
};


void LookUp(FfpProgram& p) {
    auto u = [&](const char* n) { return glGetUniformLocation(p.program, n); };
    p.worldView = u("u_worldView");
    p.proj = u("u_proj");
    p.normal = u("u_normalMatrix");
    p.viewport = u("u_viewport");
    p.tfactor = u("u_tfactor");
    p.alphaRef = u("u_alphaRef");
    p.matDiffuse = u("u_matDiffuse");
    p.matAmbient = u("u_matAmbient");
    p.matSpecular = u("u_matSpecular");
    p.matEmissive = u("u_matEmissive");
    p.matPower = u("u_matPower");
    p.globalAmbient = u("u_globalAmbient");
    p.lightPos = u("u_lightPos");
    p.lightDir = u("u_lightDir");
    p.lightDiffuse = u("u_lightDiffuse");
    p.lightSpecular = u("u_lightSpecular");
    p.lightAmbient = u("u_lightAmbient");
    p.lightAtten = u("u_lightAtten");
    p.pixel = u(hlsl::kPixelScaleUniform);
    GLint tex = u("u_tex0");
    glUseProgram(p.program);
    if (tex >= 0) glUniform1i(tex, 0);
}

}  // namespace

struct Device::Gl {
    GLuint vao = 0, emptyVao = 0;
    GLuint streamVbo = 0, streamIbo = 0;
    size_t streamPos = 0, streamIboPos = 0;
    GLuint drawFbo = 0, readFbo = 0, blitFbo = 0;
    GLuint attachedColor = 0, attachedDepth = 0;
    GLenum attachedTarget = 0;
    GLint attachedLevel = 0;
    bool fboDirty = true;
    GLuint samplers[kMaxStages] = {};
    bool samplerDirty[kMaxStages] = {};
    GLuint unitTexture[kMaxStages] = {};
    GLenum unitTarget[kMaxStages] = {};
    GLuint program = 0;
    uint32_t attribEnabled = 0;
    bool attribKnown = true;  // false: the arrays' enables are unknown
    GLuint arrayBuffer = 0;
    GlShadow shadow;
    uint32_t ffVersion = 1;
    std::unordered_map<uint64_t, FfpProgram> ffp;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, FfpProgram> pairs;
    GLuint presentProgram = 0, gammaTexture = 0, frontTexture = 0, frontFbo = 0;
    uint32_t frontW = 0, frontH = 0;
    bool gammaDirty = true;
    bool gammaIdentity = true;  // the ramp maps every value to itself
    bool frontIsBack = false;   // the last present showed the back buffer as it is
    GLuint scratchTexture = 0, stretchTexture = 0;
    Texture* backTexture = nullptr;
};

// ------------------------------------------------------------ life cycle

Device::Device(Direct3D* d3d, const PresentParameters& params) : d3d_(d3d), params_(params), gl_(new Gl) {
    d3d_->AddRef();
    for (int i = 0; i < 256; ++i) {
        uint16_t v = uint16_t(i * 257);
        gamma_.red[i] = gamma_.green[i] = gamma_.blue[i] = v;
    }
}

Device::~Device() {
    MakeCurrent();
    for (auto& t : textures_) {
        if (t) t->Release();
        t = nullptr;
    }
    if (stream_) stream_->Release();
    if (indices_) indices_->Release();
    if (vertexShader_) vertexShader_->Release();
    if (pixelShader_) pixelShader_->Release();
    stream_ = nullptr;
    indices_ = nullptr;
    vertexShader_ = nullptr;
    pixelShader_ = nullptr;
    if (renderTarget_) renderTarget_->Release();
    if (depthStencil_) depthStencil_->Release();
    renderTarget_ = depthStencil_ = nullptr;
    DestroyBackBuffer();
    // Whatever the caller still holds loses its GL objects now.
    std::vector<DeviceChild*> left(children_.begin(), children_.end());
    for (DeviceChild* c : left) {
        c->DropGpu();
        c->device_ = nullptr;
    }
    children_.clear();
    if (context_) {
        for (auto& [k, p] : gl_->ffp) glDeleteProgram(p.program);
        for (auto& [k, p] : gl_->pairs) glDeleteProgram(p.program);
        glDeleteProgram(gl_->presentProgram);
        GLuint textures[] = {gl_->gammaTexture, gl_->frontTexture, gl_->scratchTexture, gl_->stretchTexture};
        glDeleteTextures(4, textures);
        GLuint fbos[] = {gl_->drawFbo, gl_->readFbo, gl_->blitFbo, gl_->frontFbo};
        glDeleteFramebuffers(4, fbos);
        GLuint buffers[] = {gl_->streamVbo, gl_->streamIbo};
        glDeleteBuffers(2, buffers);
        glDeleteSamplers(kMaxStages, gl_->samplers);
        GLuint vaos[] = {gl_->vao, gl_->emptyVao};
        glDeleteVertexArrays(2, vaos);
        SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window_), nullptr);
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context_));
    }
    if (ownWindow_ && window_) SDL_DestroyWindow(static_cast<SDL_Window*>(window_));
    d3d_->Release();
}

void Device::ForgetGlState() {
    MakeCurrent();
    Gl& g = *gl_;
    g.shadow.valid = false;
    g.program = 0;
    g.arrayBuffer = 0;
    g.attribKnown = false;
    g.fboDirty = true;
    for (int u = 0; u < kMaxStages; ++u) {
        g.unitTexture[u] = 0;
        g.unitTarget[u] = 0;
        g.samplerDirty[u] = true;
    }
    ++g.ffVersion;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void Device::MakeCurrent() {
    if (context_ && SDL_GL_GetCurrentContext() != context_)
        SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window_), static_cast<SDL_GLContext>(context_));
}

Result Device::Init(std::string* error) {
    if (params_.backBufferFormat == fmt::Unknown) params_.backBufferFormat = fmt::X8R8G8B8;
    if (params_.multiSampleType > 1) {
        *error = "multisampled back buffers are not supported";
        return kNotAvailable;
    }
    SetGLWindowAttributes();
    if (params_.deviceWindow) {
        window_ = params_.deviceWindow;
    } else {
        int w = params_.backBufferWidth ? int(params_.backBufferWidth) : 640;
        int h = params_.backBufferHeight ? int(params_.backBufferHeight) : 480;
        window_ = SDL_CreateWindow("device", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!window_) {
            *error = std::string("cannot create a window: ") + SDL_GetError();
            return kNotAvailable;
        }
        ownWindow_ = true;
    }
    SDL_Window* win = static_cast<SDL_Window*>(window_);
    if (params_.backBufferWidth == 0 || params_.backBufferHeight == 0) {
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(win, &w, &h);
        if (params_.backBufferWidth == 0) params_.backBufferWidth = uint32_t(std::max(w, 1));
        if (params_.backBufferHeight == 0) params_.backBufferHeight = uint32_t(std::max(h, 1));
    }
    context_ = SDL_GL_CreateContext(win);
    KeepGLDriverModulesLoaded();
    if (!context_) {
        *error = std::string("cannot create an OpenGL 3.3 core context: ") + SDL_GetError();
        return kNotAvailable;
    }
    MakeCurrent();
    Gl& g = *gl_;
    glGenVertexArrays(1, &g.vao);
    glGenVertexArrays(1, &g.emptyVao);
    glBindVertexArray(g.vao);
    glGenBuffers(1, &g.streamVbo);
    glBindBuffer(GL_ARRAY_BUFFER, g.streamVbo);
    glBufferData(GL_ARRAY_BUFFER, kStreamBytes, nullptr, GL_STREAM_DRAW);
    g.arrayBuffer = g.streamVbo;
    glGenBuffers(1, &g.streamIbo);
    glBindBuffer(GL_COPY_WRITE_BUFFER, g.streamIbo);
    glBufferData(GL_COPY_WRITE_BUFFER, kStreamBytes, nullptr, GL_STREAM_DRAW);
    glGenFramebuffers(1, &g.drawFbo);
    glGenFramebuffers(1, &g.readFbo);
    glGenFramebuffers(1, &g.blitFbo);
    glGenFramebuffers(1, &g.frontFbo);
    glGenSamplers(kMaxStages, g.samplers);
    glGenTextures(1, &g.gammaTexture);
    glGenTextures(1, &g.frontTexture);
    glGenTextures(1, &g.scratchTexture);
    glGenTextures(1, &g.stretchTexture);
    // The ramp pass's program is built on the first present that needs it:
    // with the identity ramp the back buffer is shown by a plain blit.
    Result r = CreateBackBuffer();
    if (Failed(r)) {
        *error = "cannot create the back buffer";
        return r;
    }
    ResetStates();
    SDL_GL_SetSwapInterval(params_.presentationInterval == kPresentIntervalImmediate ? 0 : 1);
    if (glGetError() != GL_NO_ERROR) {
        *error = "OpenGL reported an error while setting up the device";
        return kNotAvailable;
    }
    return kOk;
}

Result Device::CreateBackBuffer() {
    Texture* back = nullptr;
    Result r = CreateTexture(params_.backBufferWidth, params_.backBufferHeight, 1, kUsageRenderTarget,
                             params_.backBufferFormat == fmt::R5G6B5 ? fmt::X8R8G8B8 : params_.backBufferFormat,
                             Pool::Default, &back);
    if (Failed(r)) return r;
    gl_->backTexture = back;
    back->GetSurfaceLevel(0, &backBuffer_);
    if (params_.enableAutoDepthStencil) {
        r = CreateDepthStencilSurface(params_.backBufferWidth, params_.backBufferHeight,
                                      params_.autoDepthStencilFormat, &autoDepth_);
        if (Failed(r)) return r;
    }
    // The front image: the back buffer after the gamma ramp, as shown.
    MakeCurrent();
    glActiveTexture(GL_TEXTURE0 + kUploadUnit);
    glBindTexture(GL_TEXTURE_2D, gl_->frontTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(params_.backBufferWidth), GLsizei(params_.backBufferHeight),
                 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl_->frontW = params_.backBufferWidth;
    gl_->frontH = params_.backBufferHeight;
    glBindFramebuffer(GL_FRAMEBUFFER, gl_->frontFbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, gl_->frontTexture, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_->fboDirty = true;
    return kOk;
}

void Device::DestroyBackBuffer() {
    if (backBuffer_) backBuffer_->Release();
    backBuffer_ = nullptr;
    if (autoDepth_) autoDepth_->Release();
    autoDepth_ = nullptr;
    if (gl_->backTexture) gl_->backTexture->Release();
    gl_->backTexture = nullptr;
}

void Device::ResetStates() {
    std::memset(renderStates_, 0, sizeof renderStates_);
    auto& r = renderStates_;
    r[rs::ZEnable] = params_.enableAutoDepthStencil ? 1 : 0;
    r[rs::FillMode] = 3;
    r[rs::ShadeMode] = 2;
    r[rs::ZWriteEnable] = 1;
    r[rs::LastPixel] = 1;
    r[rs::SrcBlend] = blend::One;
    r[rs::DestBlend] = blend::Zero;
    r[rs::CullMode] = cull::CCW;
    r[rs::ZFunc] = cmp::LessEqual;
    r[rs::AlphaFunc] = cmp::Always;
    r[rs::StencilMask] = r[rs::StencilWriteMask] = 0xFFFFFFFFu;
    r[53] = r[54] = r[55] = 1;  // stencil operations keep
    r[56] = cmp::Always;
    r[rs::TextureFactor] = 0xFFFFFFFFu;
    r[rs::Clipping] = 1;
    r[rs::Lighting] = 1;
    r[rs::ColorVertex] = 1;
    r[rs::LocalViewer] = 1;
    r[rs::DiffuseMaterialSource] = mcs::Color1;
    r[rs::SpecularMaterialSource] = mcs::Color2;
    r[rs::MultisampleAntialias] = 1;
    r[rs::MultisampleMask] = 0xFFFFFFFFu;
    r[rs::ColorWriteEnable] = 0xF;
    r[190] = r[191] = r[192] = 0xF;
    r[rs::BlendOp] = 1;
    r[rs::BlendOpAlpha] = 1;
    r[rs::SrcBlendAlpha] = blend::One;
    r[rs::DestBlendAlpha] = blend::Zero;
    r[154] = 0x3F800000u;  // point size 1.0
    r[155] = 0x3F800000u;
    r[158] = 0x3F800000u;
    r[166] = 0x42800000u;  // 64.0
    for (int s = 0; s < kMaxStages; ++s) {
        auto& t = stageStates_[s];
        std::memset(t, 0, sizeof t);
        t[tss::ColorOp] = s == 0 ? top::Modulate : top::Disable;
        t[tss::ColorArg1] = ta::Texture;
        t[tss::ColorArg2] = ta::Current;
        t[tss::AlphaOp] = s == 0 ? top::SelectArg1 : top::Disable;
        t[tss::AlphaArg1] = ta::Texture;
        t[tss::AlphaArg2] = ta::Current;
        t[tss::TexCoordIndex] = uint32_t(s);
        t[tss::ColorArg0] = t[tss::AlphaArg0] = ta::Current;
        t[tss::ResultArg] = ta::Current;
        auto& p = samplerStates_[s];
        std::memset(p, 0, sizeof p);
        p[ss::AddressU] = p[ss::AddressV] = p[ss::AddressW] = tadd::Wrap;
        p[ss::MagFilter] = p[ss::MinFilter] = tf::Point;
        p[ss::MipFilter] = tf::None;
        p[ss::MaxAnisotropy] = 1;
        gl_->samplerDirty[s] = true;
        if (textures_[s]) textures_[s]->Release();
        textures_[s] = nullptr;
    }
    world_ = view_ = projection_ = Matrix();
    material_ = Material();
    light0_ = Light();
    light0Enabled_ = false;
    fvf_ = 0;
    SetStreamSource(0, nullptr, 0, 0);
    SetIndices(nullptr);
    SetVertexShader(nullptr);
    SetPixelShader(nullptr);
    SetRenderTarget(0, backBuffer_);
    SetDepthStencilSurface(autoDepth_);
    gl_->shadow.valid = false;
    ++gl_->ffVersion;
}

Result Device::TestCooperativeLevel() {
    if (GetTestOverride().deviceLost) {
        lostSeen_ = true;
        return kDeviceLost;
    }
    return lostSeen_ ? kDeviceNotReset : kOk;
}

Result Device::Reset(PresentParameters* params) {
    if (!params) return kInvalidCall;
    if (GetTestOverride().deviceLost) return kDeviceLost;
    if (params->multiSampleType > 1) return kNotAvailable;
    MakeCurrent();
    PresentParameters p = *params;
    if (p.backBufferFormat == fmt::Unknown) p.backBufferFormat = fmt::X8R8G8B8;
    p.deviceWindow = window_;
    SDL_Window* win = static_cast<SDL_Window*>(window_);
    if (!ownWindow_) {
        if (!p.windowed) {
            SDL_DisplayMode mode{};
            mode.w = int(p.backBufferWidth);
            mode.h = int(p.backBufferHeight);
            mode.refresh_rate = int(p.fullScreenRefreshRate);
            SDL_SetWindowDisplayMode(win, &mode);
            SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN);
        } else {
            SDL_SetWindowFullscreen(win, 0);
        }
    }
    if (p.backBufferWidth == 0 || p.backBufferHeight == 0) {
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(win, &w, &h);
        if (p.backBufferWidth == 0) p.backBufferWidth = uint32_t(std::max(w, 1));
        if (p.backBufferHeight == 0) p.backBufferHeight = uint32_t(std::max(h, 1));
    }
    if (renderTarget_) renderTarget_->Release();
    if (depthStencil_) depthStencil_->Release();
    renderTarget_ = depthStencil_ = nullptr;
    pendingDepth_.active = false;
    DestroyBackBuffer();
    params_ = p;
    Result r = CreateBackBuffer();
    if (Failed(r)) return r;
    ResetStates();
    inScene_ = false;
    lostSeen_ = false;
    SDL_GL_SetSwapInterval(p.presentationInterval == kPresentIntervalImmediate ? 0 : 1);
    *params = params_;
    return kOk;
}

Result Device::GetDeviceCaps(Caps* caps) const { return d3d_->GetDeviceCaps(0, DeviceType::Hal, caps); }

Result Device::GetDisplayMode(uint32_t, DisplayMode* mode) const {
    if (!mode) return kInvalidCall;
    d3d_->GetAdapterDisplayMode(0, mode);
    if (!params_.windowed) {
        mode->width = params_.backBufferWidth;
        mode->height = params_.backBufferHeight;
        if (params_.fullScreenRefreshRate) mode->refreshRate = params_.fullScreenRefreshRate;
    }
    return kOk;
}

Result Device::BeginScene() {
    if (inScene_) return kInvalidCall;
    inScene_ = true;
    return kOk;
}

Result Device::EndScene() {
    if (!inScene_) return kInvalidCall;
    inScene_ = false;
    return kOk;
}

Result Device::Present(const Rect*, const Rect*, void*, const void*) {
    if (GetTestOverride().deviceLost) {
        lostSeen_ = true;
        return kDeviceLost;
    }
    if (lostSeen_) return kDeviceNotReset;
    MakeCurrent();
    Gl& g = *gl_;
    if (g.gammaDirty) {
        uint16_t rgb[256 * 3];
        for (int i = 0; i < 256; ++i) {
            rgb[i * 3] = gamma_.red[i];
            rgb[i * 3 + 1] = gamma_.green[i];
            rgb[i * 3 + 2] = gamma_.blue[i];
        }
        glActiveTexture(GL_TEXTURE0 + kUploadUnit);
        glBindTexture(GL_TEXTURE_2D, g.gammaTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB16, 256, 1, 0, GL_RGB, GL_UNSIGNED_SHORT, rgb);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        g.gammaDirty = false;
        g.gammaIdentity = true;
        for (int i = 0; i < 256; ++i) {
            uint16_t v = uint16_t(i * 257);
            if (gamma_.red[i] != v || gamma_.green[i] != v || gamma_.blue[i] != v) g.gammaIdentity = false;
        }
    }
    if (!g.gammaIdentity && !g.presentProgram) {
        std::string log;
        g.presentProgram = LinkProgram(kPresentVertex, kPresentFragment, &log);
        if (g.presentProgram) {
            glUseProgram(g.presentProgram);
            glUniform1i(glGetUniformLocation(g.presentProgram, "u_image"), 0);
            glUniform1i(glGetUniformLocation(g.presentProgram, "u_ramp"), 1);
            glUseProgram(0);
        }
    }
    int ww = 0, wh = 0;
    SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(window_), &ww, &wh);
    // Without the ramp's program (it failed to build) the picture is shown
    // as drawn rather than not at all.
    if (g.gammaIdentity || !g.presentProgram) {
        // An identity ramp changes nothing: the back buffer goes straight
        // onto the window, flipped, without the ramp pass.
        glBindFramebuffer(GL_READ_FRAMEBUFFER, g.readFbo);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, g.backTexture->glTexture_, 0);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glDisable(GL_SCISSOR_TEST);
        bool scaled = ww != int(g.frontW) || wh != int(g.frontH);
        glBlitFramebuffer(0, 0, GLint(g.frontW), GLint(g.frontH), 0, wh, ww, 0, GL_COLOR_BUFFER_BIT,
                          scaled ? GL_LINEAR : GL_NEAREST);
        SDL_GL_SwapWindow(static_cast<SDL_Window*>(window_));
        g.frontIsBack = true;
        glBindFramebuffer(GL_FRAMEBUFFER, g.drawFbo);
        g.shadow.valid = false;
        return kOk;
    }
    g.frontIsBack = false;
    // Back buffer through the ramp into the front image.
    glBindFramebuffer(GL_FRAMEBUFFER, g.frontFbo);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glViewport(0, 0, GLsizei(g.frontW), GLsizei(g.frontH));
    glUseProgram(g.presentProgram);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, g.backTexture->glTexture_);
    glBindSampler(0, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, g.gammaTexture);
    glBindSampler(1, 0);
    glBindVertexArray(g.emptyVao);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glBindVertexArray(g.vao);
    // Onto the window, flipped: the window's row 0 is at the bottom.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, g.frontFbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    bool scaled = ww != int(g.frontW) || wh != int(g.frontH);
    glBlitFramebuffer(0, 0, GLint(g.frontW), GLint(g.frontH), 0, wh, ww, 0, GL_COLOR_BUFFER_BIT,
                      scaled ? GL_LINEAR : GL_NEAREST);
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(window_));
    // Everything the present pass touched goes back to the device's view.
    glBindFramebuffer(GL_FRAMEBUFFER, g.drawFbo);
    g.shadow.valid = false;
    g.program = 0;
    // The ramp's two stages are left empty, as the cache then says they are.
    for (int u = 0; u < 2; ++u) {
        glActiveTexture(GL_TEXTURE0 + u);
        if (g.unitTarget[u] && g.unitTarget[u] != GL_TEXTURE_2D) glBindTexture(g.unitTarget[u], 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        g.unitTexture[u] = 0;
        g.unitTarget[u] = GL_TEXTURE_2D;
        g.samplerDirty[u] = true;
    }
    glBindSampler(0, g.samplers[0]);
    glBindSampler(1, g.samplers[1]);
    return kOk;
}

void Device::SetGammaRamp(uint32_t, uint32_t, const GammaRamp* ramp) {
    if (!ramp) return;
    gamma_ = *ramp;
    gl_->gammaDirty = true;
}

void Device::GetGammaRamp(uint32_t, GammaRamp* ramp) const {
    if (ramp) *ramp = gamma_;
}

// ----------------------------------------------------------------- states

Result Device::SetRenderState(uint32_t state, uint32_t value) {
    if (state >= rs::Count) return kInvalidCall;
    if (renderStates_[state] == value) return kOk;
    renderStates_[state] = value;
    if (state == rs::TextureFactor || state == rs::Ambient || state == rs::AlphaRef) ++gl_->ffVersion;
    return kOk;
}

Result Device::GetRenderState(uint32_t state, uint32_t* value) const {
    if (state >= rs::Count || !value) return kInvalidCall;
    *value = renderStates_[state];
    return kOk;
}

Result Device::SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    if (stage >= kMaxStages || type >= tss::Count) return kInvalidCall;
    stageStates_[stage][type] = value;
    return kOk;
}

Result Device::GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const {
    if (stage >= kMaxStages || type >= tss::Count || !value) return kInvalidCall;
    *value = stageStates_[stage][type];
    return kOk;
}

Result Device::SetSamplerState(uint32_t sampler, uint32_t type, uint32_t value) {
    if (sampler >= kMaxStages || type >= ss::Count) return kInvalidCall;
    if (samplerStates_[sampler][type] != value) {
        samplerStates_[sampler][type] = value;
        gl_->samplerDirty[sampler] = true;
    }
    return kOk;
}

Result Device::GetSamplerState(uint32_t sampler, uint32_t type, uint32_t* value) const {
    if (sampler >= kMaxStages || type >= ss::Count || !value) return kInvalidCall;
    *value = samplerStates_[sampler][type];
    return kOk;
}

Result Device::SetTexture(uint32_t stage, BaseTexture* texture) {
    if (stage >= kMaxStages) return kInvalidCall;
    if (textures_[stage] == texture) return kOk;
    if (texture) texture->AddRef();
    if (textures_[stage]) textures_[stage]->Release();
    textures_[stage] = texture;
    return kOk;
}

Result Device::GetTexture(uint32_t stage, BaseTexture** texture) const {
    if (stage >= kMaxStages || !texture) return kInvalidCall;
    *texture = textures_[stage];
    if (*texture) (*texture)->AddRef();
    return kOk;
}

void Device::ForgetTexture(BaseTexture* texture) {
    for (int u = 0; u < kMaxStages; ++u)
        if (gl_->unitTexture[u] == texture->glTexture_) gl_->unitTexture[u] = 0;
}

Result Device::SetTransform(TransformState which, const Matrix* m) {
    if (!m) return kInvalidCall;
    switch (which) {
        case TransformState::World: world_ = *m; break;
        case TransformState::View: view_ = *m; break;
        case TransformState::Projection: projection_ = *m; break;
        default: return kInvalidCall;
    }
    ++gl_->ffVersion;
    return kOk;
}

Result Device::GetTransform(TransformState which, Matrix* m) const {
    if (!m) return kInvalidCall;
    switch (which) {
        case TransformState::World: *m = world_; break;
        case TransformState::View: *m = view_; break;
        case TransformState::Projection: *m = projection_; break;
        default: return kInvalidCall;
    }
    return kOk;
}

Result Device::SetViewport(const Viewport* v) {
    if (!v || v->width == 0 || v->height == 0) return kInvalidCall;
    viewport_ = *v;
    ++gl_->ffVersion;
    return kOk;
}

Result Device::GetViewport(Viewport* v) const {
    if (!v) return kInvalidCall;
    *v = viewport_;
    return kOk;
}

Result Device::SetScissorRect(const Rect* r) {
    if (!r) return kInvalidCall;
    scissor_ = *r;
    return kOk;
}

Result Device::GetScissorRect(Rect* r) const {
    if (!r) return kInvalidCall;
    *r = scissor_;
    return kOk;
}

Result Device::SetMaterial(const Material* m) {
    if (!m) return kInvalidCall;
    material_ = *m;
    ++gl_->ffVersion;
    return kOk;
}

Result Device::GetMaterial(Material* m) const {
    if (!m) return kInvalidCall;
    *m = material_;
    return kOk;
}

Result Device::SetLight(uint32_t index, const Light* l) {
    if (!l) return kInvalidCall;
    if (index == 0) {
        light0_ = *l;
        ++gl_->ffVersion;
    }
    return kOk;
}

Result Device::GetLight(uint32_t index, Light* l) const {
    if (!l || index != 0) return kInvalidCall;
    *l = light0_;
    return kOk;
}

Result Device::LightEnable(uint32_t index, bool enable) {
    if (index == 0) light0Enabled_ = enable;
    return kOk;
}

Result Device::GetLightEnable(uint32_t index, bool* enable) const {
    if (!enable || index != 0) return kInvalidCall;
    *enable = light0Enabled_;
    return kOk;
}

// --------------------------------------------------------------- geometry

Result Device::SetFVF(uint32_t f) {
    fvf_ = f;
    return kOk;
}

Result Device::GetFVF(uint32_t* f) const {
    if (!f) return kInvalidCall;
    *f = fvf_;
    return kOk;
}

Result Device::SetStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) {
    if (stream != 0) return kInvalidCall;
    if (buffer) buffer->AddRef();
    if (stream_) stream_->Release();
    stream_ = buffer;
    streamOffset_ = offset;
    streamStride_ = stride;
    return kOk;
}

Result Device::SetIndices(IndexBuffer* buffer) {
    if (buffer) buffer->AddRef();
    if (indices_) indices_->Release();
    indices_ = buffer;
    return kOk;
}

void Device::ApplyFramebuffer() {
    Gl& g = *gl_;
    GLuint color = 0, depth = 0;
    GLenum target = GL_TEXTURE_2D;
    GLint level = 0;
    if (renderTarget_ && renderTarget_->owner_) {
        BaseTexture* t = renderTarget_->owner_;
        color = t->glTexture_;
        target = t->faces_ == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + renderTarget_->face_ : GL_TEXTURE_2D;
        level = GLint(renderTarget_->level_);
    }
    if (depthStencil_) depth = depthStencil_->glRenderbuffer_;
    glBindFramebuffer(GL_FRAMEBUFFER, g.drawFbo);
    if (!g.fboDirty && color == g.attachedColor && target == g.attachedTarget && level == g.attachedLevel &&
        depth == g.attachedDepth)
        return;
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, color, level);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    g.attachedColor = color;
    g.attachedTarget = target;
    g.attachedLevel = level;
    g.attachedDepth = depth;
    g.fboDirty = false;
    ++stats_.stateCalls;
}

void Device::ApplyRenderStates() {
    Gl& g = *gl_;
    GlShadow& s = g.shadow;
    const auto& r = renderStates_;
    if (!s.valid) s = GlShadow{};
    auto toggle = [&](GLenum cap, bool want, bool& have) {
        if (s.valid && want == have) return;
        want ? glEnable(cap) : glDisable(cap);
        have = want;
        ++stats_.stateCalls;
    };
    toggle(GL_BLEND, r[rs::AlphaBlendEnable] != 0, s.blend);
    if (r[rs::AlphaBlendEnable]) {
        GLenum src = BlendFactor(r[rs::SrcBlend]), dst = BlendFactor(r[rs::DestBlend]);
        GLenum srcA = src, dstA = dst;
        GLenum eq = BlendEquation(r[rs::BlendOp]), eqA = eq;
        if (r[rs::SeparateAlphaBlendEnable]) {
            srcA = BlendFactor(r[rs::SrcBlendAlpha]);
            dstA = BlendFactor(r[rs::DestBlendAlpha]);
            eqA = BlendEquation(r[rs::BlendOpAlpha]);
        }
        if (!s.valid || src != s.src || dst != s.dst || srcA != s.srcA || dstA != s.dstA) {
            glBlendFuncSeparate(src, dst, srcA, dstA);
            s.src = src, s.dst = dst, s.srcA = srcA, s.dstA = dstA;
            ++stats_.stateCalls;
        }
        if (!s.valid || eq != s.eq || eqA != s.eqA) {
            glBlendEquationSeparate(eq, eqA);
            s.eq = eq, s.eqA = eqA;
            ++stats_.stateCalls;
        }
    }
    const bool hasDepth = depthStencil_ != nullptr;
    toggle(GL_DEPTH_TEST, hasDepth && r[rs::ZEnable] != 0, s.depthTest);
    if (hasDepth && r[rs::ZEnable]) {
        const GLint mask = r[rs::ZWriteEnable] != 0 ? 1 : 0;
        if (!s.valid || mask != s.depthMask) {
            glDepthMask(mask ? GL_TRUE : GL_FALSE);
            s.depthMask = mask;
            ++stats_.stateCalls;
        }
        GLenum func = CompareFunc(r[rs::ZFunc]);
        if (!s.valid || func != s.depthFunc) {
            glDepthFunc(func);
            s.depthFunc = func;
            ++stats_.stateCalls;
        }
    }
    // Our targets keep Direct3D's row order, so a triangle clockwise on the
    // screen is counter-clockwise to GL: culling CCW drops GL's back faces.
    const uint32_t cm = r[rs::CullMode];
    toggle(GL_CULL_FACE, cm == cull::CW || cm == cull::CCW, s.cull);
    if (cm == cull::CW || cm == cull::CCW) {
        GLenum face = cm == cull::CCW ? GL_BACK : GL_FRONT;
        if (!s.valid || face != s.cullFace) {
            glCullFace(face);
            s.cullFace = face;
            ++stats_.stateCalls;
        }
    }
    toggle(GL_SCISSOR_TEST, r[rs::ScissorTestEnable] != 0, s.scissor);
    if (r[rs::ScissorTestEnable]) {
        GLint x = scissor_.left, y = scissor_.top;
        // Any rectangle may have been set: its extent is taken without overflow.
        const auto extent = [](int32_t lo, int32_t hi) {
            return GLsizei(std::clamp<int64_t>(int64_t(hi) - lo, 0, INT32_MAX));
        };
        GLsizei w = extent(scissor_.left, scissor_.right), h = extent(scissor_.top, scissor_.bottom);
        if (!s.valid || x != s.sx || y != s.sy || w != s.sw || h != s.sh) {
            glScissor(x, y, w, h);
            s.sx = x, s.sy = y, s.sw = w, s.sh = h;
            ++stats_.stateCalls;
        }
    }
    const uint32_t mask = r[rs::ColorWriteEnable] & 0xF;
    if (!s.valid || mask != s.colorMask) {
        glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
        s.colorMask = mask;
        ++stats_.stateCalls;
    }
    GLenum poly = r[rs::FillMode] == 1 ? GL_POINT : r[rs::FillMode] == 2 ? GL_LINE : GL_FILL;
    if (!s.valid || poly != s.polygonMode) {
        glPolygonMode(GL_FRONT_AND_BACK, poly);
        s.polygonMode = poly;
        ++stats_.stateCalls;
    }
    const Viewport& v = viewport_;
    const GLint vx = ViewportInt(v.x), vy = ViewportInt(v.y);
    const GLsizei vw = ViewportInt(v.width), vh = ViewportInt(v.height);
    if (!s.valid || vx != s.vx || vy != s.vy || vw != s.vw || vh != s.vh) {
        glViewport(vx, vy, vw, vh);
        s.vx = vx, s.vy = vy, s.vw = vw, s.vh = vh;
        ++stats_.stateCalls;
    }
    if (!s.valid || v.minZ != s.zmin || v.maxZ != s.zmax) {
        glDepthRange(v.minZ, v.maxZ);
        s.zmin = v.minZ, s.zmax = v.maxZ;
        ++stats_.stateCalls;
    }
    s.valid = true;
}

void Device::BindTextures(uint32_t units) {
    Gl& g = *gl_;
    BaseTexture* targetTexture = renderTarget_ ? renderTarget_->owner_ : nullptr;
    for (uint32_t u = 0; u < kMaxStages; ++u) {
        if (!(units & (1u << u))) continue;
        BaseTexture* t = textures_[u];
        GLuint name = 0;
        GLenum target = GL_TEXTURE_2D;
        if (t) {
            t->EnsureUploaded();
            name = t->glTexture_;
            target = t->glTarget_;
            if (t == targetTexture && t->type_ == ResourceType::Texture) {
                // Drawing from the texture being drawn into: sample a copy of
                // what it held before this draw.
                glActiveTexture(GL_TEXTURE0 + u);
                glBindTexture(GL_TEXTURE_2D, g.scratchTexture);
                SurfaceDesc d;
                renderTarget_->GetDesc(&d);
                glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 0, 0, GLsizei(d.width), GLsizei(d.height), 0);
                GlFormat gf = GlFormatOf(t->format_);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, gf.swizzle[3]);
                g.unitTexture[u] = g.scratchTexture;
                g.unitTarget[u] = GL_TEXTURE_2D;
                ++stats_.textureBinds;
                name = 0;
                t = nullptr;
            }
        }
        if (t || !textures_[u]) {
            if (g.unitTexture[u] != name || g.unitTarget[u] != target) {
                glActiveTexture(GL_TEXTURE0 + u);
                if (g.unitTarget[u] && g.unitTarget[u] != target) glBindTexture(g.unitTarget[u], 0);
                glBindTexture(target, name);
                g.unitTexture[u] = name;
                g.unitTarget[u] = target;
                ++stats_.textureBinds;
            }
        }
        if (g.samplerDirty[u]) {
            const uint32_t* p = samplerStates_[u];
            GLuint smp = g.samplers[u];
            const bool magLinear = p[ss::MagFilter] >= tf::Linear;
            const bool minLinear = p[ss::MinFilter] >= tf::Linear;
            GLenum minFilter;
            switch (p[ss::MipFilter]) {
                case tf::Point: minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST; break;
                case tf::Linear:
                case tf::Anisotropic:
                    minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
                    break;
                default: minFilter = minLinear ? GL_LINEAR : GL_NEAREST; break;
            }
            glSamplerParameteri(smp, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
            glSamplerParameteri(smp, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
            glSamplerParameteri(smp, GL_TEXTURE_WRAP_S, GLint(AddressMode(p[ss::AddressU])));
            glSamplerParameteri(smp, GL_TEXTURE_WRAP_T, GLint(AddressMode(p[ss::AddressV])));
            glSamplerParameteri(smp, GL_TEXTURE_WRAP_R, GLint(AddressMode(p[ss::AddressW])));
            float border[4];
            ColorToFloats(p[ss::BorderColor], border);
            glSamplerParameterfv(smp, GL_TEXTURE_BORDER_COLOR, border);
            glBindSampler(u, smp);
            g.samplerDirty[u] = false;
            stats_.stateCalls += 7;
        }
    }
}

void Device::SetupAttributes(uint32_t f, uint32_t stride, uintptr_t base) {
    Gl& g = *gl_;
    uint32_t want = 0;
    uintptr_t off = base;
    auto attrib = [&](GLuint loc, GLint size, GLenum type, GLboolean norm) {
        glVertexAttribPointer(loc, size, type, norm, GLsizei(stride), reinterpret_cast<const void*>(off));
        want |= 1u << loc;
    };
    if ((f & fvf::PositionMask) == fvf::XYZRHW) {
        attrib(kAttrPosition, 4, GL_FLOAT, GL_FALSE);
        off += 16;
    } else {
        attrib(kAttrPosition, 3, GL_FLOAT, GL_FALSE);
        off += 12;
    }
    if (f & fvf::Normal) {
        attrib(kAttrNormal, 3, GL_FLOAT, GL_FALSE);
        off += 12;
    }
    if (f & fvf::Diffuse) {
        attrib(kAttrDiffuse, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE);
        off += 4;
    }
    if (f & fvf::Specular) {
        attrib(kAttrSpecular, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE);
        off += 4;
    }
    const uint32_t sets = std::min<uint32_t>((f & fvf::TexCountMask) >> fvf::TexCountShift, 8);
    for (uint32_t i = 0; i < sets; ++i) {
        attrib(kAttrTex0 + i, 2, GL_FLOAT, GL_FALSE);
        off += 8;
    }
    // Only the arrays whose state changes are touched. The test is written
    // on the changed bits, not as "on == was on": gcc 12.2 at -O2 compiles
    // that comparison of two bit tests wrongly (it skipped every array the
    // cache did not already hold as enabled, so a new layout's first draw
    // read no texture coordinates or colours).
    const uint32_t changed = g.attribKnown ? want ^ g.attribEnabled : 0xFFFFu;
    for (GLuint loc = 0; loc < 16; ++loc) {
        const uint32_t bit = 1u << loc;
        if (!(changed & bit)) continue;
        if (want & bit) {
            glEnableVertexAttribArray(loc);
        } else {
            glDisableVertexAttribArray(loc);
            // What a stage reads for an element the vertices lack: white
            // for the diffuse colour, (0, 0, 0, 1) for the rest.
            if (loc == kAttrDiffuse)
                glVertexAttrib4f(loc, 1, 1, 1, 1);
            else
                glVertexAttrib4f(loc, 0, 0, 0, 1);
        }
    }
    g.attribEnabled = want;
    g.attribKnown = true;
}

namespace {

// Arguments an operation does not read are left out of the key: they keep
// whatever an earlier draw set (a render mode sets only the arguments it
// uses), and would otherwise make programs, and the driver's code for them,
// that differ in nothing but the order things were drawn in.
void IgnoreUnusedArguments(FfpKey& k) {
    auto keep = [](uint8_t op, uint8_t& a1, uint8_t& a2) {
        if (op == top::Disable || op == 0)
            a1 = a2 = 0;
        else if (op == top::SelectArg1)
            a2 = 0;
        else if (op == top::SelectArg2)
            a1 = 0;
    };
    if (k.colorOp == top::Disable || k.colorOp == 0) {
        k.colorOp = uint8_t(top::Disable);
        k.alphaOp = 0;
    }
    keep(k.colorOp, k.colorArg1, k.colorArg2);
    keep(k.alphaOp, k.alphaArg1, k.alphaArg2);
}

}  // namespace

uint32_t Device::SelectProgram(uint32_t f) {
    Gl& g = *gl_;
    const bool pre = (f & fvf::PositionMask) == fvf::XYZRHW;
    FfpProgram* prog = nullptr;
    uint32_t units = 0;
    if (pixelShader_) {
        // Pre-transformed vertices skip a bound vertex stage: our own
        // pass-through stage feeds the pixel stage.
        VertexShader* vs = pre ? nullptr : vertexShader_;
        uint32_t variant = vs ? 0 : (1u | (pre ? 2u : 0u) | ((f & fvf::Diffuse) ? 4u : 0u) |
                                     ((f & fvf::Specular) ? 8u : 0u) | ((f & fvf::TexCountMask) ? 16u : 0u));
        prog = FindOrLinkPair(vs, pixelShader_, f, variant);
        if (!prog) return ~0u;
        for (const auto& s : pixelShader_->code_->samplers)
            if (s.unit < kMaxStages) units |= 1u << s.unit;
        if (vs)
            for (const auto& s : vs->code_->samplers)
                if (s.unit < kMaxStages) units |= 1u << s.unit;
    } else if (vertexShader_ && !pre && !pixelShader_) {
        lastError_ = "a vertex shader needs a pixel shader";
        return ~0u;
    } else {
        FfpKey k;
        const auto& t = stageStates_[0];
        k.pretransformed = pre;
        k.hasNormal = (f & fvf::Normal) != 0;
        k.hasDiffuse = (f & fvf::Diffuse) != 0;
        k.hasSpecular = (f & fvf::Specular) != 0;
        k.hasTexCoord = (f & fvf::TexCountMask) != 0;
        k.lighting = !pre && renderStates_[rs::Lighting] != 0;
        k.lightOn = k.lighting && light0Enabled_;
        k.lightType = uint8_t(light0_.type);
        k.specular = renderStates_[rs::SpecularEnable] != 0;
        k.localViewer = renderStates_[rs::LocalViewer] != 0;
        k.normalize = renderStates_[rs::NormalizeNormals] != 0;
        k.colorOp = uint8_t(t[tss::ColorOp]);
        k.colorArg1 = uint8_t(t[tss::ColorArg1]);
        k.colorArg2 = uint8_t(t[tss::ColorArg2]);
        k.alphaOp = uint8_t(t[tss::AlphaOp]);
        k.alphaArg1 = uint8_t(t[tss::AlphaArg1]);
        k.alphaArg2 = uint8_t(t[tss::AlphaArg2]);
        k.textureBound = textures_[0] != nullptr;
        k.textureCube = textures_[0] && textures_[0]->type_ == ResourceType::CubeTexture;
        k.alphaTest = renderStates_[rs::AlphaTestEnable] != 0;
        k.alphaFunc = uint8_t(renderStates_[rs::AlphaFunc]);
        IgnoreUnusedArguments(k);
        uint64_t packed = k.Pack();
        auto it = g.ffp.find(packed);
        if (it == g.ffp.end()) {
            FfpProgram p;
            std::string log;
            p.program = LinkProgram(FfpVertexSource(k), FfpFragmentSource(k), &log);
            if (!p.program) {
                lastError_ = "fixed-function program: " + log;
                return ~0u;
            }
            LookUp(p);
            ++stats_.programLinks;
            it = g.ffp.emplace(packed, p).first;
        }
        prog = &it->second;
        if (k.textureBound) units |= 1;
    }
    if (g.program != prog->program) {
        glUseProgram(prog->program);
        g.program = prog->program;
        ++stats_.programBinds;
    }
    if (prog->version != g.ffVersion) {
        prog->version = g.ffVersion;
        const Matrix wv = Mul(world_, view_);
        if (prog->worldView >= 0) glUniformMatrix4fv(prog->worldView, 1, GL_FALSE, &wv.m[0][0]);
        if (prog->proj >= 0) glUniformMatrix4fv(prog->proj, 1, GL_FALSE, &projection_.m[0][0]);
        if (prog->normal >= 0) {
            float n[9];
            NormalMatrix(wv, n);
            glUniformMatrix3fv(prog->normal, 1, GL_FALSE, n);
        }
        if (prog->viewport >= 0)
            glUniform4f(prog->viewport, float(viewport_.x), float(viewport_.y), float(viewport_.width),
                        float(viewport_.height));
        if (prog->pixel >= 0)
            glUniform2f(prog->pixel, 1.0f / float(viewport_.width), 1.0f / float(viewport_.height));
        float c[4];
        if (prog->tfactor >= 0) {
            ColorToFloats(renderStates_[rs::TextureFactor], c);
            glUniform4fv(prog->tfactor, 1, c);
        }
        if (prog->alphaRef >= 0) glUniform1f(prog->alphaRef, float(renderStates_[rs::AlphaRef] & 255) / 255.0f);
        if (prog->matDiffuse >= 0) {
            glUniform4fv(prog->matDiffuse, 1, &material_.diffuse.r);
            glUniform4fv(prog->matAmbient, 1, &material_.ambient.r);
            glUniform4fv(prog->matSpecular, 1, &material_.specular.r);
            glUniform4fv(prog->matEmissive, 1, &material_.emissive.r);
            glUniform1f(prog->matPower, material_.power);
        }
        if (prog->globalAmbient >= 0) {
            ColorToFloats(renderStates_[rs::Ambient], c);
            glUniform4fv(prog->globalAmbient, 1, c);
        }
        if (prog->lightDiffuse >= 0) {
            Vec3 p = TransformPoint(light0_.position, view_);
            Vec3 d = TransformVector(light0_.direction, view_);
            if (prog->lightPos >= 0) glUniform3f(prog->lightPos, p.x, p.y, p.z);
            if (prog->lightDir >= 0) glUniform3f(prog->lightDir, d.x, d.y, d.z);
            glUniform4fv(prog->lightDiffuse, 1, &light0_.diffuse.r);
            if (prog->lightSpecular >= 0) glUniform4fv(prog->lightSpecular, 1, &light0_.specular.r);
            glUniform4fv(prog->lightAmbient, 1, &light0_.ambient.r);
            if (prog->lightAtten >= 0)
                glUniform4f(prog->lightAtten, light0_.attenuation0, light0_.attenuation1, light0_.attenuation2,
                            light0_.range);
        }
        ++stats_.stateCalls;
    }
    if (pixelShader_) {
        if (vertexShader_ && !pre) UploadShaderConstants(vertexShader_, 0);
        UploadShaderConstants(pixelShader_, 1);
    }
    return units;
}

namespace {

std::string Pad(const std::string& v, uint32_t components) {
    switch (components) {
        case 1: return "vec4(" + v + ", 0.0, 0.0, 1.0)";
        case 2: return "vec4(" + v + ", 0.0, 1.0)";
        case 3: return "vec4(" + v + ", 1.0)";
        default: return v;
    }
}

}  // namespace

FfpProgram* Device::FindOrLinkPair(VertexShader* vs, PixelShader* ps, uint32_t f, uint32_t variant) {
    Gl& g = *gl_;
    auto key = std::make_tuple(vs ? vs->id_ : 0u, ps->id_, variant);
    auto it = g.pairs.find(key);
    if (it == g.pairs.end()) {
        FfpProgram p;
        p.program = LinkShaderPair(vs, ps, f);
        if (!p.program) return nullptr;
        LookUp(p);
        ++stats_.programLinks;
        it = g.pairs.emplace(key, p).first;
    }
    return &it->second;
}

Result Device::LinkShaders(VertexShader* vs, PixelShader* ps) {
    if (!vs || !ps || !vs->code_ || !ps->code_) return kInvalidCall;
    MakeCurrent();
    lastError_.clear();
    return FindOrLinkPair(vs, ps, 0, 0) ? kOk : kInvalidCall;
}

uint32_t Device::LinkShaderPair(VertexShader* vs, PixelShader* ps, uint32_t f) {
    const hlsl::ShaderCode& pc = *ps->code_;
    std::string vsText;
    if (vs) {
        const hlsl::ShaderCode& vc = *vs->code_;
        std::string decls = std::string("uniform vec2 ") + hlsl::kPixelScaleUniform + ";\n";
        std::string tail;
        for (const auto& in : pc.inputs) {
            decls += "out vec4 " + hlsl::VaryingName(in.semantic) + ";\n";
            const hlsl::Varying* out = nullptr;
            for (const auto& o : vc.outputs)
                if (o.semantic == in.semantic) out = &o;
            tail += "    " + hlsl::VaryingName(in.semantic) + " = " +
                    (out ? Pad(hlsl::StageVarName(in.semantic), out->components) : "vec4(0.0, 0.0, 0.0, 1.0)") +
                    ";\n";
        }
        const std::string pos = hlsl::StageVarName("POSITION");
        tail += "    gl_Position = vec4(" + pos + ".x + " + pos + ".w * " + hlsl::kPixelScaleUniform + ".x, -" +
                pos + ".y + " + pos + ".w * " + hlsl::kPixelScaleUniform + ".y, 2.0 * " + pos + ".z - " + pos +
                ".w, " + pos + ".w);\n";
        size_t eol = vc.glsl.find('\n');
        vsText = vc.glsl.substr(0, eol + 1) + decls + vc.glsl.substr(eol + 1) + tail + "}\n";
    } else {
        std::vector<PassInput> inputs;
        for (const auto& in : pc.inputs) inputs.push_back({in.semantic, in.components});
        vsText = PassThroughVertexSource((f & fvf::PositionMask) == fvf::XYZRHW, (f & fvf::Diffuse) != 0,
                                         (f & fvf::Specular) != 0, (f & fvf::TexCountMask) != 0, inputs.data(),
                                         inputs.size());
    }
    std::string log;
    GLuint p = LinkProgram(vsText, pc.glsl, &log);
    if (!p) {
        lastError_ = "shader program: " + log;
        return 0;
    }
    GLuint block = glGetUniformBlockIndex(p, hlsl::kVertexBlockName);
    if (block != GL_INVALID_INDEX) glUniformBlockBinding(p, block, 0);
    block = glGetUniformBlockIndex(p, hlsl::kPixelBlockName);
    if (block != GL_INVALID_INDEX) glUniformBlockBinding(p, block, 1);
    glUseProgram(p);
    gl_->program = p;
    for (const auto& s : pc.samplers) {
        GLint loc = glGetUniformLocation(p, s.glslName.c_str());
        if (loc >= 0) glUniform1i(loc, GLint(s.unit));
    }
    if (vs)
        for (const auto& s : vs->code_->samplers) {
            GLint loc = glGetUniformLocation(p, s.glslName.c_str());
            if (loc >= 0) glUniform1i(loc, GLint(s.unit));
        }
    return p;
}

void Device::UploadShaderConstants(Shader* shader, uint32_t binding) {
    const auto& store = shader->code_->store;
    if (!store || store->bytes.empty()) return;
    if (!shader->glUbo_) glGenBuffers(1, &shader->glUbo_);
    if (shader->uploadedVersion_ != store->version) {
        glBindBuffer(GL_UNIFORM_BUFFER, shader->glUbo_);
        glBufferData(GL_UNIFORM_BUFFER, GLsizeiptr(store->bytes.size()), store->bytes.data(), GL_DYNAMIC_DRAW);
        shader->uploadedVersion_ = store->version;
        ++stats_.stateCalls;
    }
    glBindBufferBase(GL_UNIFORM_BUFFER, binding, shader->glUbo_);
}

void Device::ForgetShader(Shader* shader) {
    Gl& g = *gl_;
    for (auto it = g.pairs.begin(); it != g.pairs.end();) {
        if (std::get<0>(it->first) == shader->id_ || std::get<1>(it->first) == shader->id_) {
            if (g.program == it->second.program) {
                glUseProgram(0);
                g.program = 0;
            }
            glDeleteProgram(it->second.program);
            it = g.pairs.erase(it);
        } else {
            ++it;
        }
    }
}

bool Device::PrepareDraw(uint32_t stride, GLuint buffer, uintptr_t base) {
    MakeCurrent();
    if (!renderTarget_) return false;
    if (!FvfSize(fvf_)) return false;
    Gl& g = *gl_;
    glBindVertexArray(g.vao);
    ApplyFramebuffer();
    if (pendingDepth_.active && depthStencil_ && renderStates_[rs::ZEnable]) FlushDepthClear();
    ApplyRenderStates();
    uint32_t units = SelectProgram(fvf_);
    if (units == ~0u) return false;
    BindTextures(units);
    if (g.arrayBuffer != buffer) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        g.arrayBuffer = buffer;
    }
    SetupAttributes(fvf_, stride, base);
    return true;
}

uintptr_t Device::StreamUpload(bool indices, const void* data, size_t bytes) {
    Gl& g = *gl_;
    GLuint buffer = indices ? g.streamIbo : g.streamVbo;
    size_t& pos = indices ? g.streamIboPos : g.streamPos;
    GLenum target = indices ? GL_ELEMENT_ARRAY_BUFFER : GL_ARRAY_BUFFER;
    if (!indices && g.arrayBuffer != buffer) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        g.arrayBuffer = buffer;
    }
    if (indices) glBindBuffer(target, buffer);
    pos = (pos + 15) & ~size_t(15);
    if (pos + bytes > kStreamBytes) {
        // Start a fresh store; GL keeps the old one for draws in flight.
        glBufferData(target, GLsizeiptr(std::max(kStreamBytes, bytes)), nullptr, GL_STREAM_DRAW);
        pos = 0;
    }
    glBufferSubData(target, GLintptr(pos), GLsizeiptr(bytes), data);
    stats_.uploadBytes += bytes;
    uintptr_t at = pos;
    pos += bytes;
    return at;
}

Result Device::DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount) {
    if (!stream_ || !stream_->glBuffer_ || !streamStride_) return kInvalidCall;
    uint32_t count = VertexCount(type, primitiveCount);
    if (!count) return kInvalidCall;
    uint64_t end = streamOffset_ + (uint64_t(startVertex) + count) * streamStride_;
    // A discard may have left the GL store shorter than the buffer.
    if (end > stream_->glSize_) return kInvalidCall;
    if (!PrepareDraw(streamStride_, stream_->glBuffer_, streamOffset_)) return kOk;
    glDrawArrays(GlPrimitive(type), GLint(startVertex), GLsizei(count));
    ++stats_.drawCalls;
    return kOk;
}

Result Device::DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t, uint32_t,
                                    uint32_t startIndex, uint32_t primitiveCount) {
    if (!stream_ || !stream_->glBuffer_ || !streamStride_ || !indices_ || !indices_->glBuffer_)
        return kInvalidCall;
    uint32_t count = VertexCount(type, primitiveCount);
    const uint32_t indexSize = indices_->format_ == fmt::Index32 ? 4 : 2;
    if (!count || (uint64_t(startIndex) + count) * indexSize > indices_->size_) return kInvalidCall;
    if (!PrepareDraw(streamStride_, stream_->glBuffer_, streamOffset_)) return kOk;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices_->glBuffer_);
    glDrawElementsBaseVertex(GlPrimitive(type), GLsizei(count),
                             indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(uintptr_t(startIndex) * indexSize), baseVertex);
    ++stats_.drawCalls;
    return kOk;
}

Result Device::DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertices,
                               uint32_t stride) {
    uint32_t count = VertexCount(type, primitiveCount);
    if (!vertices || !stride || !count) return kInvalidCall;
    // The stream is replaced by the caller's vertices.
    SetStreamSource(0, nullptr, 0, 0);
    MakeCurrent();
    glBindVertexArray(gl_->vao);
    uintptr_t base = StreamUpload(false, vertices, size_t(count) * stride);
    if (!PrepareDraw(stride, gl_->streamVbo, base)) return kOk;
    glDrawArrays(GlPrimitive(type), 0, GLsizei(count));
    ++stats_.drawCalls;
    return kOk;
}

Result Device::DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                      uint32_t primitiveCount, const void* indexData, uint32_t indexFormat,
                                      const void* vertices, uint32_t stride) {
    uint32_t count = VertexCount(type, primitiveCount);
    if (!vertices || !indexData || !stride || !count || !numVertices) return kInvalidCall;
    const uint32_t indexSize = indexFormat == fmt::Index32 ? 4 : 2;
    SetStreamSource(0, nullptr, 0, 0);
    SetIndices(nullptr);
    MakeCurrent();
    glBindVertexArray(gl_->vao);
    uintptr_t base = StreamUpload(false, vertices, size_t(minIndex + numVertices) * stride);
    if (!PrepareDraw(stride, gl_->streamVbo, base)) return kOk;
    uintptr_t at = StreamUpload(true, indexData, size_t(count) * indexSize);
    glDrawElements(GlPrimitive(type), GLsizei(count), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                   reinterpret_cast<const void*>(at));
    ++stats_.drawCalls;
    return kOk;
}

// -------------------------------------------------------------- resources

Result Device::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                             Pool pool, Texture** texture) {
    if (!texture) return kInvalidCall;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return kInvalidCall;
    if (!GlFormatOf(format).internalFormat) return kInvalidCall;
    if ((usage & kUsageRenderTarget) && (pool != Pool::Default || IsDxtFormat(format) || format == fmt::YUY2))
        return kInvalidCall;
    uint32_t full = 1;
    for (uint32_t s = std::max(width, height); s > 1; s >>= 1) ++full;
    if (levels == 0 || levels > full) levels = levels == 0 ? full : full;
    MakeCurrent();
    auto* t = new Texture(this, ResourceType::Texture, width, height, levels, usage, format, pool);
    if (!t->Init()) {
        t->Release();
        return kOutOfMemory;
    }
    *texture = t;
    return kOk;
}

Result Device::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, uint32_t format, Pool pool,
                                 CubeTexture** texture) {
    if (!texture) return kInvalidCall;
    *texture = nullptr;
    if (edge == 0 || edge > 8192 || !GlFormatOf(format).internalFormat) return kInvalidCall;
    uint32_t full = 1;
    for (uint32_t s = edge; s > 1; s >>= 1) ++full;
    if (levels == 0 || levels > full) levels = full;
    MakeCurrent();
    auto* t = new CubeTexture(this, ResourceType::CubeTexture, edge, edge, levels, usage, format, pool);
    if (!t->Init()) {
        t->Release();
        return kOutOfMemory;
    }
    *texture = t;
    return kOk;
}

Result Device::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t f, Pool pool, VertexBuffer** buffer) {
    if (!buffer) return kInvalidCall;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20)) return kInvalidCall;
    VertexBufferDesc d;
    d.usage = usage;
    d.fvf = f;
    d.size = length;
    d.pool = pool;
    auto* b = new VertexBuffer(this, d);
    if (!b->copy_) {
        b->Release();
        return kOutOfMemory;
    }
    *buffer = b;
    return kOk;
}

Result Device::CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, Pool pool, IndexBuffer** buffer) {
    if (!buffer) return kInvalidCall;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20) || (format != fmt::Index16 && format != fmt::Index32))
        return kInvalidCall;
    auto* b = new IndexBuffer(this, length, usage, format, pool);
    if (!b->copy_) {
        b->Release();
        return kOutOfMemory;
    }
    *buffer = b;
    return kOk;
}

Result Device::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, Pool pool,
                                           Surface** surface) {
    if (!surface) return kInvalidCall;
    *surface = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return kInvalidCall;
    if (format != fmt::X8R8G8B8 && format != fmt::A8R8G8B8 && format != fmt::YUY2 && format != fmt::R5G6B5)
        return kInvalidCall;
    SurfaceDesc d;
    d.format = format;
    d.pool = pool;
    d.width = width;
    d.height = height;
    auto* s = new Surface(this, Surface::Kind::Memory, d);
    s->pitch_ = FormatPitch(format, width);
    s->memory_.assign(size_t(s->pitch_) * height, 0);
    *surface = s;
    return kOk;
}

Result Device::CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, Surface** surface) {
    if (!surface) return kInvalidCall;
    *surface = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return kInvalidCall;
    if (format != fmt::D24S8 && format != fmt::D24X8 && format != fmt::D16) return kInvalidCall;
    SurfaceDesc d;
    d.format = format;
    d.usage = kUsageDepthStencil;
    d.width = width;
    d.height = height;
    MakeCurrent();
    auto* s = new Surface(this, Surface::Kind::Renderbuffer, d);
    glGenRenderbuffers(1, &s->glRenderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, s->glRenderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, GLsizei(width), GLsizei(height));
    *surface = s;
    return kOk;
}

// ------------------------------------------------------ targets and copies

Result Device::GetBackBuffer(uint32_t, uint32_t index, Surface** surface) {
    if (!surface || index != 0 || !backBuffer_) return kInvalidCall;
    backBuffer_->AddRef();
    *surface = backBuffer_;
    return kOk;
}

Result Device::SetRenderTarget(uint32_t index, Surface* surface) {
    if (index != 0) return kInvalidCall;
    if (surface && (surface->kind_ != Surface::Kind::TextureLevel || !surface->owner_ ||
                    !(surface->owner_->usage_ & kUsageRenderTarget)))
        return kInvalidCall;
    if (!surface) return kInvalidCall;  // target 0 can never be empty
    if (surface != renderTarget_) FlushDepthClear();
    surface->AddRef();
    if (renderTarget_) renderTarget_->Release();
    renderTarget_ = surface;
    // A new target resets the viewport and the scissor rectangle to all of it.
    SurfaceDesc d;
    surface->GetDesc(&d);
    viewport_ = {0, 0, d.width, d.height, 0.0f, 1.0f};
    scissor_ = {0, 0, int32_t(d.width), int32_t(d.height)};
    ++gl_->ffVersion;
    return kOk;
}

Result Device::GetRenderTarget(uint32_t index, Surface** surface) {
    if (index != 0 || !surface) return kInvalidCall;
    *surface = renderTarget_;
    if (!renderTarget_) return kNotFound;
    renderTarget_->AddRef();
    return kOk;
}

Result Device::SetDepthStencilSurface(Surface* surface) {
    if (surface && surface->kind_ != Surface::Kind::Renderbuffer) return kInvalidCall;
    if (surface != depthStencil_) FlushDepthClear();
    if (surface) surface->AddRef();
    if (depthStencil_) depthStencil_->Release();
    depthStencil_ = surface;
    gl_->shadow.valid = false;
    return kOk;
}

Result Device::GetDepthStencilSurface(Surface** surface) {
    if (!surface) return kInvalidCall;
    *surface = depthStencil_;
    if (!depthStencil_) return kNotFound;
    depthStencil_->AddRef();
    return kOk;
}

Result Device::Clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z, uint32_t stencil) {
    MakeCurrent();
    if (!renderTarget_) return kInvalidCall;
    if ((flags & (kClearZBuffer | kClearStencil)) && !depthStencil_) return kInvalidCall;
    ApplyFramebuffer();
    ApplyRenderStates();
    // Clears stay inside the viewport (and the scissor rectangle when on).
    int32_t x0 = ViewportInt(viewport_.x), y0 = ViewportInt(viewport_.y);
    int32_t x1 = ViewportInt(uint64_t(viewport_.x) + viewport_.width);
    int32_t y1 = ViewportInt(uint64_t(viewport_.y) + viewport_.height);
    if (renderStates_[rs::ScissorTestEnable]) {
        x0 = std::max(x0, scissor_.left);
        y0 = std::max(y0, scissor_.top);
        x1 = std::min(x1, scissor_.right);
        y1 = std::min(y1, scissor_.bottom);
    }
    const GLbitfield depthBits = ((flags & kClearZBuffer) ? GL_DEPTH_BUFFER_BIT : 0) |
                                 ((flags & kClearStencil) ? GL_STENCIL_BUFFER_BIT : 0);
    GLbitfield bits = ((flags & kClearTarget) ? GL_COLOR_BUFFER_BIT : 0) | depthBits;
    if (depthBits && !(count && rects)) {
        // The depth part waits for a draw that tests depth. A pending clear
        // this one does not cover is made first, so the order holds.
        PendingDepthClear& p = pendingDepth_;
        if (p.active && !((p.bits & ~depthBits) == 0 && x0 <= p.left && y0 <= p.top && x1 >= p.right &&
                          y1 >= p.bottom))
            FlushDepthClear();
        if (x1 > x0 && y1 > y0) p = {true, depthBits, z, stencil, x0, y0, x1, y1};
        bits &= ~depthBits;
        if (!bits) return kOk;
    } else if (depthBits) {
        FlushDepthClear();
    }
    float c[4];
    ColorToFloats(color, c);
    glClearColor(c[0], c[1], c[2], c[3]);
    glClearDepth(z);
    glClearStencil(GLint(stencil & 0xFF));
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glEnable(GL_SCISSOR_TEST);
    auto clearRect = [&](int32_t l, int32_t t, int32_t r, int32_t b) {
        l = std::max(l, x0), t = std::max(t, y0), r = std::min(r, x1), b = std::min(b, y1);
        if (r <= l || b <= t) return;
        glScissor(l, t, r - l, b - t);
        glClear(bits);
    };
    if (count && rects) {
        for (uint32_t i = 0; i < count; ++i) clearRect(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
    } else {
        clearRect(x0, y0, x1, y1);
    }
    gl_->shadow.valid = false;  // scissor, masks: set again at the next draw
    return kOk;
}

void Device::FlushDepthClear() {
    PendingDepthClear& p = pendingDepth_;
    if (!p.active) return;
    p.active = false;
    if (!renderTarget_ || !depthStencil_) return;
    MakeCurrent();
    ApplyFramebuffer();
    glClearDepth(p.z);
    glClearStencil(GLint(p.stencil & 0xFF));
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glEnable(GL_SCISSOR_TEST);
    glScissor(p.left, p.top, p.right - p.left, p.bottom - p.top);
    glClear(p.bits);
    gl_->shadow.valid = false;
}

namespace {

bool AttachForRead(GLenum which, GLuint fbo, Surface* s, const SurfaceDesc& d, GLuint texture, uint32_t face,
                   uint32_t level, bool cube) {
    (void)d;
    glBindFramebuffer(which, fbo);
    glFramebufferTexture2D(which, GL_COLOR_ATTACHMENT0, cube ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : GL_TEXTURE_2D,
                           texture, GLint(level));
    (void)s;
    return glCheckFramebufferStatus(which) == GL_FRAMEBUFFER_COMPLETE;
}

}  // namespace

Result Device::GetRenderTargetData(Surface* target, Surface* dest) {
    if (!target || !dest || target->kind_ != Surface::Kind::TextureLevel || !target->owner_ ||
        !(target->owner_->usage_ & kUsageRenderTarget) || dest->kind_ != Surface::Kind::Memory)
        return kInvalidCall;
    SurfaceDesc sd, dd;
    target->GetDesc(&sd);
    dest->GetDesc(&dd);
    if (sd.width != dd.width || sd.height != dd.height ||
        (dd.format != fmt::X8R8G8B8 && dd.format != fmt::A8R8G8B8))
        return kInvalidCall;
    MakeCurrent();
    BaseTexture* t = target->owner_;
    if (!AttachForRead(GL_READ_FRAMEBUFFER, gl_->readFbo, target, sd, t->glTexture_, target->face_, target->level_,
                       t->faces_ == 6))
        return kInvalidCall;
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, GLint(dest->pitch_ / 4));
    glReadPixels(0, 0, GLsizei(sd.width), GLsizei(sd.height), GL_BGRA, GL_UNSIGNED_BYTE, dest->memory_.data());
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, gl_->drawFbo);
    return kOk;
}

Result Device::GetFrontBufferData(uint32_t, Surface* dest) {
    if (!dest || dest->kind_ != Surface::Kind::Memory) return kInvalidCall;
    SurfaceDesc dd;
    dest->GetDesc(&dd);
    if (dd.width != gl_->frontW || dd.height != gl_->frontH ||
        (dd.format != fmt::X8R8G8B8 && dd.format != fmt::A8R8G8B8))
        return kInvalidCall;
    MakeCurrent();
    if (gl_->frontIsBack) {
        // Shown without a ramp pass: the back buffer is what was shown.
        glBindFramebuffer(GL_READ_FRAMEBUFFER, gl_->readFbo);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               gl_->backTexture->glTexture_, 0);
    } else {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, gl_->frontFbo);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, GLint(dest->pitch_ / 4));
    glReadPixels(0, 0, GLsizei(dd.width), GLsizei(dd.height), GL_BGRA, GL_UNSIGNED_BYTE, dest->memory_.data());
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, gl_->drawFbo);
    return kOk;
}

Result Device::StretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                           uint32_t filter) {
    if (!source || !dest || dest->kind_ != Surface::Kind::TextureLevel || !dest->owner_ ||
        !(dest->owner_->usage_ & kUsageRenderTarget))
        return kInvalidCall;
    SurfaceDesc sd, dd;
    source->GetDesc(&sd);
    dest->GetDesc(&dd);
    Rect sr = sourceRect ? *sourceRect : Rect{0, 0, int32_t(sd.width), int32_t(sd.height)};
    Rect dr = destRect ? *destRect : Rect{0, 0, int32_t(dd.width), int32_t(dd.height)};
    auto inside = [](const Rect& r, const SurfaceDesc& d) {
        return r.left >= 0 && r.top >= 0 && r.right <= int32_t(d.width) && r.bottom <= int32_t(d.height) &&
               r.left < r.right && r.top < r.bottom;
    };
    if (!inside(sr, sd) || !inside(dr, dd)) return kInvalidCall;
    MakeCurrent();
    Gl& g = *gl_;
    GLuint srcTexture = 0;
    uint32_t srcFace = 0, srcLevel = 0;
    bool srcCube = false;
    if (source->kind_ == Surface::Kind::Memory) {
        // Convert the memory image and put it where GL can read it.
        const uint32_t w = sd.width, h = sd.height;
        std::vector<uint8_t> bgra(size_t(w) * h * 4);
        if (sd.format == fmt::YUY2) {
            ConvertYuy2ToBgra(source->memory_.data(), source->pitch_, w, h, bgra.data());
        } else if (sd.format == fmt::R5G6B5) {
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* p = &source->memory_[size_t(y) * source->pitch_ + x * 2];
                    uint16_t v = uint16_t(p[0] | p[1] << 8);
                    uint8_t* d = &bgra[(size_t(y) * w + x) * 4];
                    d[0] = uint8_t((v & 31) << 3), d[1] = uint8_t(((v >> 5) & 63) << 2),
                    d[2] = uint8_t((v >> 11) << 3), d[3] = 255;
                }
        } else {
            for (uint32_t y = 0; y < h; ++y)
                std::memcpy(&bgra[size_t(y) * w * 4], &source->memory_[size_t(y) * source->pitch_], w * 4);
        }
        glActiveTexture(GL_TEXTURE0 + kUploadUnit);
        glBindTexture(GL_TEXTURE_2D, g.stretchTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(w), GLsizei(h), 0, GL_BGRA, GL_UNSIGNED_BYTE, bgra.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        srcTexture = g.stretchTexture;
    } else if (source->kind_ == Surface::Kind::TextureLevel && source->owner_) {
        source->owner_->EnsureUploaded();
        srcTexture = source->owner_->glTexture_;
        srcFace = source->face_;
        srcLevel = source->level_;
        srcCube = source->owner_->faces_ == 6;
    } else {
        return kInvalidCall;
    }
    BaseTexture* dt = dest->owner_;
    if (!AttachForRead(GL_READ_FRAMEBUFFER, g.readFbo, source, sd, srcTexture, srcFace, srcLevel, srcCube) ||
        !AttachForRead(GL_DRAW_FRAMEBUFFER, g.blitFbo, dest, dd, dt->glTexture_, dest->face_, dest->level_,
                       dt->faces_ == 6))
        return kInvalidCall;
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBlitFramebuffer(sr.left, sr.top, sr.right, sr.bottom, dr.left, dr.top, dr.right, dr.bottom,
                      GL_COLOR_BUFFER_BIT, filter >= tf::Linear ? GL_LINEAR : GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, g.drawFbo);
    g.shadow.valid = false;
    return kOk;
}

// ---------------------------------------------------------------- shaders

Result Device::CreateVertexShader(const hlsl::ShaderCode* code, VertexShader** shader) {
    if (!code || !shader || code->stage != hlsl::Stage::Vertex) return kInvalidCall;
    *shader = nullptr;
    // Check that the stage compiles on its own, with every output copied.
    MakeCurrent();
    std::string text = code->glsl;
    size_t eol = text.find('\n');
    std::string decls = std::string("uniform vec2 ") + hlsl::kPixelScaleUniform + ";\n";
    std::string tail = "    gl_Position = " + hlsl::StageVarName("POSITION") + " + vec4(" +
                       hlsl::kPixelScaleUniform + ", 0.0, 0.0);\n";
    std::string log;
    GLuint s = CompileStage(GL_VERTEX_SHADER, text.substr(0, eol + 1) + decls + text.substr(eol + 1) + tail + "}\n",
                            &log);
    if (!s) {
        lastError_ = "vertex shader: " + log;
        return kInvalidCall;
    }
    glDeleteShader(s);
    *shader = new VertexShader(this, code, nextShaderId_++);
    return kOk;
}

Result Device::CreatePixelShader(const hlsl::ShaderCode* code, PixelShader** shader) {
    if (!code || !shader || code->stage != hlsl::Stage::Pixel) return kInvalidCall;
    *shader = nullptr;
    MakeCurrent();
    std::string log;
    GLuint s = CompileStage(GL_FRAGMENT_SHADER, code->glsl, &log);
    if (!s) {
        lastError_ = "pixel shader: " + log;
        return kInvalidCall;
    }
    glDeleteShader(s);
    *shader = new PixelShader(this, code, nextShaderId_++);
    return kOk;
}

Result Device::SetVertexShader(VertexShader* shader) {
    if (shader) shader->AddRef();
    if (vertexShader_) vertexShader_->Release();
    vertexShader_ = shader;
    return kOk;
}

Result Device::SetPixelShader(PixelShader* shader) {
    if (shader) shader->AddRef();
    if (pixelShader_) pixelShader_->Release();
    pixelShader_ = shader;
    return kOk;
}

}  // namespace plat::gpu
