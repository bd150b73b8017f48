#include "platform/gpu/direct3d.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/gpu/driver_modules.h"
#include "platform/gpu/gl_api.h"

namespace plat::gpu {

namespace {

TestOverride g_override;

// What the GL driver says about itself, read once.
struct GlStrings {
    bool read = false;
    std::string vendor, renderer, version;
};
GlStrings g_glStrings;

void ReadGlStrings() {
    if (g_glStrings.read) return;
    auto take = [] {
        auto str = [](GLenum e) {
            const char* s = reinterpret_cast<const char*>(glGetString(e));
            return std::string(s ? s : "");
        };
        g_glStrings.vendor = str(GL_VENDOR);
        g_glStrings.renderer = str(GL_RENDERER);
        g_glStrings.version = str(GL_VERSION);
        g_glStrings.read = true;
    };
    if (SDL_GL_GetCurrentContext()) {
        take();
        return;
    }
    // Asked before any device exists: a hidden window and context of our own.
    SetGLWindowAttributes();
    SDL_Window* w = SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!w) return;
    SDL_GLContext c = SDL_GL_CreateContext(w);
    KeepGLDriverModulesLoaded();
    if (c) {
        take();
        SDL_GL_MakeCurrent(w, nullptr);
        SDL_GL_DeleteContext(c);
    }
    SDL_DestroyWindow(w);
}

bool IsBackBufferFormat(uint32_t f) { return f == fmt::X8R8G8B8 || f == fmt::R5G6B5 || f == fmt::A8R8G8B8; }

void CopyText(char* dst, size_t size, const std::string& s) { std::snprintf(dst, size, "%s", s.c_str()); }

}  // namespace

const uint8_t kRenderStateNumbers[103] = {
    7,   8,   9,   14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  27,  28,  29,  34,  35,  36,  37,  38,
    48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 139,
    140, 141, 142, 143, 145, 146, 147, 148, 151, 152, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 165,
    166, 167, 168, 170, 171, 172, 173, 174, 175, 176, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 188,
    189, 190, 191, 192, 193, 194, 195, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209};

uint32_t FvfSize(uint32_t f) {
    uint32_t size = 0;
    switch (f & fvf::PositionMask) {
        case fvf::XYZ: size = 12; break;
        case fvf::XYZRHW: size = 16; break;
        default: return 0;
    }
    if (f & fvf::Normal) size += 12;
    if (f & fvf::Diffuse) size += 4;
    if (f & fvf::Specular) size += 4;
    size += 8 * ((f & fvf::TexCountMask) >> fvf::TexCountShift);
    return size;
}

void SetGLWindowAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

void SetTestOverride(const TestOverride& o) { g_override = o; }
void ClearTestOverride() { g_override = TestOverride(); }
const TestOverride& GetTestOverride() { return g_override; }

Direct3D* Direct3D::Create(uint32_t sdkVersion) {
    if (sdkVersion != kSdkVersion) return nullptr;
    // The video system stays up for the rest of the process once started:
    // taking it down unloads the GL driver, which some drivers do not
    // survive being loaded again.
    static bool videoUp = false;
    if (!videoUp) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
        // One load of the GL library that is never undone, so destroying the
        // last GL window does not unload it.
        SDL_GL_LoadLibrary(nullptr);
        videoUp = true;
    }
    return new Direct3D();
}

Direct3D::~Direct3D() = default;

Result Direct3D::GetAdapterIdentifier(uint32_t adapter, uint32_t, AdapterIdentifier* id) {
    if (adapter != 0 || !id) return kInvalidCall;
    *id = AdapterIdentifier();
    ReadGlStrings();
    const char* video = SDL_GetCurrentVideoDriver();
    CopyText(id->driver, sizeof id->driver, "OpenGL " + g_glStrings.version);
    CopyText(id->description, sizeof id->description,
             g_glStrings.renderer + (g_glStrings.vendor.empty() ? "" : " (" + g_glStrings.vendor + ")"));
    const char* display = SDL_GetDisplayName(0);
    CopyText(id->deviceName, sizeof id->deviceName,
             std::string(video ? video : "none") + ":" + (display ? display : "0"));
    return kOk;
}

void Direct3D::ListModes() {
    if (modesListed_) return;
    modesListed_ = true;
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) != 0 || m.w <= 0 || m.h <= 0) continue;
        uint32_t bits = SDL_BITSPERPIXEL(m.format);
        Mode mode{uint32_t(m.w), uint32_t(m.h), uint32_t(m.refresh_rate > 0 ? m.refresh_rate : 60),
                  bits <= 16 ? 16u : 32u};
        bool dup = std::any_of(modes_.begin(), modes_.end(), [&](const Mode& o) {
            return o.w == mode.w && o.h == mode.h && o.hz == mode.hz && o.bits == mode.bits;
        });
        if (!dup) modes_.push_back(mode);
    }
    if (modes_.empty()) {
        // The driver offers no modes (headless): a fixed list of common sizes.
        static const uint32_t sizes[][2] = {{640, 480},  {800, 600},  {1024, 768}, {1280, 720},
                                            {1280, 1024}, {1600, 900}, {1920, 1080}};
        for (auto& s : sizes) modes_.push_back({s[0], s[1], 60, 32});
    }
}

uint32_t Direct3D::GetAdapterModeCount(uint32_t adapter, uint32_t format) {
    if (adapter != 0) return 0;
    ListModes();
    uint32_t bits = format == fmt::R5G6B5 ? 16 : format == fmt::X8R8G8B8 ? 32 : 0;
    return uint32_t(std::count_if(modes_.begin(), modes_.end(), [&](const Mode& m) { return m.bits == bits; }));
}

Result Direct3D::EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t index, DisplayMode* mode) {
    if (adapter != 0 || !mode) return kInvalidCall;
    ListModes();
    uint32_t bits = format == fmt::R5G6B5 ? 16 : format == fmt::X8R8G8B8 ? 32 : 0;
    for (const Mode& m : modes_) {
        if (m.bits != bits) continue;
        if (index-- == 0) {
            *mode = {m.w, m.h, m.hz, format};
            return kOk;
        }
    }
    return kInvalidCall;
}

Result Direct3D::GetAdapterDisplayMode(uint32_t adapter, DisplayMode* mode) {
    if (adapter != 0 || !mode) return kInvalidCall;
    SDL_DisplayMode m;
    if (SDL_GetDesktopDisplayMode(0, &m) == 0 && m.w > 0) {
        *mode = {uint32_t(m.w), uint32_t(m.h), uint32_t(m.refresh_rate), fmt::X8R8G8B8};
    } else {
        *mode = {1024, 768, 60, fmt::X8R8G8B8};
    }
    return kOk;
}

Result Direct3D::CheckDeviceType(uint32_t adapter, DeviceType type, uint32_t displayFormat,
                                 uint32_t backBufferFormat, bool) {
    if (adapter != 0 || type != DeviceType::Hal) return kNotAvailable;
    if (!IsBackBufferFormat(displayFormat) || !IsBackBufferFormat(backBufferFormat)) return kNotAvailable;
    if (g_override.noX8R8G8B8BackBuffer && (displayFormat == fmt::X8R8G8B8 || backBufferFormat == fmt::X8R8G8B8))
        return kNotAvailable;
    return kOk;
}

Result Direct3D::CheckDeviceFormat(uint32_t adapter, DeviceType type, uint32_t adapterFormat, uint32_t usage,
                                   ResourceType resource, uint32_t format) {
    if (adapter != 0 || type != DeviceType::Hal || !IsBackBufferFormat(adapterFormat)) return kNotAvailable;
    if (usage & kUsageDepthStencil) {
        if (resource != ResourceType::Surface && resource != ResourceType::Texture) return kNotAvailable;
        return (format == fmt::D24S8 || format == fmt::D24X8 || format == fmt::D16) ? kOk : kNotAvailable;
    }
    switch (format) {
        case fmt::A8R8G8B8:
        case fmt::X8R8G8B8:
        case fmt::R5G6B5:
        case fmt::A1R5G5B5:
        case fmt::X1R5G5B5:
        case fmt::A4R4G4B4:
        case fmt::L8: return kOk;
        case fmt::DXT1:
        case fmt::DXT2:
        case fmt::DXT3:
        case fmt::DXT4:
        case fmt::DXT5:
            if (usage & kUsageRenderTarget) return kNotAvailable;
            return g_override.noDxt ? kNotAvailable : kOk;
        case fmt::YUY2:
            if (usage & kUsageRenderTarget) return kNotAvailable;
            return g_override.noYuy2Texture ? kNotAvailable : kOk;
        default: return kNotAvailable;
    }
}

Result Direct3D::CheckDeviceFormatConversion(uint32_t adapter, DeviceType type, uint32_t sourceFormat,
                                             uint32_t targetFormat) {
    if (adapter != 0 || type != DeviceType::Hal) return kNotAvailable;
    if (targetFormat != fmt::X8R8G8B8 && targetFormat != fmt::A8R8G8B8) return kNotAvailable;
    if (sourceFormat == fmt::YUY2) return g_override.noYuy2Conversion ? kNotAvailable : kOk;
    return (sourceFormat == fmt::X8R8G8B8 || sourceFormat == fmt::A8R8G8B8) ? kOk : kNotAvailable;
}

Result Direct3D::CheckDepthStencilMatch(uint32_t adapter, DeviceType type, uint32_t adapterFormat,
                                        uint32_t renderTargetFormat, uint32_t depthFormat) {
    if (adapter != 0 || type != DeviceType::Hal) return kNotAvailable;
    if (!IsBackBufferFormat(adapterFormat) || !IsBackBufferFormat(renderTargetFormat)) return kNotAvailable;
    return (depthFormat == fmt::D24S8 || depthFormat == fmt::D24X8 || depthFormat == fmt::D16) ? kOk
                                                                                              : kNotAvailable;
}

Result Direct3D::CheckDeviceMultiSampleType(uint32_t, DeviceType, uint32_t, bool, uint32_t samples,
                                            uint32_t* qualityLevels) {
    // Render targets share the back buffer's depth surface, which a
    // multisampled back buffer could not do: none is offered.
    if (qualityLevels) *qualityLevels = samples <= 1 ? 1 : 0;
    return samples <= 1 ? kOk : kNotAvailable;
}

Result Direct3D::GetDeviceCaps(uint32_t adapter, DeviceType type, Caps* caps) {
    if (adapter != 0 || type != DeviceType::Hal || !caps) return kInvalidCall;
    *caps = Caps();
    caps->deviceType = DeviceType::Hal;
    caps->presentationIntervals =
        kPresentIntervalImmediate | (g_override.noPresentIntervalOne ? 0 : kPresentIntervalOne);
    caps->devCaps = g_override.noHardwareTransform ? 0 : kDevCapsHwTransformAndLight;
    caps->textureCaps = (g_override.powerOfTwoOnly ? kTexCapsPow2 : 0) |
                        (g_override.nonPowerOfTwoConditional ? kTexCapsNonPow2Conditional : 0);
    caps->maxTextureWidth = caps->maxTextureHeight = 8192;
    caps->maxActiveLights = 1;
    caps->maxSimultaneousTextures = kMaxStages;
    caps->maxStreams = 1;
    caps->vertexShaderVersion = g_override.vertexShaderVersion ? g_override.vertexShaderVersion
                                                               : VertexShaderVersion(3, 0);
    caps->pixelShaderVersion = g_override.pixelShaderVersion ? g_override.pixelShaderVersion
                                                             : PixelShaderVersion(3, 0);
    return kOk;
}

Result Direct3D::CreateDevice(uint32_t adapter, DeviceType type, void* focusWindow, uint32_t,
                              PresentParameters* params, Device** device) {
    lastError_.clear();
    if (!device || !params || adapter != 0 || type != DeviceType::Hal) return kInvalidCall;
    *device = nullptr;
    PresentParameters p = *params;
    if (!p.deviceWindow) p.deviceWindow = focusWindow;
    auto* d = new Device(this, p);
    Result r = d->Init(&lastError_);
    if (Failed(r)) {
        d->Release();
        return r;
    }
    *params = d->params_;
    *device = d;
    return kOk;
}

}  // namespace plat::gpu
